#pragma once
// The 6-byte real that typed files hold on disk, bytes in file order:
//   b0        exponent biased by 129; 0 means the value zero
//   b1..b4    fraction bits 0-31 (least significant first)
//   b5 0-6    fraction bits 32-38
//   b5 7      sign
// value = (-1)^sign * 2^(b0 - 129) * (1 + fraction / 2^39)

#include <array>
#include <cstdint>

namespace lousa {

using Real6 = std::array<std::uint8_t, 6>;

// Exact: every 6-byte real is a double. A zero exponent byte gives +0.0
// whatever the other bytes hold.
double real6ToDouble(const Real6& bytes);

// The fraction keeps its top 39 bits; the 13 below are dropped, not rounded.
// Zero and doubles below the smallest 6-byte real (2^-128) give zero with the
// double's sign bit; doubles at or above 2^127, infinities included, give the
// largest 6-byte real of that sign; a NaN gives zero.
Real6 doubleToReal6(double value);

}  // namespace lousa
