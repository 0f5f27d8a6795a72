#pragma once
// A process started with standard input, output or error closed would hand
// those numbers to the first files it opens, and console output would then
// land in the program's data files (or console reads read them). Both the
// runner and the tool call this first, before anything else is opened.

namespace lousa {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed (the
// root directory, which reads nothing and refuses writes, where /dev/null
// cannot be opened). Returns how many were closed.
int openClosedStandardDescriptors() noexcept;

}  // namespace lousa
