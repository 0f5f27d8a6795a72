#pragma once
// What a program is made of, for 'lousa info': its recorded name, sizes,
// instructions by family, and whether it touches the keyboard, the screen
// or files, so that a teacher knows what a submission does before running it.

#include <array>
#include <cstddef>
#include <set>
#include <string>
#include <string_view>

#include "tools/program_files.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::tool {

struct ProgramSummary {
    InputKind kind = InputKind::Listing;
    std::string sourceName;  // packed only
    std::size_t codeWords = 0;
    std::size_t codeTextBytes = 0;
    std::size_t compressedBytes = 0;  // the stream in the file, or what pack would write
    bool streamCutShort = false;
    std::size_t instructions = 0;
    std::size_t dataWords = 0;  // words that decode to no instruction
    std::array<std::size_t, kOpcodeFamilyCount> byFamily{};
    std::set<std::string_view> keyboard, screen, files;  // the mnemonics that use each
};

// Which of keyboard, screen and files an instruction uses, if any.
enum class Device { None, Keyboard, Screen, Files };
Device deviceOf(const OpcodeInfo& info);

ProgramSummary summarize(const ProgramInput& program);

// The summary as 'lousa info' prints it: one "field: value" per line.
std::string formatSummary(const ProgramSummary& summary, const std::string& path);

}  // namespace lousa::tool
