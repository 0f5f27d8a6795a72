#pragma once
// The I/O result a program sees (CRT sub-function 6) for the machine's I/O
// error number (Interpretador::ioErrorNumber, an errno value set by the file
// instructions).

namespace lousa {

// The I/O error number for a path whose directory does not exist (I/O
// result 3), told apart from a missing file by the file-name resolution.
// Negative: errno values are positive and never collide with it.
inline constexpr int kPathNotFound = -3;

// 0 when there was no error; 2 for a file that does not exist; 3 for a
// path whose directory does not exist;
// 4 for too many open files; 5 for access denied (permissions, a read-only
// file system, a directory where a file was expected); any other failure
// reports its own error number. A failure never maps to 0.
int ioResult(int ioErrorNumber);

}  // namespace lousa
