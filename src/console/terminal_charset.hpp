#pragma once
// Code page 850 against the character set of the terminal's locale.
//
// Cells hold code page 850 bytes; a terminal shows and sends the code set of
// its locale (nl_langinfo(CODESET): UTF-8, ISO-8859-1, ANSI_X3.4-1968 under
// LANG=C, a PC code page...). The tables here are built once per run through
// the C library's iconv:
// - what each cell byte is written as: the character itself where the code
//   set has it; box drawing as + - | and shading or blocks as # where it has
//   not; a letter the code set lacks as its plain form when the C library can
//   give one in a single character (e without its accent under LANG=C);
//   anything else '?'. Control bytes held in cells are drawn as the symbols a
//   PC console shows for them (or '?'), never sent as controls, and nothing
//   written is ever a C1 control byte;
// - which code page 850 byte each byte typed in a single-byte code set is
//   ('?' when the page lacks the character). UTF-8 input is decoded by the
//   key decoder itself.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lousa {

class TerminalCharset {
public:
    // The code set of the environment's LC_CTYPE locale.
    static TerminalCharset forLocale();
    // A code set by the name nl_langinfo(CODESET) gives it; an unknown name
    // is treated as an ASCII-compatible 8-bit set of unknown upper half.
    static TerminalCharset forCodeset(std::string_view codeset);
    static TerminalCharset utf8() { return forCodeset("UTF-8"); }

    [[nodiscard]] bool isUtf8() const { return utf8_; }
    // What a cell holding this byte is written as.
    [[nodiscard]] const std::string& glyph(std::uint8_t cell) const { return glyphs_[cell]; }
    // The code page 850 byte of one typed byte (single-byte code sets).
    [[nodiscard]] std::uint8_t cp850FromTyped(std::uint8_t byte) const { return typed_[byte]; }
    [[nodiscard]] const std::array<std::uint8_t, 256>& typedTable() const { return typed_; }
    // Latin-1 text (the run-time error messages) in this code set.
    [[nodiscard]] std::string fromLatin1(std::string_view latin1) const;

private:
    TerminalCharset() = default;

    bool utf8_ = false;
    std::array<std::string, 256> glyphs_;
    std::array<std::string, 256> latin1_;  // each Latin-1 byte in this code set
    std::array<std::uint8_t, 256> typed_{};
};

// The stand-in for a box-drawing, shading or block character in a code set
// that lacks it ('+', '-', '|' or '#'); 0 for any other character.
char boxFallback(char32_t codePoint);

}  // namespace lousa
