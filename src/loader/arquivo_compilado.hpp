#pragma once
// The runner's own executable as the source of the program's code.

#include <string>
#include <string_view>
#include <vector>

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

// The value of one token's text (leading white space, sign, digits).
Word tokenValue(std::string_view token);

// The code text of a code vector, as compiled programs carry it: the count
// N, then N + 1 (the token the loader ignores), then the words, each token
// followed by one space.
std::string formatCodeText(const std::vector<Word>& code);

}  // namespace lousa
