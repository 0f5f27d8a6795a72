#pragma once
// The runner's own executable as the source of the program's code.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "loader/decompressor.hpp"
#include "vm/word.hpp"

namespace lousa {

class ArquivoCompilado {
public:
    explicit ArquivoCompilado(std::string path) : path_(std::move(path)) {}
    // Decompresses the payload of the stored path and parses it into code words.
    [[nodiscard]] std::vector<Word> loadCode() const;
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Parses a code text: a count N, one ignored token, then N code words. Each
// token runs through the next space; its value is its leading decimal
// integer (0 if none), saturated to the 32-bit range. With `capacity`, the
// vector is reserved capacity(words) for the words the text can hold, so
// that it can grow that far without being copied.
std::vector<Word> parseCodeText(std::string_view text, std::size_t (*capacity)(std::size_t words) = nullptr);

// The same parse over a text that arrives in pieces (as the loader decodes
// it), cut anywhere, even inside a token: the same words as parseCodeText
// over the whole text, and the same reservation when begin is given the
// text's length (a bound above it reserves as a text that long would; a
// program's count never asks for more words than its text holds, so only
// a damaged one can see the difference).
class CodeTextParser final : public TextSink {
public:
    explicit CodeTextParser(std::size_t (*capacity)(std::size_t words) = nullptr) : capacity_(capacity) {}
    void begin(std::size_t mostBytes) override { mostBytes_ = mostBytes; }
    void take(std::string_view piece) override;
    // The words, once the text has ended.
    std::vector<Word> finish();

private:
    // A token cut by the end of a piece, read so far.
    enum class Stage : std::uint8_t { None, Lead, Digits, Rest };
    void word(Word value);
    void feed(char c);
    [[nodiscard]] Word partialValue() const;
    // Below this many words, the next word needs none of word()'s care.
    [[nodiscard]] std::size_t wordsStop() const;

    std::size_t (*capacity_)(std::size_t words);
    std::size_t mostBytes_ = 0;
    std::vector<Word> code_;
    std::size_t tokens_ = 0;  // tokens read so far: the count, the ignored one, then words
    Word count_ = 0;
    std::size_t present_ = 0;  // words of the reservation whose pages are present
    bool done_ = false;  // no more words are taken
    Stage stage_ = Stage::None;
    bool negative_ = false;
    std::int64_t value_ = 0;
};

// The value of one token's text (leading white space, sign, digits).
Word tokenValue(std::string_view token);

// The code text of a code vector, as compiled programs carry it: the count
// N, then N + 1 (the token the loader ignores), then the words, each token
// followed by one space.
std::string formatCodeText(const std::vector<Word>& code);

}  // namespace lousa
