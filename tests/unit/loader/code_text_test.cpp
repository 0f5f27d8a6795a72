// The code text's token rules and the runner directory.

#include <gtest/gtest.h>

#include "loader/arquivo_compilado.hpp"
#include "vm/interpretador.hpp"

namespace lousa {
namespace {

using Code = std::vector<Word>;

TEST(CodeText, CountIgnoredTokenThenWords) {
    EXPECT_EQ(parseCodeText("3 0 43 7 9 "), (Code{43, 7, 9}));
    // Only N words are taken; more text is ignored.
    EXPECT_EQ(parseCodeText("2 3 1 2 3 4 "), (Code{1, 2}));
    // A text that ends early gives what it holds, the unfinished token included.
    EXPECT_EQ(parseCodeText("5 6 1 2 33"), (Code{1, 2, 33}));
    EXPECT_EQ(parseCodeText(""), Code{});
}

TEST(CodeText, OnlyTheSpaceSeparatesTokens) {
    // Two spaces make a token of one space: value 0.
    EXPECT_EQ(parseCodeText("3 4 1  2 "), (Code{1, 0, 2}));
    // A line break is part of a token; digits after it are not read.
    EXPECT_EQ(parseCodeText("2 3 7\n8 9 "), (Code{7, 9}));
    // Leading white space inside a token is skipped.
    EXPECT_EQ(parseCodeText("2 3 \n5 \t-6 "), (Code{5, -6}));
}

TEST(CodeText, CountOfZeroOrLessGivesNoCode) {
    EXPECT_TRUE(parseCodeText("0 1 43 ").empty());
    EXPECT_TRUE(parseCodeText("-4 1 43 43 ").empty());
    EXPECT_TRUE(parseCodeText("x 1 43 ").empty());
    // A huge count does not reserve memory for words that are not there.
    EXPECT_EQ(parseCodeText("2147483647 0 43 "), (Code{43}));
}

TEST(CodeText, TokenValues) {
    EXPECT_EQ(tokenValue("12x "), 12);
    EXPECT_EQ(tokenValue("x12 "), 0);
    EXPECT_EQ(tokenValue("+5 "), 5);
    EXPECT_EQ(tokenValue("-2147483648 "), -2147483647 - 1);
    EXPECT_EQ(tokenValue("2147483647 "), 2147483647);
    // Out of range: saturated, however many digits.
    EXPECT_EQ(tokenValue("2147483648 "), 2147483647);
    EXPECT_EQ(tokenValue("99999999999999999999999999999999 "), 2147483647);
    EXPECT_EQ(tokenValue("-2147483649 "), -2147483647 - 1);
    EXPECT_EQ(tokenValue("-99999999999999999999999999999999 "), -2147483647 - 1);
    EXPECT_EQ(tokenValue("- 3"), 0);
}

TEST(CodeText, FormatIsWhatTheLoaderReads) {
    const Code code = {43, -1, 0, 2147483647, -2147483647 - 1};
    const std::string text = formatCodeText(code);
    EXPECT_EQ(text, "5 6 43 -1 0 2147483647 -2147483648 ");
    EXPECT_EQ(parseCodeText(text), code);
    EXPECT_EQ(formatCodeText({}), "0 1 ");
}

TEST(RunnerDirectory, ThroughTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(directoryOf("prog"), "");
    EXPECT_EQ(directoryOf("/home/ana/prog"), "/home/ana/");
    EXPECT_EQ(directoryOf("C:\\pasta\\prog.exe"), "C:\\pasta\\");
    EXPECT_EQ(directoryOf("a/b\\c"), "a/b\\");
    EXPECT_EQ(directoryOf("a\\b/c"), "a\\b/");
    EXPECT_EQ(directoryOf("./prog"), "./");
    EXPECT_EQ(directoryOf("dir/"), "dir/");
}

}  // namespace
}  // namespace lousa
