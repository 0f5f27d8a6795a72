#include "files/stream_scanning.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "unit/files/temp_dir.hpp"

namespace lousa {
namespace {

// A text stream over a file holding `bytes`.
class ScanTest : public ::testing::Test {
protected:
    FluxoArquivo& over(const std::string& bytes) {
        const std::string path = dir.file("scan.txt");
        test::writeBytes(path, bytes);
        int error = 0;
        stream = FluxoArquivo::open(path, "r+t", error);
        EXPECT_NE(stream, nullptr);
        return *stream;
    }
    test::TempDir dir;
    std::unique_ptr<FluxoArquivo> stream;
};

TEST_F(ScanTest, IntegersSkipWhiteSpaceAndStopAtTheFirstOtherCharacter) {
    FluxoArquivo& s = over(" 12\r\n\t-7 +3x 4294967297 -");
    Word v = 0;
    EXPECT_EQ(scanInteger(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(scanInteger(s, v), ScanResult::Converted);
    EXPECT_EQ(v, -7);
    EXPECT_EQ(scanInteger(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(s.getChar(), 'x') << "the character that ended the number stays";
    EXPECT_EQ(scanInteger(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 1) << "wraps modulo 2^32";
    EXPECT_EQ(scanInteger(s, v), ScanResult::NoMatch) << "a sign without digits";
    EXPECT_EQ(scanInteger(s, v), ScanResult::End);
}

TEST_F(ScanTest, IntegerNotANumberLeavesTheTextUnread) {
    FluxoArquivo& s = over("abc");
    Word v = 99;
    EXPECT_EQ(scanInteger(s, v), ScanResult::NoMatch);
    EXPECT_EQ(v, 99);
    EXPECT_EQ(s.getChar(), 'a');
}

TEST_F(ScanTest, RealsFollowTheCSyntax) {
    FluxoArquivo& s = over("2.5e1 -.5 7. 1e 3E+2x 1e-400 1e400 .x");
    double v = 0;
    ASSERT_EQ(scanReal(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 25.0);
    ASSERT_EQ(scanReal(s, v), ScanResult::Converted);
    EXPECT_EQ(v, -0.5);
    ASSERT_EQ(scanReal(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 7.0);
    ASSERT_EQ(scanReal(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(s.getChar(), 'e') << "an exponent without digits is not part of the number";
    ASSERT_EQ(scanReal(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 300.0);
    EXPECT_EQ(s.getChar(), 'x');
    ASSERT_EQ(scanReal(s, v), ScanResult::Converted);
    EXPECT_EQ(v, 0.0);
    ASSERT_EQ(scanReal(s, v), ScanResult::Converted);
    EXPECT_TRUE(std::isinf(v) && v > 0);
    EXPECT_EQ(scanReal(s, v), ScanResult::NoMatch);
    EXPECT_EQ(scanReal(s, v), ScanResult::NoMatch) << "the x is still there";
}

TEST_F(ScanTest, WordsAndLines) {
    FluxoArquivo& s = over("  TRUE\r\nfalse abcdef\r\nhi\r\nlast");
    std::string w;
    EXPECT_EQ(scanWord(s, w), ScanResult::Converted);
    EXPECT_EQ(w, "TRUE");
    EXPECT_EQ(scanWord(s, w, 3), ScanResult::Converted);
    EXPECT_EQ(w, "fal") << "kept up to the limit, the rest consumed";
    EXPECT_EQ(s.getChar(), ' ');
    EXPECT_EQ(readLine(s, 3), "abc");
    EXPECT_EQ(readLine(s, 10), "def\n");
    EXPECT_EQ(readLine(s, 10), "hi\n");
    EXPECT_EQ(readLine(s, 10), "last");
    EXPECT_EQ(readLine(s, 10), "");
    EXPECT_EQ(scanWord(s, w), ScanResult::End);
}

TEST_F(ScanTest, SkipLineConsumesThroughTheLineEndOfAnyLength) {
    FluxoArquivo& s = over(std::string(1000, 'x') + "\r\nnext");
    skipLine(s);
    EXPECT_EQ(readLine(s, 10), "next");
}

}  // namespace
}  // namespace lousa
