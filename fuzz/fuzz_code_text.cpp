// Fuzz target: arbitrary text through the code-text loader, checked against
// a plain reference reading of the token rules (a token runs through the
// next space; its value is the C library's base-10 reading of its leading
// part, clamped to 32 bits).

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "loader/arquivo_compilado.hpp"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

lousa::Word referenceValue(std::string_view token) {
    // strtoll stops at a NUL; a token's digits never include one anyway.
    const std::string text(token.substr(0, token.find('\0')));
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<lousa::Word>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

std::vector<lousa::Word> referenceParse(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t space = text.find(' ', at);
        const std::size_t end = space == std::string_view::npos ? text.size() : space + 1;
        tokens.push_back(text.substr(at, end - at));
        at = end;
    }
    std::vector<lousa::Word> code;
    if (tokens.empty()) return code;
    const lousa::Word count = referenceValue(tokens[0]);
    for (std::size_t i = 2; i < tokens.size() && static_cast<long long>(code.size()) < count; ++i)
        code.push_back(referenceValue(tokens[i]));
    return code;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<lousa::Word> code = lousa::parseCodeText(text);
    check(code == referenceParse(text));
    // In pieces, as the loader hands the text on: the first byte sets the
    // pieces' length.
    const std::size_t piece = size == 0 ? 1 : data[0] % 17 + 1;
    lousa::CodeTextParser parser;
    parser.begin(size);
    for (std::size_t at = 0; at < size; at += piece) parser.take(text.substr(at, piece));
    check(parser.finish() == code);
    return 0;
}
