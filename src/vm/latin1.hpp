#pragma once
// The runner's own messages are written as Latin-1 bytes, while the sources
// are UTF-8: every Portuguese text goes through latin1() before it is output.

#include <string>
#include <string_view>

namespace lousa {

// Converts UTF-8 text to Latin-1; code points above U+00FF become '?'.
std::string latin1(std::string_view utf8);
// Converts Latin-1 bytes to UTF-8.
std::string utf8FromLatin1(std::string_view bytes);

}  // namespace lousa
