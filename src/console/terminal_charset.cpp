#include "console/terminal_charset.hpp"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cstring>
#include <optional>

#include "console/code_page.hpp"

namespace lousa {

namespace {

bool isUtf8Name(std::string_view codeset) {
    std::string upper;
    for (const char c : codeset)
        if (c != '-' && c != '_') upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return upper == "UTF8";
}

// One iconv conversion descriptor, closed with its owner.
class Converter {
public:
    Converter(const std::string& to, const char* from) : cd_(::iconv_open(to.c_str(), from)) {}
    ~Converter() {
        if (ok()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    [[nodiscard]] bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted, or nothing when any of it cannot be.
    std::optional<std::string> convert(std::string_view input) {
        if (!ok()) return std::nullopt;
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
        std::string in(input);
        char out[32];
        char* inPtr = in.data();
        std::size_t inLeft = in.size();
        char* outPtr = out;
        std::size_t outLeft = sizeof out;
        if (::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
        if (::iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
        return std::string(out, static_cast<std::size_t>(outPtr - out));
    }

private:
    iconv_t cd_;
};

// Transliteration follows the calling thread's locale; C.UTF-8 knows how
// to drop accents, which plain C does not. The thread's locale is put back
// at once.
class TransliteratingConverter {
public:
    explicit TransliteratingConverter(const std::string& to)
        : locale_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))),
          converter_(to + "//TRANSLIT", "UTF-8") {}
    ~TransliteratingConverter() {
        if (locale_ != static_cast<locale_t>(nullptr)) ::freelocale(locale_);
    }
    TransliteratingConverter(const TransliteratingConverter&) = delete;
    TransliteratingConverter& operator=(const TransliteratingConverter&) = delete;

    // One printable ASCII character standing for the text, or nothing.
    std::optional<char> singleCharacter(std::string_view utf8Text) {
        if (locale_ == static_cast<locale_t>(nullptr)) return std::nullopt;
        const locale_t previous = ::uselocale(locale_);
        const std::optional<std::string> out = converter_.convert(utf8Text);
        ::uselocale(previous);
        if (!out || out->size() != 1) return std::nullopt;
        const char c = (*out)[0];
        if (c <= ' ' || c == '?' || c > '~') return std::nullopt;
        return c;
    }

private:
    locale_t locale_;
    Converter converter_;
};

// No byte of the text is a C0 control (a terminal would act on it). A
// printable character converted to the code set is never a C1 control of it
// (0x80-0x9F are letters in a PC code set, and controls in ISO 8859).
bool printableBytes(const std::string& text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
    }
    return !text.empty();
}

std::string utf8Of(char32_t codePoint) {
    std::string text;
    appendUtf8(text, codePoint);
    return text;
}

}  // namespace

char boxFallback(char32_t codePoint) {
    switch (codePoint) {
        case 0x2500: case 0x2501: case 0x2550:  // horizontal lines
            return '-';
        case 0x2502: case 0x2503: case 0x2551:  // vertical lines
            return '|';
        case 0x25A0:  // black square
            return '#';
        default:
            break;
    }
    if (codePoint >= 0x2500 && codePoint <= 0x257F) return '+';  // corners, tees, crossings
    if (codePoint >= 0x2580 && codePoint <= 0x259F) return '#';  // blocks and shading
    return 0;
}

TerminalCharset TerminalCharset::forLocale() {
    std::string codeset = "ANSI_X3.4-1968";
    const locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (locale != static_cast<locale_t>(nullptr)) {
        if (const char* name = ::nl_langinfo_l(CODESET, locale); name != nullptr && *name != '\0') codeset = name;
        ::freelocale(locale);
    }
    return forCodeset(codeset);
}

TerminalCharset TerminalCharset::forCodeset(std::string_view codesetName) {
    TerminalCharset charset;
    charset.utf8_ = isUtf8Name(codesetName);
    if (charset.utf8_) {
        // Unicode holds everything: no conversion to look up.
        for (int byte = 0; byte < 256; ++byte) {
            const auto b = static_cast<std::uint8_t>(byte);
            charset.glyphs_[b] = utf8Of(glyphOfCp850(b));
            charset.latin1_[b] = utf8Of(b);
            charset.typed_[b] = b;  // UTF-8 input is decoded by the key decoder
        }
        return charset;
    }
    const std::string codeset(codesetName);
    Converter toTerminal(codeset, "UTF-8");
    Converter fromLatin1(codeset, "ISO-8859-1");
    Converter fromTerminal("UTF-8", codeset.c_str());
    TransliteratingConverter plainForm(codeset);

    for (int byte = 0; byte < 256; ++byte) {
        const auto b = static_cast<std::uint8_t>(byte);
        const char32_t codePoint = glyphOfCp850(b);
        const std::string utf8 = utf8Of(codePoint);
        std::string& glyph = charset.glyphs_[b];
        if (std::optional<std::string> exact = toTerminal.convert(utf8);
                   exact && printableBytes(*exact)) {
            glyph = *exact;
        } else if (const char box = boxFallback(codePoint); box != 0) {
            glyph.assign(1, box);
        } else if (const std::optional<char> plain = plainForm.singleCharacter(utf8)) {
            glyph.assign(1, *plain);
        } else if (!toTerminal.ok() && b >= 0xA0) {
            glyph.assign(1, static_cast<char>(b));  // an unknown code set: the byte as it is
        } else {
            glyph.assign(1, '?');
        }
        if (b == 0) glyph.assign(1, ' ');

        // Latin-1 text: ASCII and line ends pass; the upper half is converted.
        std::string& latin1 = charset.latin1_[b];
        if (b < 0x80) {
            latin1.assign(1, static_cast<char>(b));
        } else if (std::optional<std::string> exact = fromLatin1.convert(std::string(1, static_cast<char>(b)));
                   exact && printableBytes(*exact)) {
            latin1 = *exact;
        } else if (const std::optional<char> plain = plainForm.singleCharacter(utf8Of(b))) {
            latin1.assign(1, *plain);
        } else {
            latin1.assign(1, '?');
        }

        // Typed bytes: ASCII as it is, the upper half through Unicode.
        std::uint8_t& typed = charset.typed_[b];
        typed = b;
        if (b >= 0x80) {
            typed = '?';
            if (std::optional<std::string> text = fromTerminal.convert(std::string(1, static_cast<char>(b)))) {
                const std::string cp850 = cp850FromUtf8(*text);
                if (cp850.size() == 1) typed = static_cast<std::uint8_t>(cp850[0]);
            }
        }
    }
    return charset;
}

std::string TerminalCharset::fromLatin1(std::string_view latin1) const {
    std::string out;
    out.reserve(latin1.size());
    for (const char ch : latin1) out += latin1_[static_cast<unsigned char>(ch)];
    return out;
}

}  // namespace lousa
