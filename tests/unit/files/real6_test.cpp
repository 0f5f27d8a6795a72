#include "files/real6.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace lousa {
namespace {

TEST(Real6, KnownValuesBothWays) {
    const struct {
        double value;
        Real6 bytes;
    } cases[] = {
        {1.0, {0x81, 0, 0, 0, 0, 0}},
        {-2.5, {0x82, 0, 0, 0, 0, 0xA0}},
        {0.0, {0, 0, 0, 0, 0, 0}},
        {0.5, {0x80, 0, 0, 0, 0, 0}},
        {10.0, {0x84, 0, 0, 0, 0, 0x20}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(doubleToReal6(c.value), c.bytes) << c.value;
        EXPECT_EQ(real6ToDouble(c.bytes), c.value) << c.value;
    }
}

TEST(Real6, FractionIsTruncatedToThirtyNineBits) {
    const Real6 bytes = doubleToReal6(0.1);
    const double back = real6ToDouble(bytes);
    EXPECT_NE(back, 0.1);
    EXPECT_LT(back, 0.1) << "dropped bits, not rounded up";
    const auto bits = std::bit_cast<std::uint64_t>(0.1);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back), bits & ~std::uint64_t{0x1FFF});
    EXPECT_EQ(doubleToReal6(back), bytes) << "a 6-byte real survives the round trip";
}

TEST(Real6, ZeroExponentIsZeroWhateverTheOtherBytes) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(real6ToDouble({0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), 0U) << "+0.0";
    EXPECT_EQ(doubleToReal6(-0.0), (Real6{0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(doubleToReal6(std::numeric_limits<double>::denorm_min()), (Real6{}));
}

TEST(Real6, RangeEdges) {
    // The smallest and largest exponents.
    EXPECT_EQ(doubleToReal6(std::ldexp(1.0, -128)), (Real6{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(real6ToDouble({1, 0, 0, 0, 0, 0}), std::ldexp(1.0, -128));
    EXPECT_EQ(real6ToDouble({0xFF, 0, 0, 0, 0, 0}), std::ldexp(1.0, 126));
    // Below the range: zero with the sign, not a wrapped exponent.
    EXPECT_EQ(doubleToReal6(std::ldexp(1.0, -129)), (Real6{}));
    EXPECT_EQ(doubleToReal6(-1e-300), (Real6{0, 0, 0, 0, 0, 0x80}));
    // At and above 2^127: the largest value of that sign.
    const Real6 largest{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(doubleToReal6(std::ldexp(1.0, 127)), largest);
    EXPECT_EQ(doubleToReal6(1e300), largest);
    EXPECT_EQ(doubleToReal6(std::numeric_limits<double>::infinity()), largest);
    EXPECT_EQ(doubleToReal6(-std::numeric_limits<double>::infinity()), (Real6{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(doubleToReal6(std::nan("")), (Real6{}));
}

}  // namespace
}  // namespace lousa
