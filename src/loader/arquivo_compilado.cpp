#include "loader/arquivo_compilado.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "loader/decompressor.hpp"
#include "vm/word_memory.hpp"

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

// Reads the token at `at` (through the next space, or to the end of the
// text) in one pass, with tokenValue's rules, and moves `at` past it.
inline Word nextTokenValue(const char*& at, const char* const end) {
    const char* p = at;
    while (p < end && *p >= '\t' && *p <= '\r') ++p;  // a space would end the token
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<Word>::max()} + 1;
    for (; p < end && static_cast<unsigned>(*p - '0') < 10U; ++p) {
        value = value * 10 + (*p - '0');
        if (value > kCap) value = kCap;  // saturate; more digits change nothing
    }
    // Whatever follows the number belongs to the token up to its space.
    while (p < end && *p != ' ') ++p;
    at = p < end ? p + 1 : end;
    if (negative) return static_cast<Word>(-value);
    return static_cast<Word>(value > std::numeric_limits<Word>::max() ? std::numeric_limits<Word>::max() : value);
}

}  // namespace

std::vector<Word> parseCodeText(std::string_view text, std::size_t (*capacity)(std::size_t words)) {
    const char* at = text.data();
    const char* const end = at + text.size();
    const Word count = nextTokenValue(at, end);
    if (at < end) nextTokenValue(at, end);
    std::vector<Word> code;
    if (count <= 0) return code;
    // A word usually takes two characters or more, so the text bounds the reservation.
    const std::size_t words = std::min<std::size_t>(static_cast<std::size_t>(count), text.size() / 2 + 1);
    code.reserve(capacity ? capacity(words) : words);
    for (Word i = 0; i < count && at < end; ++i) code.push_back(nextTokenValue(at, end));
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

std::vector<Word> ArquivoCompilado::loadCode() const {
    // The text is gone once parsed; the words become the machine's memory
    // as they are, with room for the data above them.
    return parseCodeText(decompressPayload(path_), &WordMemory::codeCapacity);
}

}  // namespace lousa
