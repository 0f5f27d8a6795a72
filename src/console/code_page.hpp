#pragma once
// The console's code page (850) and the UTF-8 of Linux terminals.
//
// Interpreted programs see one byte per character, in code page 850 (the page
// whose accented letters UPCASE knows). A UTF-8 terminal shows and sends
// Unicode, so the terminal side translates in both directions here. Bytes
// 0x00-0x7F are ASCII in both worlds; control bytes stay control bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lousa {

// The Unicode code point that code page 850 shows for a byte.
char32_t unicodeFromCp850(std::uint8_t byte);

// What a console cell holding the byte shows: the page's character, and for
// the control bytes 1-31 and 127 the symbols a PC console draws for them
// (0 shows as a blank). A terminal must never receive a cell's byte as a
// control character.
char32_t glyphOfCp850(std::uint8_t byte);

// The code page 850 byte for a code point; '?' when the page lacks it.
std::uint8_t cp850FromUnicode(char32_t codePoint);

// Appends the UTF-8 form of a code point; invalid code points (surrogates,
// beyond U+10FFFF) are written as U+FFFD.
void appendUtf8(std::string& out, char32_t codePoint);

// Code page 850 bytes as UTF-8 text.
std::string utf8FromCp850(std::string_view cp850Bytes);
// UTF-8 text as code page 850 bytes; malformed sequences and characters the
// page lacks become '?'.
std::string cp850FromUtf8(std::string_view utf8Text);

// Decodes UTF-8 one byte at a time, for input that arrives in pieces.
class Utf8Decoder {
public:
    enum class Status {
        kNeedMore,   // inside a multi-byte sequence
        kCodePoint,  // codePoint() holds a complete character
        kMalformed,  // the bytes so far form no character; the decoder is reset
                     // and the byte that broke the sequence must be offered again
                     // when reprocess() is true
    };

    Status push(std::uint8_t byte);
    char32_t codePoint() const { return codePoint_; }
    // After kMalformed: whether the last byte started something new and must be pushed again.
    bool reprocess() const { return reprocess_; }
    // True while a sequence is incomplete.
    bool pending() const { return remaining_ > 0; }
    void reset() { remaining_ = 0; }

private:
    char32_t codePoint_ = 0;
    char32_t minimum_ = 0;  // smallest code point the sequence's length may encode (rejects overlong forms)
    int remaining_ = 0;
    bool reprocess_ = false;
};

}  // namespace lousa
