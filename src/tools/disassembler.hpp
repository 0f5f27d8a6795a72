#pragma once
// Code words back to a listing that assembles to the same words, whatever
// they are: words that decode to no whole instruction become .word lines.

#include <string>
#include <string_view>
#include <vector>

#include "vm/word.hpp"

namespace lousa::tool {

std::string disassemble(const std::vector<Word>& code, std::string_view sourceName);

}  // namespace lousa::tool
