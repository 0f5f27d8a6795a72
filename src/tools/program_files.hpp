#pragma once
// What the tool's commands read and write: listings, code texts and packed
// executables in, files written whole or not at all.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vm/word.hpp"

namespace lousa::tool {

// A failure the tool reports as one line and exit status 1.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A listing that did not assemble: one "file:line: reason" line per error.
class AssemblyFailed : public std::runtime_error {
public:
    explicit AssemblyFailed(std::vector<std::string> lines)
        : std::runtime_error("assembly failed"), lines(std::move(lines)) {}
    std::vector<std::string> lines;
};

enum class InputKind { Listing, CodeText, Packed };

struct ProgramInput {
    InputKind kind = InputKind::Listing;
    std::string codeText;  // the code text as the runner would see it
    std::vector<Word> code;
    bool streamCutShort = false;  // packed: the stream ended inside a token
    std::string sourceName;       // packed: the name recorded in the payload
    std::size_t streamBytes = 0;  // packed: the size of the compressed stream
};

// The most the tool reads of any input file: far above any classroom
// program, far below what would exhaust memory (a device such as /dev/zero
// never ends).
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;
inline constexpr const char* kMaxInputText = "64 MiB";

// Reads a whole file; ToolError when it cannot be read or is larger than
// kMaxInputBytes.
std::string readFile(const std::string& path);

// True when both names lead to one existing file (same device and inode),
// however they are spelled: "a.lst", "./a.lst", "$PWD/a.lst", a link.
bool sameFile(const std::string& a, const std::string& b);

// Text safe to show on a terminal: control bytes (C0, DEL, the C1 controls
// of UTF-8) and bytes that are not UTF-8 are written as \xHH, so that a
// file's bytes echoed in a message can never drive the terminal.
std::string printable(std::string_view text);

// Throws ToolError (one line) when the content is plainly not a listing:
// NUL bytes or control bytes that no text file holds.
void refuseBinaryListing(std::string_view content, const std::string& path);

// Decides what a file holds: a packed executable (it has the payload
// marker), a code text (its first token is an integer), or a listing.
InputKind classify(std::string_view content);

// Reads and decodes a program in any of the three forms. Throws ToolError
// (unreadable, binary without payload) or AssemblyFailed.
ProgramInput loadProgram(const std::string& path);

// Assembles a listing, throwing AssemblyFailed with lines naming `path`.
std::vector<Word> assembleOrThrow(std::string_view listing, const std::string& path);

// Writes bytes to path through a temporary file in the same directory and
// a rename, so that a failure leaves nothing behind and never a partial
// file; "-" writes to standard output. mode is applied exactly.
void writeFileAtomically(const std::string& path, std::string_view bytes, unsigned mode);

// The usual permissions of a new data file (0666 without the umask).
unsigned defaultFileMode();

bool isDirectory(const std::string& path);
// The name ends in .exe, in any letter case: a classroom executable.
bool hasExeExtension(const std::string& path);

// The files a batch works on: each FILE as given, and for a directory the
// .exe files in it (any letter case), sorted by name.
std::vector<std::string> packInputs(const std::vector<std::string>& files);

// path without its last extension ("dir/prog.lst" -> "dir/prog"), or path
// itself when the base name has none.
std::string withoutExtension(const std::string& path);
std::string baseName(const std::string& path);

}  // namespace lousa::tool
