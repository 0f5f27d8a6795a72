#include "loader/arquivo_compilado.hpp"

#include <cstdint>
#include <limits>

#include "loader/decompressor.hpp"

namespace lousa {

Word tokenValue(std::string_view token) {
    std::size_t i = 0;
    while (i < token.size() && (token[i] == ' ' || (token[i] >= '\t' && token[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<Word>::max()} + 1;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        value = value * 10 + (token[i] - '0');
        if (value > kCap) value = kCap;  // saturate; more digits change nothing
    }
    if (negative) return static_cast<Word>(-value);  // -2^31 fits exactly
    return static_cast<Word>(value > std::numeric_limits<Word>::max() ? std::numeric_limits<Word>::max() : value);
}

namespace {

// Tokens end with (and include) a space; the last one may be cut short by the end of the text.
class Tokens {
public:
    explicit Tokens(std::string_view text) : text_(text) {}
    [[nodiscard]] bool done() const { return position_ >= text_.size(); }
    std::string_view next() {
        const std::size_t start = position_;
        const std::size_t space = text_.find(' ', start);
        position_ = (space == std::string_view::npos) ? text_.size() : space + 1;
        return text_.substr(start, position_ - start);
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::vector<Word> parseCodeText(std::string_view text) {
    Tokens tokens(text);
    const Word count = tokenValue(tokens.next());
    tokens.next();
    std::vector<Word> code;
    if (count <= 0) return code;
    // Every word takes at least two characters, so the text bounds the reservation.
    code.reserve(std::min<std::size_t>(static_cast<std::size_t>(count), text.size() / 2 + 1));
    for (Word i = 0; i < count && !tokens.done(); ++i) code.push_back(tokenValue(tokens.next()));
    return code;
}

std::string formatCodeText(const std::vector<Word>& code) {
    std::string text;
    text.reserve(code.size() * 4 + 24);
    const auto count = static_cast<std::int64_t>(code.size());
    text += std::to_string(count) + ' ' + std::to_string(count + 1) + ' ';
    for (const Word word : code) {
        text += std::to_string(word);
        text += ' ';
    }
    return text;
}

std::vector<Word> ArquivoCompilado::loadCode() const { return parseCodeText(decompressPayload(path_)); }

}  // namespace lousa
