#include "files/real6.hpp"

#include <bit>

namespace lousa {

namespace {

// A double's biased exponent is the 6-byte exponent byte plus this.
constexpr std::uint64_t kExponentShift = 1023 - 129;
constexpr std::uint64_t kFractionMask = (std::uint64_t{1} << 52) - 1;

}  // namespace

double real6ToDouble(const Real6& b) {
    if (b[0] == 0) return 0.0;
    const std::uint64_t fraction39 = (std::uint64_t{b[5] & 0x7FU} << 32) | (std::uint64_t{b[4]} << 24) |
                                     (std::uint64_t{b[3]} << 16) | (std::uint64_t{b[2]} << 8) | b[1];
    const std::uint64_t sign = b[5] >> 7;
    const std::uint64_t bits = (sign << 63) | ((b[0] + kExponentShift) << 52) | (fraction39 << 13);
    return std::bit_cast<double>(bits);
}

Real6 doubleToReal6(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto sign = static_cast<std::uint8_t>((bits >> 63) << 7);
    const std::uint64_t exponent = (bits >> 52) & 0x7FFU;
    std::uint64_t fraction = bits & kFractionMask;
    Real6 out{0, 0, 0, 0, 0, sign};
    if (exponent == 0x7FFU && fraction != 0) return Real6{};  // NaN has no 6-byte form
    if (exponent <= kExponentShift) return out;               // zero, denormal or below 2^-128
    std::uint64_t biased = exponent - kExponentShift;
    if (biased > 0xFFU) {
        // Beyond the range (2^127 and up, or infinite): the largest value.
        biased = 0xFFU;
        fraction = kFractionMask;
    }
    const std::uint64_t fraction39 = fraction >> 13;
    out[0] = static_cast<std::uint8_t>(biased);
    out[1] = static_cast<std::uint8_t>(fraction39);
    out[2] = static_cast<std::uint8_t>(fraction39 >> 8);
    out[3] = static_cast<std::uint8_t>(fraction39 >> 16);
    out[4] = static_cast<std::uint8_t>(fraction39 >> 24);
    out[5] = static_cast<std::uint8_t>(sign | ((fraction39 >> 32) & 0x7FU));
    return out;
}

}  // namespace lousa
