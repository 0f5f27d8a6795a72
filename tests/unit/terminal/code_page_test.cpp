#include "console/code_page.hpp"

#include <gtest/gtest.h>

#include <set>

namespace lousa {
namespace {

TEST(CodePage, EveryByteHasItsOwnCharacterAndComesBack) {
    std::set<char32_t> seen;
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        const char32_t cp = unicodeFromCp850(byte);
        EXPECT_TRUE(seen.insert(cp).second) << "byte " << b << " repeats U+" << std::hex << static_cast<unsigned>(cp);
        EXPECT_EQ(cp850FromUnicode(cp), byte) << "byte " << b;
    }
    // ASCII and its control bytes are themselves.
    for (int b = 0; b < 128; ++b) EXPECT_EQ(unicodeFromCp850(static_cast<std::uint8_t>(b)), char32_t(b));
}

TEST(CodePage, HoldsAllOfLatin1AboveTheControls) {
    // Code page 850 is a permutation of Latin-1's printable upper half plus 32 drawing characters.
    for (char32_t cp = 0xA0; cp <= 0xFF; ++cp)
        EXPECT_NE(cp850FromUnicode(cp), '?') << std::hex << static_cast<unsigned>(cp);
    for (char32_t cp = 0x80; cp < 0xA0; ++cp)
        EXPECT_EQ(cp850FromUnicode(cp), '?') << std::hex << static_cast<unsigned>(cp);
}

TEST(CodePage, KnownLettersAndBoxCharacters) {
    EXPECT_EQ(utf8FromCp850("\x87\xC6\x82\xA2"), "çãéó");
    EXPECT_EQ(utf8FromCp850("\xC9\xCD\xBB\xBA\xC8\xBC\xDA\xC4\xBF\xB3\xC0\xD9"), "╔═╗║╚╝┌─┐│└┘");
    EXPECT_EQ(utf8FromCp850("\xB0\xB1\xB2\xDB\xFE"), "░▒▓█■");
    EXPECT_EQ(cp850FromUtf8("Ação É ı ƒ"), "A\x87\xC6o \x90 \xD5 \x9F");
    EXPECT_EQ(utf8FromCp850(std::string_view("\x00\x07\x1B\x7F", 4)), std::string_view("\x00\x07\x1B\x7F", 4));
}

TEST(CodePage, CharactersThePageLacksBecomeQuestionMarks) {
    EXPECT_EQ(cp850FromUtf8("€ → 日本 😀"), "? ? ?? ?");
    EXPECT_EQ(cp850FromUnicode(0x2500 + 1), '?');  // heavy horizontal, next to the light one the page has
}

TEST(CodePage, EveryCodePointSurvivesUtf8AndMapsConsistently) {
    std::set<char32_t> inPage;
    for (int b = 0; b < 256; ++b) inPage.insert(unicodeFromCp850(static_cast<std::uint8_t>(b)));
    Utf8Decoder decoder;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::string text;
        appendUtf8(text, cp);
        Utf8Decoder::Status status = Utf8Decoder::Status::kNeedMore;
        for (const char ch : text) status = decoder.push(static_cast<std::uint8_t>(ch));
        ASSERT_EQ(status, Utf8Decoder::Status::kCodePoint) << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(decoder.codePoint(), cp);
        if (inPage.count(cp) != 0) {
            ASSERT_EQ(unicodeFromCp850(cp850FromUnicode(cp)), cp) << std::hex << static_cast<unsigned>(cp);
        } else {
            ASSERT_EQ(cp850FromUnicode(cp), '?') << std::hex << static_cast<unsigned>(cp);
        }
    }
}

TEST(CodePage, SurrogatesAndOutOfRangeAreWrittenAsReplacement) {
    std::string text;
    appendUtf8(text, 0xD800);
    appendUtf8(text, 0x110000);
    EXPECT_EQ(text, "\uFFFD\uFFFD");
}

TEST(CodePage, MalformedUtf8NeverSwallowsTheFollowingText) {
    EXPECT_EQ(cp850FromUtf8("a\x80"
                            "b"),
              "a?b");  // stray continuation byte
    EXPECT_EQ(cp850FromUtf8("\xC3"
                            "b"),
              "?b");                                    // sequence cut by ASCII
    EXPECT_EQ(cp850FromUtf8("\xC3\xC3\xA7"), "?\x87");  // cut by the start of the next letter
    EXPECT_EQ(cp850FromUtf8("\xC0\x80"), "??");         // overlong NUL: neither byte may start anything
    EXPECT_EQ(cp850FromUtf8("\xE0\x80\x80z"), "?z");    // overlong three-byte form
    EXPECT_EQ(cp850FromUtf8("\xED\xA0\x80"), "?");      // encoded surrogate
    EXPECT_EQ(cp850FromUtf8("\xF5\x80"), "??");         // lead byte beyond U+10FFFF
    EXPECT_EQ(cp850FromUtf8("ok\xE2\x94"), "ok?");      // text ends inside a character
}

}  // namespace
}  // namespace lousa
