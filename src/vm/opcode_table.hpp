#pragma once
// Compile-time view of opcodes.def: the enum of opcodes and a lookup table
// from opcode number to mnemonic and operand shape.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lousa {

enum class Opcode : std::int32_t {
#define OP(num, name, operands, handler) name = num,
#include "vm/opcodes.def"
#undef OP
};

inline constexpr int kOpcodeLimit = 147;  // valid numbers are 0..146

// The families of instructions, in the order they are presented.
enum class OpcodeFamily : std::uint8_t {
    Arithmetic,
    Comparisons,
    Control,
    Data,
    Strings,
    Sets,
    ConsoleOutput,
    ConsoleInput,
    TextFiles,
    TypedFiles,
    FileState,
    KeyboardScreen,
    ConsoleControl,
};
inline constexpr std::size_t kOpcodeFamilyCount = 13;

inline constexpr std::string_view familyName(OpcodeFamily family) {
    constexpr std::array<std::string_view, kOpcodeFamilyCount> names = {
        "arithmetic", "comparisons", "control", "data", "strings", "sets", "console output", "console input",
        "text files", "typed files", "file state", "keyboard and screen", "console control"};
    return names[static_cast<std::size_t>(family)];
}

struct OpcodeInfo {
    std::int32_t number = -1;
    std::string_view mnemonic;  // empty for unassigned numbers
    std::string_view operands;  // one letter per inline operand (see opcodes.def)
    OpcodeFamily family = OpcodeFamily::Arithmetic;

    [[nodiscard]] constexpr bool assigned() const { return !mnemonic.empty(); }
    // True when the operand count comes from the code itself (PUSH_N, SCOPE_ENTER).
    [[nodiscard]] constexpr bool variableLength() const {
        return operands == "*" || operands == "$";
    }
};

inline constexpr std::array<OpcodeInfo, kOpcodeLimit> kOpcodeTable = [] {
    std::array<OpcodeInfo, kOpcodeLimit> table{};
    for (int i = 0; i < kOpcodeLimit; ++i) table[static_cast<std::size_t>(i)].number = i;
#define OP(num, name, operands, handler) table[num] = OpcodeInfo{num, #name, operands,
#define OP_FAMILY(family) OpcodeFamily::family};
#include "vm/opcodes.def"
#undef OP_FAMILY
#undef OP
    return table;
}();

inline constexpr int kAssignedOpcodeCount = [] {
    int n = 0;
    for (const auto& info : kOpcodeTable) n += info.assigned() ? 1 : 0;
    return n;
}();
static_assert(kAssignedOpcodeCount == 136);

// Information about an opcode word, or nullptr when it has no handler.
inline constexpr const OpcodeInfo* opcodeInfo(std::int32_t word) {
    const auto index = static_cast<std::uint32_t>(word);
    if (index >= static_cast<std::uint32_t>(kOpcodeLimit)) return nullptr;
    const OpcodeInfo& info = kOpcodeTable[index];
    return info.assigned() ? &info : nullptr;
}

inline std::optional<std::int32_t> opcodeByMnemonic(std::string_view mnemonic) {
    for (const auto& info : kOpcodeTable)
        if (info.assigned() && info.mnemonic == mnemonic) return info.number;
    return std::nullopt;
}

}  // namespace lousa
