#include "files/real_token.hpp"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace lousa {

namespace {

// Far beyond any exponent that leaves a finite, non-zero double, and far
// from overflowing when the point's position is added.
constexpr std::int64_t kExponentCap = std::int64_t{1} << 40;

}  // namespace

void RealToken::addDigit(char digit) {
    const bool zero = digit == '0';
    if (digits_.empty() && zero) {
        if (afterPoint_) --point_;  // 0.000ddd: the point moves left of the first digit
        return;
    }
    if (!afterPoint_) ++point_;
    if (digits_.size() < kKeptDigits)
        digits_.push_back(digit);
    else if (!zero)
        sticky_ = true;
}

void RealToken::addExponentDigit(char digit) {
    if (exponent_ < kExponentCap) exponent_ = exponent_ * 10 + (digit - '0');
}

std::string RealToken::text() const {
    std::string text = negative_ ? "-" : "";
    if (digits_.empty()) return text + "0";
    const std::int64_t exponent = exponentNegative_ ? -exponent_ : exponent_;
    // Each hexadecimal digit is four binary places.
    const std::int64_t scaled = hexadecimal_ ? point_ * 4 + exponent : point_ + exponent;
    text += hexadecimal_ ? "0x0." : "0.";
    text += digits_;
    if (sticky_) text += '1';
    text += hexadecimal_ ? 'p' : 'e';
    text += std::to_string(scaled);
    return text;
}

double RealToken::value() const {
    // In the "C" locale, whatever the process's locale says about points.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(text().c_str(), nullptr, cLocale);
}

}  // namespace lousa
