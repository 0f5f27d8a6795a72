// The listing format: what each form assembles to, and what it refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>

#include "tools/assembler.hpp"

namespace lousa::tool {
namespace {

using Code = std::vector<Word>;

Code words(std::string_view listing) {
    AsmResult r = assemble(listing);
    EXPECT_TRUE(r.ok()) << (r.errors.empty() ? "" : r.errors[0].message);
    return r.code;
}

// The first error as "line: message".
std::string firstError(std::string_view listing) {
    const AsmResult r = assemble(listing);
    if (r.ok()) return "no error";
    EXPECT_TRUE(r.code.empty());
    return std::to_string(r.errors[0].line) + ": " + r.errors[0].message;
}

TEST(Assembler, TheCommonExample) {
    const Code code = words(
        "    ENTER_JUMP 2 100 start   ; frame of the main program: 2 words\n"
        "start:\n"
        "    LINE 1\n"
        "    PUSH 42\n"
        "    CON_WRITE 1\n"
        "    CON_WRITE 5\n"
        "    HALT\n");
    EXPECT_EQ(code, (Code{94, 2, 100, 4, 62, 1, 58, 42, 130, 1, 130, 5, 43}));
}

TEST(Assembler, LabelsAbsoluteForJumpsRelativeForCalls) {
    const Code code = words(
        "top: JUMP end\n"       // 0: forward use
        "     CALL 0 top\n"     // 2: 0 - 2
        "     CALL 1 end\n"     // 5: 10 - 5
        "     JUMP_FALSE top\n" // 8
        "end: HALT\n");         // 10
    EXPECT_EQ(code, (Code{60, 10, 25, 0, -2, 25, 1, 5, 40, 0, 43}));
    // Several labels at one address; a label line without instruction.
    EXPECT_EQ(words("a:\nb: c: JUMP a\nJUMP b\nJUMP c\n"), (Code{60, 0, 60, 0, 60, 0}));
    // Numbers still work where labels may stand.
    EXPECT_EQ(words("JUMP 7\nCALL 0 -3"), (Code{60, 7, 25, 0, -3}));
}

TEST(Assembler, LiteralsAndConveniences) {
    // Character literals are signed bytes of code page 850.
    EXPECT_EQ(words("PUSH 'a'\nPUSH '\\n'\nPUSH '\\''\nPUSH 'é'\nPUSH '\\xFF'\nPUSH ';'"),
              (Code{58, 97, 58, 10, 58, 39, 58, -126, 58, -1, 58, 59}));
    // PUSH_STR: marker, then the characters last first.
    EXPECT_EQ(words("PUSH_STR \"Olá\""), (Code{58, -1, 112, 3, -96, 108, 79}));
    EXPECT_EQ(words("PUSH_STR \"\""), (Code{58, -1}));
    EXPECT_EQ(words("PUSH_STR \"a;b\\\"\" ; comment"), (Code{58, -1, 112, 4, '"', 'b', ';', 'a'}));
    // PUSH_REAL with one number: the double's low word, then its high word.
    EXPECT_EQ(words("PUSH_REAL 1.0"), (Code{103, 0, 1072693248}));
    EXPECT_EQ(words("PUSH_REAL 1"), (Code{103, 0, 1072693248}));
    const auto bits = std::bit_cast<std::uint64_t>(-0.1);
    EXPECT_EQ(words("PUSH_REAL -0.1"),
              (Code{103, static_cast<Word>(bits & 0xFFFFFFFFU), static_cast<Word>(bits >> 32)}));
    EXPECT_EQ(words("PUSH_REAL 5 6"), (Code{103, 5, 6}));
    // SCOPE_ENTER: the name's characters then -1, or the raw words.
    EXPECT_EQ(words("SCOPE_ENTER \"PÃO\""), (Code{87, 'P', -57, 'O', -1}));
    EXPECT_EQ(words("SCOPE_ENTER 300 -2 -1"), (Code{87, 300, -2, -1}));
    EXPECT_EQ(words("PUSH_N 3 5 6 7\nPUSH_N 0"), (Code{112, 3, 5, 6, 7, 112, 0}));
    EXPECT_EQ(words(".word 4 -2147483648 2147483647 'x'"), (Code{4, -2147483647 - 1, 2147483647, 'x'}));
    // Mnemonics in any case; CR LF line ends; address assertions.
    EXPECT_EQ(words("halt\r\n0001: Push 1\r\n3: lbl: HALT\r\n"), (Code{43, 58, 1, 43}));
}

TEST(Assembler, ErrorsNameTheLineAndTheReason) {
    EXPECT_EQ(firstError("HALT\n\nFOO 1\n"), "3: unknown mnemonic FOO");
    EXPECT_EQ(firstError("PUSH\n"), "1: PUSH takes 1 operand, found 0");
    EXPECT_EQ(firstError("CALL 1 2 3\n"), "1: CALL takes 2 operands, found 3");
    EXPECT_EQ(firstError("JUMP nowhere\n"), "1: undefined label nowhere");
    EXPECT_EQ(firstError("a: HALT\na: HALT\n"), "2: label a is already defined");
    EXPECT_EQ(firstError("PUSH x\nx: HALT"), "1: label x is not allowed here (only jump and call targets)");
    EXPECT_EQ(firstError("PUSH 2147483648\n"), "1: number 2147483648 does not fit in a 32-bit word");
    EXPECT_EQ(firstError("PUSH 12x\n"), "1: bad number '12x'");
    EXPECT_EQ(firstError("HALT\n5: HALT\n"), "2: address 5 given, but this line is at address 1");
    EXPECT_EQ(firstError("PUSH_STR \"abc\n"), "1: unterminated string");
    EXPECT_EQ(firstError("PUSH 'ab'\n"), "1: a character literal holds exactly one character");
    EXPECT_EQ(firstError("PUSH '\\q'\n"), "1: unknown escape \\q");
    EXPECT_EQ(firstError("PUSH '€'\n"), "1: character '€' is not in code page 850");
    EXPECT_EQ(firstError("PUSH '\xC3'\n"), "1: text is not valid UTF-8");
    EXPECT_EQ(firstError("PUSH_N 2 1\n"), "1: PUSH_N count is 2, found 1 word after it");
    EXPECT_EQ(firstError("PUSH_N -1\n"), "1: PUSH_N count is -1, found 0 words after it");
    EXPECT_EQ(firstError("SCOPE_ENTER 1 2\n"), "1: SCOPE_ENTER words must end with -1");
    EXPECT_EQ(firstError("SCOPE_ENTER 1 -1 2 -1\n"),
              "1: SCOPE_ENTER name ends at its first -1; the words after it belong to no instruction");
    EXPECT_EQ(firstError("SCOPE_ENTER \"a\\xFFb\"\n"), "1: byte 0xFF reads as the end of the name and cannot be part of it");
    EXPECT_EQ(firstError("PUSH_STR \"" + std::string(256, 'x') + "\"\n"), "1: a string holds at most 255 characters");
    EXPECT_EQ(firstError("PUSH_REAL 1.5x\n"), "1: bad real number '1.5x'");
    EXPECT_EQ(firstError("PUSH_REAL 1e999\n"), "1: bad real number '1e999'");
    EXPECT_EQ(firstError(".word\n"), "1: .word needs at least one value");
    EXPECT_EQ(firstError("1x: HALT\n"), "1: bad address '1x'");
    EXPECT_EQ(firstError("'a'\n"), "1: expected a mnemonic, found a literal");
    // Every bad line is reported, not only the first.
    EXPECT_EQ(assemble("FOO\nHALT\nBAR\nJUMP x\n").errors.size(), 3U);
}

TEST(Assembler, LiteralTextRoundTripsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const Code code = words("PUSH_STR " + listingStringLiteral(all.substr(1)) + "\nPUSH '" +
                            listingCharText(0, '\'') + "'\nPUSH '" + listingCharText('\'', '\'') + "'");
    ASSERT_EQ(code.size(), 4U + 255U + 4U);
    for (int b = 1; b < 256; ++b)
        EXPECT_EQ(code[static_cast<std::size_t>(4 + 255 - b)], static_cast<signed char>(b)) << b;
    EXPECT_EQ(code[260], 0);
    EXPECT_EQ(code[262], '\'');
}

TEST(Assembler, GarbageIsRefusedLineByLineWithoutHarm) {
    std::mt19937 random(99);
    const std::string alphabet = "PUSH_JUMP:;'\"\\x0123456789-. \t\n\r" "\xC3\xA9" "abc";
    for (int round = 0; round < 500; ++round) {
        std::string text(random() % 200, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        const AsmResult r = assemble(text);
        const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        for (const AsmError& e : r.errors) {
            EXPECT_GE(e.line, 1U);
            EXPECT_LE(e.line, lines);
            EXPECT_FALSE(e.message.empty());
        }
        EXPECT_LE(r.errors.size(), 20U);
        if (!r.ok()) {
            EXPECT_TRUE(r.code.empty());
        }
    }
}

}  // namespace
}  // namespace lousa::tool
