#pragma once
// Code words back to a listing that assembles to the same words, whatever
// they are: words that decode to no whole instruction become .word lines.

#include <string>
#include <string_view>
#include <vector>

#include "vm/opcode_table.hpp"
#include "vm/word.hpp"

namespace lousa::tool {

// One instruction of a code, or one word that decodes to none.
struct CodeItem {
    std::size_t address = 0;
    std::size_t length = 1;
    const OpcodeInfo* info = nullptr;  // null: .word data
    std::string note;                  // why a word is data, when it looks like an opcode
};

// The code cut into instructions from word 0 on, as the disassembler shows it.
std::vector<CodeItem> decodeCode(const std::vector<Word>& code);

std::string disassemble(const std::vector<Word>& code, std::string_view sourceName);

}  // namespace lousa::tool
