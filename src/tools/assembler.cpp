#include "tools/assembler.hpp"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>

#include "console/code_page.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::tool {

namespace {

// A listing that makes this many errors is not worth reading further.
constexpr std::size_t kMaxErrors = 20;

struct LineError {
    std::string message;
};

enum class TokenKind { Word, String, Char };

struct Token {
    TokenKind kind = TokenKind::Word;
    std::string text;  // Word: as written; String and Char: the code page 850 bytes
};

// One escape or one UTF-8 character of a literal, as a code page 850 byte.
std::uint8_t literalByte(std::string_view line, std::size_t& i) {
    if (line[i] == '\\') {
        if (i + 1 >= line.size()) throw LineError{"unfinished escape at the end of the line"};
        const char e = line[i + 1];
        i += 2;
        switch (e) {
            case 'n': return '\n';
            case 'r': return '\r';
            case 't': return '\t';
            case '\\': return '\\';
            case '"': return '"';
            case '\'': return '\'';
            case 'x': {
                auto hex = [](char h) -> int {
                    if (h >= '0' && h <= '9') return h - '0';
                    if (h >= 'a' && h <= 'f') return h - 'a' + 10;
                    if (h >= 'A' && h <= 'F') return h - 'A' + 10;
                    return -1;
                };
                if (i + 1 >= line.size() || hex(line[i]) < 0 || hex(line[i + 1]) < 0)
                    throw LineError{"\\x needs two hexadecimal digits"};
                const auto value = static_cast<std::uint8_t>(hex(line[i]) * 16 + hex(line[i + 1]));
                i += 2;
                return value;
            }
            default: throw LineError{std::string("unknown escape \\") + e};
        }
    }
    const std::size_t at = i;
    Utf8Decoder decoder;
    Utf8Decoder::Status status = Utf8Decoder::Status::kNeedMore;
    while (i < line.size() && status == Utf8Decoder::Status::kNeedMore)
        status = decoder.push(static_cast<std::uint8_t>(line[i++]));
    if (status != Utf8Decoder::Status::kCodePoint) throw LineError{"text is not valid UTF-8"};
    const std::uint8_t byte = cp850FromUnicode(decoder.codePoint());
    if (byte == '?' && decoder.codePoint() != U'?')
        throw LineError{"character '" + std::string(line.substr(at, i - at)) + "' is not in code page 850"};
    return byte;
}

std::vector<Token> tokenize(std::string_view line) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ';') break;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (c == '"' || c == '\'') {
            Token token{c == '"' ? TokenKind::String : TokenKind::Char, {}};
            ++i;
            while (true) {
                if (i >= line.size()) throw LineError{c == '"' ? "unterminated string" : "unterminated character literal"};
                if (line[i] == c) break;
                token.text.push_back(static_cast<char>(literalByte(line, i)));
            }
            ++i;
            if (token.kind == TokenKind::Char && token.text.size() != 1)
                throw LineError{"a character literal holds exactly one character"};
            tokens.push_back(std::move(token));
            continue;
        }
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != ';' &&
               line[i] != '"' && line[i] != '\'')
            ++i;
        tokens.push_back(Token{TokenKind::Word, std::string(line.substr(start, i - start))});
    }
    return tokens;
}

bool isIdentifier(std::string_view text) {
    if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
    for (const char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

std::optional<Word> parseInteger(std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text[0] == '+') return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value < INT32_MIN || value > INT32_MAX) throw LineError{"number " + std::string(text) + " does not fit in a 32-bit word"};
    return static_cast<Word>(value);
}

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::string plural(std::size_t n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

class Assembler {
public:
    AsmResult run(std::string_view listing) {
        std::size_t lineNumber = 0;
        std::size_t start = 0;
        while (start <= listing.size() && result_.errors.size() < kMaxErrors) {
            std::size_t end = listing.find('\n', start);
            if (end == std::string_view::npos) end = listing.size();
            std::string_view line = listing.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            ++lineNumber;
            try {
                assembleLine(line, lineNumber);
            } catch (const LineError& e) {
                result_.errors.push_back({lineNumber, e.message});
            }
            if (end == listing.size()) break;
            start = end + 1;
        }
        resolveFixups();
        if (!result_.ok()) result_.code.clear();
        return std::move(result_);
    }

private:
    struct Fixup {
        std::size_t index;     // code word to fill in
        Word instruction;      // address of the instruction's opcode word
        bool relative;         // d operand: target minus the instruction's address
        std::string label;
        std::size_t line;
    };

    [[nodiscard]] Word here() const { return static_cast<Word>(result_.code.size()); }
    void emit(Word w) { result_.code.push_back(w); }

    void assembleLine(std::string_view line, std::size_t lineNumber) {
        const std::vector<Token> tokens = tokenize(line);
        std::size_t t = 0;
        // Leading "123:" address assertions and "name:" labels.
        while (t < tokens.size() && tokens[t].kind == TokenKind::Word && tokens[t].text.size() > 1 &&
               tokens[t].text.back() == ':') {
            const std::string_view name = std::string_view(tokens[t].text).substr(0, tokens[t].text.size() - 1);
            if (std::isdigit(static_cast<unsigned char>(name[0]))) {
                const std::optional<Word> address = parseInteger(name);
                if (!address) throw LineError{"bad address '" + std::string(name) + "'"};
                if (*address != here())
                    throw LineError{"address " + std::string(name) + " given, but this line is at address " +
                                    std::to_string(here())};
            } else if (isIdentifier(name)) {
                if (!labels_.emplace(std::string(name), here()).second)
                    throw LineError{"label " + std::string(name) + " is already defined"};
            } else {
                throw LineError{"bad label name '" + std::string(name) + "'"};
            }
            ++t;
        }
        if (t == tokens.size()) return;
        if (tokens[t].kind != TokenKind::Word) throw LineError{"expected a mnemonic, found a literal"};
        const std::string mnemonic = upper(tokens[t].text);
        const std::vector<Token> operands(tokens.begin() + static_cast<std::ptrdiff_t>(t) + 1, tokens.end());
        const Word address = here();

        if (mnemonic == ".WORD") {
            if (operands.empty()) throw LineError{".word needs at least one value"};
            for (const Token& op : operands) emit(plainValue(op));
            return;
        }
        if (mnemonic == "PUSH_STR") {
            pushString(operands);
            return;
        }
        const std::optional<std::int32_t> number = opcodeByMnemonic(mnemonic);
        if (!number) throw LineError{"unknown mnemonic " + tokens[t].text};
        const OpcodeInfo& info = kOpcodeTable[static_cast<std::size_t>(*number)];

        if (info.operands == "*") {
            pushWords(info, operands);
            return;
        }
        if (info.operands == "$") {
            scopeName(info, operands);
            return;
        }
        if (mnemonic == "PUSH_REAL" && operands.size() == 1) {
            pushReal(info, operands[0]);
            return;
        }
        if (operands.size() != info.operands.size())
            throw LineError{mnemonic + " takes " + plural(info.operands.size(), "operand") + ", found " +
                            std::to_string(operands.size())};
        emit(info.number);
        for (std::size_t k = 0; k < operands.size(); ++k) {
            const char letter = info.operands[k];
            if ((letter == 'a' || letter == 'd') && operands[k].kind == TokenKind::Word &&
                isIdentifier(operands[k].text)) {
                fixups_.push_back({result_.code.size(), address, letter == 'd', operands[k].text, lineNumber});
                emit(0);
            } else {
                emit(plainValue(operands[k]));
            }
        }
    }

    // A number or a character literal.
    static Word plainValue(const Token& token) {
        if (token.kind == TokenKind::Char) return static_cast<signed char>(token.text[0]);
        if (token.kind == TokenKind::String) throw LineError{"a string is not allowed here"};
        if (const std::optional<Word> value = parseInteger(token.text)) return *value;
        if (isIdentifier(token.text)) throw LineError{"label " + token.text + " is not allowed here (only jump and call targets)"};
        throw LineError{"bad number '" + token.text + "'"};
    }

    // The characters of a string literal, last first, so the first ends on top.
    void pushString(const std::vector<Token>& operands) {
        if (operands.size() != 1 || operands[0].kind != TokenKind::String)
            throw LineError{"PUSH_STR takes one string literal"};
        const std::string& text = operands[0].text;
        if (text.size() > 255) throw LineError{"a string holds at most 255 characters"};
        emit(static_cast<Word>(Opcode::PUSH));
        emit(-1);
        if (text.empty()) return;
        emit(static_cast<Word>(Opcode::PUSH_N));
        emit(static_cast<Word>(text.size()));
        for (std::size_t k = text.size(); k-- > 0;) emit(static_cast<signed char>(text[k]));
    }

    void pushWords(const OpcodeInfo& info, const std::vector<Token>& operands) {
        if (operands.empty()) throw LineError{std::string(info.mnemonic) + " needs a count and that many words"};
        const Word count = plainValue(operands[0]);
        if (count < 0 || static_cast<std::size_t>(count) != operands.size() - 1)
            throw LineError{std::string(info.mnemonic) + " count is " + std::to_string(count) + ", found " +
                            plural(operands.size() - 1, "word") + " after it"};
        emit(info.number);
        for (const Token& op : operands) emit(plainValue(op));
    }

    // SCOPE_ENTER "NAME", or the raw words ending with -1.
    void scopeName(const OpcodeInfo& info, const std::vector<Token>& operands) {
        const std::string mnemonic(info.mnemonic);
        if (operands.size() == 1 && operands[0].kind == TokenKind::String) {
            const std::string& name = operands[0].text;
            if (name.size() > 255) throw LineError{"a routine name holds at most 255 characters"};
            if (name.find('\xFF') != std::string::npos)
                throw LineError{"byte 0xFF reads as the end of the name and cannot be part of it"};
            emit(info.number);
            for (const char c : name) emit(static_cast<signed char>(c));
            emit(-1);
            return;
        }
        if (operands.empty()) throw LineError{mnemonic + " takes a name in double quotes"};
        std::vector<Word> words;
        for (const Token& op : operands) words.push_back(plainValue(op));
        if (words.back() != -1) throw LineError{mnemonic + " words must end with -1"};
        for (std::size_t k = 0; k + 1 < words.size(); ++k)
            if (words[k] == -1) throw LineError{mnemonic + " name ends at its first -1; the words after it belong to no instruction"};
        if (words.size() > 256) throw LineError{"a routine name holds at most 255 characters"};
        emit(info.number);
        for (const Word w : words) emit(w);
    }

    // A real literal: the double's low word, then its high word.
    void pushReal(const OpcodeInfo& info, const Token& token) {
        if (token.kind != TokenKind::Word) throw LineError{"PUSH_REAL takes a real number or two words"};
        const std::string& text = token.text;
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool numeric = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-' ||
                                               text[0] == '+' || text[0] == '.');
        if (!numeric || end != text.c_str() + text.size() || !std::isfinite(value))
            throw LineError{"bad real number '" + text + "'"};
        const auto bits = std::bit_cast<std::uint64_t>(value);
        emit(info.number);
        emit(static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU)));
        emit(static_cast<Word>(static_cast<UWord>(bits >> 32)));
    }

    void resolveFixups() {
        for (const Fixup& f : fixups_) {
            if (result_.errors.size() >= kMaxErrors) break;
            const auto found = labels_.find(f.label);
            if (found == labels_.end()) {
                result_.errors.push_back({f.line, "undefined label " + f.label});
                continue;
            }
            result_.code[f.index] = f.relative ? wrapSub(found->second, f.instruction) : found->second;
        }
    }

    AsmResult result_;
    std::map<std::string, Word, std::less<>> labels_;
    std::vector<Fixup> fixups_;
};

}  // namespace

AsmResult assemble(std::string_view listing) { return Assembler{}.run(listing); }

std::string listingCharText(std::uint8_t byte, char quote) {
    switch (byte) {
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        case '\\': return "\\\\";
        default: break;
    }
    if (byte == static_cast<std::uint8_t>(quote)) return std::string("\\") + quote;
    if (byte < 0x20 || byte == 0x7F || byte == 0xFF || byte == 0xF0) {
        // Control bytes, and the two code page 850 spaces that would be
        // invisible in the listing, are written as escapes.
        static constexpr char digits[] = "0123456789ABCDEF";
        return std::string("\\x") + digits[byte >> 4] + digits[byte & 0xF];
    }
    std::string text;
    appendUtf8(text, unicodeFromCp850(byte));
    return text;
}

std::string listingStringLiteral(std::string_view bytes) {
    std::string text = "\"";
    for (const char c : bytes) text += listingCharText(static_cast<std::uint8_t>(c), '"');
    return text + "\"";
}

}  // namespace lousa::tool
