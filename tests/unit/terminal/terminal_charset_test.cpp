#include "console/terminal_charset.hpp"

#include <gtest/gtest.h>

#include "console/key_decoder.hpp"

namespace lousa {
namespace {

// Code set names as nl_langinfo(CODESET) gives them under LANG=pt_BR.UTF-8,
// pt_BR.ISO-8859-1 and C.
constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kLatin1 = "ISO-8859-1";
constexpr const char* kAscii = "ANSI_X3.4-1968";

TEST(TerminalCharset, CellsAreWrittenInTheLocalesCodeSet) {
    struct Case {
        const char* codeset;
        std::uint8_t cell;
        const char* written;
    };
    const Case cases[] = {
        // letters the code set has are themselves
        {kUtf8, 0x82, "\xc3\xa9"},   // é
        {kLatin1, 0x82, "\xe9"},
        {kLatin1, 0x87, "\xe7"},     // ç
        {kLatin1, 0xC6, "\xe3"},     // ã
        {kLatin1, 0xE7, "\xfe"},     // þ
        {kLatin1, 0xFF, "\xa0"},     // no-break space
        // letters it lacks lose their accent, or become '?'
        {kAscii, 0x82, "e"},
        {kAscii, 0x80, "C"},         // Ç
        {kAscii, 0xD5, "i"},         // dotless i
        {kLatin1, 0xD5, "i"},
        {kAscii, 0x9F, "f"},         // ƒ
        // box drawing: the characters, or + - | where the code set lacks them
        {kUtf8, 0xC9, "\xe2\x95\x94"},  // ╔
        {kLatin1, 0xC9, "+"},
        {kLatin1, 0xCD, "-"},        // ═
        {kLatin1, 0xBA, "|"},        // ║
        {kLatin1, 0xC4, "-"},        // ─
        {kLatin1, 0xB3, "|"},        // │
        {kAscii, 0xC5, "+"},         // ┼
        {kAscii, 0xB1, "#"},         // ▒
        {kAscii, 0xDB, "#"},         // █
        {kAscii, 0xFE, "#"},         // ■
        {"CP850", 0xC9, "\xc9"},     // a PC code set has them all
        {"CP850", 0x82, "\x82"},
        // control bytes are never sent as controls
        {kUtf8, 0x01, "\xe2\x98\xba"},  // ☺
        {kLatin1, 0x01, "?"},
        {kAscii, 0x1B, "?"},
        {kLatin1, 0x00, " "},
        // ASCII is ASCII everywhere
        {kAscii, 'A', "A"},
        {kLatin1, '~', "~"},
    };
    for (const Case& c : cases) {
        const TerminalCharset charset = TerminalCharset::forCodeset(c.codeset);
        EXPECT_EQ(charset.glyph(c.cell), c.written) << c.codeset << " cell " << int(c.cell);
    }
}

TEST(TerminalCharset, NoCellIsEverWrittenAsAControlByte) {
    for (const char* codeset : {kUtf8, kLatin1, kAscii, "ISO-8859-15", "CP850", "no-such-code-set"}) {
        const TerminalCharset charset = TerminalCharset::forCodeset(codeset);
        // 0x80-0x9F are C1 controls in ISO 8859 and unknown sets, letters in a PC code set.
        const bool hasC1 = std::string(codeset) != "CP850" && !charset.isUtf8();
        for (int cell = 0; cell < 256; ++cell) {
            const std::string& glyph = charset.glyph(static_cast<std::uint8_t>(cell));
            ASSERT_FALSE(glyph.empty()) << codeset << " " << cell;
            for (const char ch : glyph) {
                const auto b = static_cast<unsigned char>(ch);
                ASSERT_FALSE(b < 0x20 || b == 0x7F) << codeset << " cell " << cell;
                const bool c1 = hasC1 && b >= 0x80 && b < 0xA0;
                ASSERT_FALSE(c1) << codeset << " cell " << cell;
            }
        }
    }
}

TEST(TerminalCharset, TypedBytesAreDecodedFromTheLocalesCodeSet) {
    struct Case {
        const char* codeset;
        std::uint8_t typed;
        std::uint8_t cp850;
    };
    const Case cases[] = {
        {kLatin1, 0xE9, 0x82},  // é
        {kLatin1, 0xE7, 0x87},  // ç
        {kLatin1, 0xE3, 0xC6},  // ã
        {kLatin1, 0xC7, 0x80},  // Ç
        {kLatin1, 0x80, '?'},   // a C1 control: no character
        {"ISO-8859-15", 0xA4, '?'},  // € is not in code page 850
        {kAscii, 0xE9, '?'},    // nothing above ASCII
        {kAscii, 'a', 'a'},
        {"CP850", 0x82, 0x82},
    };
    for (const Case& c : cases) {
        const TerminalCharset charset = TerminalCharset::forCodeset(c.codeset);
        EXPECT_EQ(charset.cp850FromTyped(c.typed), c.cp850) << c.codeset << " byte " << int(c.typed);
    }
    // Through the key decoder, as typed on a Latin-1 terminal; ESC before a
    // letter is still Alt.
    KeyDecoder decoder(false);
    decoder.setTypedBytes(TerminalCharset::forCodeset(kLatin1).typedTable());
    decoder.push("\xe7\x1b\xe9");
    ASSERT_TRUE(decoder.hasEvent());
    EXPECT_EQ(decoder.popEvent().character, 0x87);
    ASSERT_TRUE(decoder.hasEvent());
    const KeyEvent alt = decoder.popEvent();
    EXPECT_EQ(alt.character, 0x82);
    EXPECT_TRUE(alt.alt);
}

TEST(TerminalCharset, MessagesInLatin1AreWrittenInTheCodeSet) {
    const std::string message = " => Divis\xe3o por Zero!\n";
    EXPECT_EQ(TerminalCharset::forCodeset(kUtf8).fromLatin1(message), " => Divisão por Zero!\n");
    EXPECT_EQ(TerminalCharset::forCodeset(kLatin1).fromLatin1(message), message);
    EXPECT_EQ(TerminalCharset::forCodeset(kAscii).fromLatin1(message), " => Divisao por Zero!\n");
}

}  // namespace
}  // namespace lousa
