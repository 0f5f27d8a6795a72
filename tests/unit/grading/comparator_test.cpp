// Comparison rules: the default validator's flags, bytes, the relaxations
// named for a wrong answer, answers written as UTF-8.

#include <gtest/gtest.h>

#include "grading/comparator.hpp"
#include "vm/latin1.hpp"

namespace lousa::grading {
namespace {

CompareFlags flags(const std::string& text) { return parseFlags(text); }

TEST(Comparator, DefaultValidatorRules) {
    struct Case {
        const char* flags;
        const char* output;
        const char* answer;
        bool accepted;
    };
    const Case cases[] = {
        {"", "6\n", "6\n", true},
        {"", "  6 \r\n\n", "6\n", true},                // spacing is free by default
        {"", "Sim\n", "SIM\n", true},                   // and so is letter case
        {"case_sensitive", "Sim\n", "SIM\n", false},
        {"space_change_sensitive", "6 \n", "6\n", false},
        {"space_change_sensitive", "1 2\n", "1  2\n", false},
        {"space_change_sensitive", "1 2\n", "1 2\n", true},
        {"", "1 2", "1 2 3", false},                    // ends early
        {"", "1 2 3 4", "1 2 3", false},                // extra output
        {"", "3.14", "3.14159", false},                 // numbers are text without a tolerance
        {"float_absolute_tolerance 0.01", "3.14", "3.14159", true},
        {"float_absolute_tolerance 0.001", "3.14", "3.14159", false},
        {"float_relative_tolerance 0.001", "1000.5", "1000", true},
        {"float_relative_tolerance 0.0001", "1000.5", "1000", false},
        {"float_tolerance 0.1", "abc", "1.0", false},    // a word where a number is due
        {"float_tolerance 0.1", "abc", "abc", true},      // words still compare as text
        {"float_tolerance 0.1", "0x10", "16", false},     // no hexadecimal numbers
    };
    for (const Case& c : cases) {
        const Judgement j = compareTokens(c.output, c.answer, flags(c.flags));
        EXPECT_EQ(j.kind == Judgement::Kind::Accepted, c.accepted)
            << "flags '" << c.flags << "' output '" << c.output << "' answer '" << c.answer << "': " << j.message;
        if (!c.accepted) {
            EXPECT_FALSE(j.message.empty());
        }
    }
}

TEST(Comparator, FlagsAreCheckedAsTheyAreRead) {
    EXPECT_TRUE(flags("case_sensitive space_change_sensitive").caseSensitive);
    EXPECT_TRUE(flags("screen_attributes").screen);
    EXPECT_EQ(*flags("float_tolerance 1e-6").floatAbsoluteTolerance, 1e-6);
    for (const char* bad : {"case_sensitiv", "float_tolerance", "float_tolerance x", "float_tolerance -1"})
        EXPECT_THROW(flags(bad), ProblemError) << bad;
}

TEST(Comparator, WouldPassIfNamesTheSmallestRelaxation) {
    struct Case {
        const char* output;
        const char* answer;
        const char* relaxation;  // "" when none accepts
        bool presentation;
    };
    const Case cases[] = {
        {"6", "6\n", "a missing final line end", true},
        {"1\r\n2\r\n", "1\n2\n", "CR LF line ends", true},
        {"1 \n2\t\n", "1\n2\n", "trailing spaces", true},
        {"SIM\n", "sim\n", "letter case", true},
        {"1  2\n", "1 2\n", "spacing", true},
        {"SIM  NAO\n", "sim nao\n", "spacing and letter case", true},
        {"3.14\n", "3.1416\n", "float rounding (differences up to 0.0016)", false},
        {"7\n", "6\n", "", false},                     // integers do not round
        {"2.5 x\n", "2 x\n", "float rounding (differences up to 0.5)", false},
        {"seis\n", "6\n", "", false},
        {"1 2\n", "1 2 3\n", "", false},
    };
    for (const Case& c : cases) {
        const Relaxation r = wouldPassIf(c.output, c.answer);
        EXPECT_EQ(r.name, c.relaxation) << c.output;
        EXPECT_EQ(r.presentationOnly, c.presentation) << c.output;
    }
}

TEST(Comparator, AnswersInUtf8AreComparedInTheProgramsCodePage) {
    // "São Paulo" in code page 850: ã is 0xC6.
    EXPECT_EQ(answerInCodePage("S\xC3\xA3o Paulo\n"), "S\xC6o Paulo\n");
    EXPECT_EQ(answerInCodePage("S\xC6o Paulo\n"), "S\xC6o Paulo\n");  // already code page 850
    EXPECT_EQ(answerInCodePage("plain\n"), "plain\n");
    EXPECT_EQ(answerInCodePage("cut \xC3"), "cut \xC3");  // a truncated sequence is not UTF-8
}

TEST(Comparator, FirstDifference) {
    EXPECT_EQ(firstDifference("abc", "abc"), std::string_view::npos);
    EXPECT_EQ(firstDifference("abc", "abd"), 2U);
    EXPECT_EQ(firstDifference("ab", "abc"), 2U);
    EXPECT_EQ(firstDifference("", "x"), 0U);
}

}  // namespace
}  // namespace lousa::grading
