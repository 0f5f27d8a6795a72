#pragma once
// The listing format: one instruction per line, labels, comments and a few
// conveniences (PUSH_STR, PUSH_REAL with a real, SCOPE_ENTER with a name,
// .word), turned into code words through the opcode table.

#include <string>
#include <string_view>
#include <vector>

#include "vm/word.hpp"

namespace lousa::tool {

struct AsmError {
    std::size_t line = 0;  // 1-based line of the listing
    std::string message;
};

struct AsmResult {
    std::vector<Word> code;
    std::vector<AsmError> errors;  // empty when the listing assembled
    [[nodiscard]] bool ok() const { return errors.empty(); }
};

AsmResult assemble(std::string_view listing);

// Listing escapes for one byte of a string or character literal: the byte
// as UTF-8 (code page 850 above 0x7F), or \n \r \t \\ \" \' \xHH.
std::string listingCharText(std::uint8_t byte, char quote);
// A double-quoted literal that assembles back to exactly these bytes.
std::string listingStringLiteral(std::string_view bytes);

}  // namespace lousa::tool
