// Reals read from a numeric token of any length: the value is C's correctly
// rounded conversion of the whole text, the memory is bounded, and the
// console and text files give the same value for the same token.

#include "files/real_token.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>

#include "console/input_reader.hpp"
#include "files/stream_scanning.hpp"
#include "unit/files/temp_dir.hpp"

namespace lousa {
namespace {

std::uint64_t bitsOf(double value) { return std::bit_cast<std::uint64_t>(value); }

// Feeds a token in the scanners' syntax: [sign] digits [. digits] [e|p [sign] digits].
RealToken tokenOf(const std::string& text) {
    std::size_t i = 0;
    const bool hexadecimal = text.find("0x") != std::string::npos;
    RealToken token(hexadecimal);
    if (text[i] == '-' || text[i] == '+') token.setNegative(text[i++] == '-');
    if (hexadecimal) i += 2;
    const char exponentLetter = hexadecimal ? 'p' : 'e';
    for (; i < text.size() && text[i] != exponentLetter; ++i) {
        if (text[i] == '.')
            token.addPoint();
        else
            token.addDigit(text[i]);
    }
    if (i < text.size()) {
        ++i;
        if (text[i] == '-' || text[i] == '+') token.setExponentNegative(text[i++] == '-');
        for (; i < text.size(); ++i) token.addExponentDigit(text[i]);
    }
    return token;
}

// Tokens whose exact value needs every digit, and tokens far too long to keep.
std::vector<std::string> hardTokens() {
    const std::string zeros(5000, '0');
    return {
        "0", "-0", "1.5", "123.456e-7", "000.000123", "9007199254740993",  // 2^53 + 1: rounds to even
        "9007199254740993" + zeros + "1",        // just above halfway: rounds up, decided by the last digit
        "9007199254740993" + zeros,              // exactly halfway: rounds to even
        "0." + zeros + "1e5000",                 // leading zeros of the fraction move the point
        "1" + zeros + "e-5000",                  // integer digits past the kept ones move it too
        "2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991818081799618989828234772285886546332835517796989819938739800539093906315035659515570226392290858392449105184435931802849936536152500319370457678249219365623669863658480757001585769269903706311928279558551332927834338409351978015531246597263579574622766465272827220056374006485499977096599470454020828166226237857393450736339007967761930577506740176324673600968951340535537458516661134223766678604162159680461914467291840300530057530849048765391711386591646239524912623653881879636239373280423891018672348497668235089863388587925628302755995657524455507255189313690836254779186948667994968324049705821028513185451396213837722826145437693412532098591327667236328125e-324",
        "1" + std::string(400, '0'),            // beyond the largest double: infinity
        "0x1.8p1", "-0x.0000000000000000000001p0", "0x1" + std::string(3000, '0') + "p-12000",
    };
}

TEST(RealToken, GivesTheCorrectlyRoundedValueOfTheWholeText) {
    for (const std::string& text : hardTokens()) {
        const double expected = std::strtod(text.c_str(), nullptr);
        EXPECT_EQ(bitsOf(tokenOf(text).value()), bitsOf(expected)) << text.substr(0, 60) << " (" << text.size() << ")";
    }
}

TEST(RealToken, KeepsBoundedTextWhateverTheTokenLength) {
    // 20 million digits before and after the point, and a 30-digit exponent.
    RealToken token;
    for (int i = 0; i < 20'000'000; ++i) token.addDigit(static_cast<char>('1' + i % 9));
    token.addPoint();
    for (int i = 0; i < 20'000'000; ++i) token.addDigit('7');
    token.setExponentNegative(true);
    for (int i = 0; i < 30; ++i) token.addExponentDigit('9');
    EXPECT_LE(token.text().size(), RealToken::kKeptDigits + 40);
    EXPECT_EQ(token.value(), 0.0) << "10^(2e7 - 10^30) underflows";
}

// The same token read by a console read and by a text-file read.
TEST(RealToken, ConsoleAndFileReadsAgreeOnHugeTokens) {
    const std::string millionDigits(1'000'000, '9');
    for (const std::string& token :
         {millionDigits, "0." + millionDigits, "0." + std::string(1'000'000, '0') + "5", millionDigits + "e-999990",
          "-" + millionDigits + "." + millionDigits + "e-1000000"}) {
        InputReader console(std::make_unique<MemoryByteSource>(token + "\n"));
        const std::optional<double> fromConsole = console.scanReal();
        ASSERT_TRUE(fromConsole.has_value());

        test::TempDir dir;
        test::writeBytes(dir.file("n.txt"), token + "\r\n");
        int error = 0;
        auto stream = FluxoArquivo::open(dir.file("n.txt"), "r+t", error);
        ASSERT_NE(stream, nullptr);
        double fromFile = -1;
        ASSERT_EQ(scanReal(*stream, fromFile), ScanResult::Converted);

        EXPECT_EQ(bitsOf(*fromConsole), bitsOf(fromFile)) << token.substr(0, 30) << " (" << token.size() << ")";
        EXPECT_EQ(bitsOf(fromFile), bitsOf(std::strtod(token.c_str(), nullptr))) << token.substr(0, 30);
        EXPECT_EQ(console.get(), '\n') << "the whole token was consumed";
    }
}

}  // namespace
}  // namespace lousa
