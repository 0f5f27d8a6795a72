#include "console/value_text.hpp"

#include <array>
#include <charconv>
#include <cstdint>

namespace lousa {

namespace {

// Every digit of a double's exact decimal expansion lies within this many
// places after the point (the smallest subnormal needs 1074); later places
// are zeros, so they are appended instead of computed.
constexpr int kExactDecimals = 1100;

// The fixed-point text of value with the given decimals, as "%.*f" gives it.
// std::to_chars is exact and, unlike printf, ignores the locale.
std::string fixedText(double value, Word decimals) {
    const int computed = decimals < kExactDecimals ? static_cast<int>(decimals) : kExactDecimals;
    // sign, up to 309 integer digits, point, decimals
    std::array<char, 1 + 309 + 1 + kExactDecimals + 8> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, computed);
    std::string text(buffer.data(), result.ptr);
    // inf and nan carry no decimals; finite values get the exact trailing zeros
    const bool finite = value - value == 0.0;
    if (finite && decimals > computed) text.append(static_cast<std::size_t>(decimals - computed), '0');
    return text;
}

Word clampedDecimals(Word decimals) {
    if (decimals < 0) return 6;
    return decimals > kMaxDecimals ? kMaxDecimals : decimals;
}

}  // namespace

std::string integerText(Word value) {
    std::array<char, 16> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return {buffer.data(), result.ptr};
}

std::string characterText(Word value) { return std::string(1, static_cast<char>(value & 0xFF)); }

std::string booleanText(Word value) { return value != 0 ? "TRUE" : "FALSE"; }

std::string realText(double value) { return fixedText(value, 6); }

std::string pointerText(Word value) {
    if (value == 0) return "nil";
    std::array<char, 16> buffer{};
    buffer[0] = '$';
    const auto result = std::to_chars(buffer.data() + 1, buffer.data() + buffer.size(), static_cast<UWord>(value), 16);
    return {buffer.data(), result.ptr};
}

std::string setText(std::span<const Word> pairs) {
    std::string text = "[ ";
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        if (i > 0) text += ", ";
        text += integerText(pairs[i]);
        if (pairs[i] != pairs[i + 1]) text += ".." + integerText(pairs[i + 1]);
    }
    text += " ]";
    return text;
}

std::string fieldText(std::string_view text, Word width) {
    const std::string_view shown = text.substr(0, text.find('\0'));
    // magnitude in 64 bits: -2147483648 has no 32-bit negation
    std::int64_t columns = width < 0 ? -std::int64_t{width} : std::int64_t{width};
    if (columns > kMaxFieldWidth) columns = kMaxFieldWidth;
    if (static_cast<std::size_t>(columns) <= shown.size()) return std::string(shown);
    const std::size_t blanks = static_cast<std::size_t>(columns) - shown.size();
    if (width < 0) return std::string(shown) + std::string(blanks, ' ');
    return std::string(blanks, ' ') + std::string(shown);
}

std::string integerField(Word value, Word width) { return fieldText(integerText(value), width); }

std::string characterField(Word value, Word width) {
    // "%*c" pads around the byte even when it is 0, so the 0 cannot go through
    // fieldText's C-string rule.
    std::string text = fieldText("x", width);
    const std::size_t at = width < 0 ? 0 : text.size() - 1;
    text[at] = static_cast<char>(value & 0xFF);
    return text;
}

std::string realField(double value, Word width) { return fieldText(realText(value), width); }

std::string realField(double value, Word width, Word decimals) {
    return fieldText(fixedText(value, clampedDecimals(decimals)), width);
}

}  // namespace lousa
