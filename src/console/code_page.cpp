#include "console/code_page.hpp"

#include <array>

namespace lousa {

namespace {

// Bytes 0x80-0xFF of code page 850; 0x00-0x7F are ASCII.
// clang-format off
constexpr std::array<char16_t, 128> kUpperHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // C8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // D8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // E8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // F8
};
// clang-format on

// Latin-1 code points (U+0080-U+00FF) back to code page 850; 0 = not in the page.
constexpr std::array<std::uint8_t, 128> makeLatin1Reverse() {
    std::array<std::uint8_t, 128> reverse{};
    for (std::size_t i = 0; i < kUpperHalf.size(); ++i) {
        const char16_t cp = kUpperHalf[i];
        if (cp >= 0x80 && cp <= 0xFF) reverse[cp - 0x80] = static_cast<std::uint8_t>(0x80 + i);
    }
    return reverse;
}
constexpr std::array<std::uint8_t, 128> kLatin1Reverse = makeLatin1Reverse();

constexpr char32_t kReplacement = 0xFFFD;

// The symbols of the control bytes 0-31 on a PC text screen.
// clang-format off
constexpr std::array<char16_t, 32> kControlGlyphs = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // 00
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  // 08
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // 10
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // 18
};
// clang-format on

}  // namespace

char32_t unicodeFromCp850(std::uint8_t byte) {
    return byte < 0x80 ? char32_t{byte} : char32_t{kUpperHalf[byte - 0x80]};
}

char32_t glyphOfCp850(std::uint8_t byte) {
    if (byte < 0x20) return kControlGlyphs[byte];
    if (byte == 0x7F) return 0x2302;  // the house symbol
    return unicodeFromCp850(byte);
}

std::uint8_t cp850FromUnicode(char32_t codePoint) {
    if (codePoint < 0x80) return static_cast<std::uint8_t>(codePoint);
    if (codePoint <= 0xFF) {
        const std::uint8_t byte = kLatin1Reverse[codePoint - 0x80];
        return byte != 0 ? byte : std::uint8_t{'?'};
    }
    // The box drawing, shading and a few letters: 32 entries, searched in place.
    for (std::size_t i = 0; i < kUpperHalf.size(); ++i) {
        if (kUpperHalf[i] == codePoint) return static_cast<std::uint8_t>(0x80 + i);
    }
    return '?';
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) codePoint = kReplacement;
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

std::string utf8FromCp850(std::string_view cp850Bytes) {
    std::string out;
    out.reserve(cp850Bytes.size());
    for (const char ch : cp850Bytes) appendUtf8(out, unicodeFromCp850(static_cast<std::uint8_t>(ch)));
    return out;
}

std::string cp850FromUtf8(std::string_view utf8Text) {
    std::string out;
    out.reserve(utf8Text.size());
    Utf8Decoder decoder;
    for (std::size_t i = 0; i < utf8Text.size();) {
        switch (decoder.push(static_cast<std::uint8_t>(utf8Text[i]))) {
            case Utf8Decoder::Status::kNeedMore:
                ++i;
                break;
            case Utf8Decoder::Status::kCodePoint:
                out.push_back(static_cast<char>(cp850FromUnicode(decoder.codePoint())));
                ++i;
                break;
            case Utf8Decoder::Status::kMalformed:
                out.push_back('?');
                if (!decoder.reprocess()) ++i;
                break;
        }
    }
    if (decoder.pending()) out.push_back('?');  // the text ended inside a character
    return out;
}

Utf8Decoder::Status Utf8Decoder::push(std::uint8_t byte) {
    reprocess_ = false;
    if (remaining_ == 0) {
        if (byte < 0x80) {
            codePoint_ = byte;
            return Status::kCodePoint;
        }
        if (byte >= 0xC2 && byte <= 0xDF) {
            codePoint_ = byte & 0x1FU;
            remaining_ = 1;
            minimum_ = 0x80;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            codePoint_ = byte & 0x0FU;
            remaining_ = 2;
            minimum_ = 0x800;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            codePoint_ = byte & 0x07U;
            remaining_ = 3;
            minimum_ = 0x10000;
        } else {
            return Status::kMalformed;  // a stray continuation byte or a lead byte UTF-8 never uses
        }
        return Status::kNeedMore;
    }
    if ((byte & 0xC0U) != 0x80) {
        // The sequence broke off; the byte itself may begin the next character.
        remaining_ = 0;
        reprocess_ = true;
        return Status::kMalformed;
    }
    codePoint_ = (codePoint_ << 6) | (byte & 0x3FU);
    if (--remaining_ > 0) return Status::kNeedMore;
    const bool valid =
        codePoint_ >= minimum_ && codePoint_ <= 0x10FFFF && !(codePoint_ >= 0xD800 && codePoint_ <= 0xDFFF);
    return valid ? Status::kCodePoint : Status::kMalformed;
}

}  // namespace lousa
