#pragma once
// The text of a real number as the scanning reads take it in, character by
// character, kept in bounded memory however long it is.
//
// A decimal or hexadecimal mantissa keeps its first kKeptDigits significant
// digits; further digits only move the point (in the integer part) or, when
// one of them is not zero, leave a marker digit after the kept ones. That
// marker decides the rounding exactly as the whole tail would: a double
// lies halfway between two neighbours only at a value with at most 767
// significant decimal digits, far fewer than are kept. Leading zeros only
// move the point, and the exponent saturates far beyond any finite double.
// The value is then C's correctly rounded conversion of the shortened text,
// the same for the console and for files.

#include <cstddef>
#include <cstdint>
#include <string>

namespace lousa {

class RealToken {
public:
    static constexpr std::size_t kKeptDigits = 4096;

    explicit RealToken(bool hexadecimal = false) : hexadecimal_(hexadecimal) {}

    void setNegative(bool negative) { negative_ = negative; }
    // A mantissa digit ('0'-'9', and 'a'-'f' or 'A'-'F' for a hexadecimal one).
    void addDigit(char digit);
    // The point between the integer and the fraction digits.
    void addPoint() { afterPoint_ = true; }
    // The exponent (decimal for a decimal mantissa, binary after "p").
    void setExponentNegative(bool negative) { exponentNegative_ = negative; }
    void addExponentDigit(char digit);

    // The number, converted as C's strtod converts the full text.
    [[nodiscard]] double value() const;
    // The shortened text given to the conversion (for tests of its bound).
    [[nodiscard]] std::string text() const;

private:
    std::string digits_;        // significant digits, the first not zero
    bool negative_ = false;
    bool hexadecimal_;
    bool afterPoint_ = false;
    bool sticky_ = false;       // a digit beyond the kept ones was not zero
    std::int64_t point_ = 0;    // where the point is, in digits from the first significant one
    bool exponentNegative_ = false;
    std::int64_t exponent_ = 0;
};

}  // namespace lousa
