#include "console/value_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace lousa {
namespace {

// Measuring with a null buffer first is the point here, which GCC's
// truncation check does not know (clang has no such check).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wformat-truncation"
#endif

template <typename... Args>
std::string cFormat(const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

const std::vector<double> kReals = {
    0.0, -0.0, 1.0, -1.0, 3.5, -0.25, 2.0, 0.1, 1e20, -1e20, 1e300, 1.7976931348623157e308, 5e-324,
    2.2250738585072014e-308, 0.0000005, 0.0000015, 0.0000025, 2.5, 0.5, 1.5, 123456789.987654321,
    -999999.9999995, 1e-7, 9.9999995, std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN()};
const std::vector<int> kWidths = {0, 1, 5, 12, 40, -1, -5, -12, -40};

TEST(ValueText, NaturalFormsMatchC) {
    for (int v : {0, 1, -1, 42, 2147483647, -2147483647 - 1}) EXPECT_EQ(integerText(v), cFormat("%d", v));
    for (double r : kReals) EXPECT_EQ(realText(r), cFormat("%f", r)) << r;
    EXPECT_EQ(realText(1e20), "100000000000000000000.000000");
    EXPECT_EQ(characterText('a'), "a");
    EXPECT_EQ(characterText(-29), "\xE3");  // a character stored as a negative word
    EXPECT_EQ(characterText(0x141), "A");   // only the low byte counts
    EXPECT_EQ(characterText(0), std::string(1, '\0'));
    EXPECT_EQ(booleanText(7), "TRUE");
    EXPECT_EQ(booleanText(-1), "TRUE");
    EXPECT_EQ(booleanText(0), "FALSE");
}

TEST(ValueText, PointersAreNilOrUnsignedLowerCaseHex) {
    EXPECT_EQ(pointerText(0), "nil");
    EXPECT_EQ(pointerText(-16), "$fffffff0");
    EXPECT_EQ(pointerText(255), "$ff");
    EXPECT_EQ(pointerText(-2147483647 - 1), "$80000000");
}

TEST(ValueText, SetsListRangesAndSingleElements) {
    EXPECT_EQ(setText(std::vector<Word>{}), "[  ]");
    EXPECT_EQ(setText(std::vector<Word>{5, 5}), "[ 5 ]");
    EXPECT_EQ(setText(std::vector<Word>{1, 3, 7, 7}), "[ 1..3, 7 ]");
    EXPECT_EQ(setText(std::vector<Word>{-2, 0, 10, 255}), "[ -2..0, 10..255 ]");
    EXPECT_EQ(setText(std::vector<Word>{1, 2, 9}), "[ 1..2 ]");  // an odd word has no partner
}

TEST(ValueText, WidthFormsMatchC) {
    for (int w : kWidths) {
        for (int v : {0, 42, -42, 2147483647, -2147483647 - 1})
            EXPECT_EQ(integerField(v, w), cFormat("%*d", w, v)) << v << " " << w;
        for (int c : {int{'a'}, int{' '}, 200 - 256})
            EXPECT_EQ(characterField(c, w), cFormat("%*c", w, c)) << c << " " << w;
        for (const char* s : {"", "TRUE", "FALSE", "hello world", "$fffffff0"})
            EXPECT_EQ(fieldText(s, w), cFormat("%*s", w, s)) << s << " " << w;
        for (double r : kReals) EXPECT_EQ(realField(r, w), cFormat("%*f", w, r)) << r << " " << w;
    }
    EXPECT_EQ(integerField(42, 5), "   42");
    EXPECT_EQ(integerField(42, -5), "42   ");
    EXPECT_EQ(integerField(42, 1), "42");
}

TEST(ValueText, CharacterZeroIsPaddedLikeAnyByte) {
    EXPECT_EQ(characterField(0, 3), std::string("  ") + '\0');
    EXPECT_EQ(characterField(0, -3), std::string(1, '\0') + "  ");
    EXPECT_EQ(characterField(0, 0), std::string(1, '\0'));
}

TEST(ValueText, StringFieldStopsAtZeroByteLikeC) {
    const std::string withZero = std::string("ab") + '\0' + "cd";
    EXPECT_EQ(fieldText(withZero, 5), "   ab");
    EXPECT_EQ(fieldText(withZero, -5), "ab   ");
}

TEST(ValueText, WidthAndDecimalsMatchC) {
    for (int w : kWidths)
        for (int d : {0, 1, 2, 6, 10, 17, 30, -1, -7})
            for (double r : kReals) EXPECT_EQ(realField(r, w, d), cFormat("%*.*f", w, d, r)) << r << " " << w << " " << d;
    EXPECT_EQ(realField(3.14159, 8, 2), "    3.14");
    EXPECT_EQ(realField(3.14159, 8, 0), "       3");
}

TEST(ValueText, ManyDecimalsStayExact) {
    // past every significant digit the expansion continues with zeros
    for (double r : {5e-324, 0.1, -1e300, 1.0 / 3.0, std::numeric_limits<double>::infinity()})
        for (int d : {1073, 1074, 1075, 1100, 1101, 3000})
            EXPECT_EQ(realField(r, 0, d), cFormat("%.*f", d, r)) << r << " " << d;
}

TEST(ValueText, HostileWidthsAndDecimalsAreBounded) {
    EXPECT_EQ(integerField(1, 2147483647).size(), static_cast<std::size_t>(kMaxFieldWidth));
    const std::string left = integerField(1, -2147483647 - 1);
    EXPECT_EQ(left.size(), static_cast<std::size_t>(kMaxFieldWidth));
    EXPECT_EQ(left.front(), '1');
    EXPECT_EQ(characterField('x', -2147483647 - 1).size(), static_cast<std::size_t>(kMaxFieldWidth));
    const std::string manyDecimals = realField(1.0, 0, 2147483647);
    EXPECT_EQ(manyDecimals.size(), static_cast<std::size_t>(2 + kMaxDecimals));
    EXPECT_EQ(manyDecimals.substr(0, 4), "1.00");
}

}  // namespace
}  // namespace lousa
