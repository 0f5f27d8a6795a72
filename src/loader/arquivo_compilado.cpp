#include "loader/arquivo_compilado.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include <sys/mman.h>

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

// Words whose pages are made present at a time, ahead of the parse.
constexpr std::size_t kPresentAhead = std::size_t{64} << 10;

// Makes the pages wholly inside [first, first + count) present and
// writable in one call, instead of one fault each as the words are stored
// (a fault is far dearer than its share of one call, most of all under a
// hypervisor). Only a hint: where the kernel does not do it, the words
// fault in as before.
void makePresent(Word* first, std::size_t count) {
    constexpr std::uintptr_t kPage = 4096;
    const auto begin = (reinterpret_cast<std::uintptr_t>(first) + kPage - 1) & ~(kPage - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(first + count) & ~(kPage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

constexpr std::int64_t kSaturation = std::int64_t{std::numeric_limits<Word>::max()} + 1;

inline Word signedValue(bool negative, std::int64_t value) {
    if (negative) return static_cast<Word>(-value);  // -2^31 fits exactly
    return static_cast<Word>(value > std::numeric_limits<Word>::max() ? std::numeric_limits<Word>::max() : value);
}

// Reads the token at `at` (through the next space, or to the end of the
// text) in one pass, with tokenValue's rules, and moves `at` past it.
inline Word nextTokenValue(const char*& at, const char* const end) {
    const char* p = at;
    while (p < end && *p >= '\t' && *p <= '\r') ++p;  // a space would end the token
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int64_t value = 0;
    for (; p < end && static_cast<unsigned>(*p - '0') < 10U; ++p) {
        value = value * 10 + (*p - '0');
        if (value > kSaturation) value = kSaturation;  // saturate; more digits change nothing
    }
    // Whatever follows the number belongs to the token up to its space.
    while (p < end && *p != ' ') ++p;
    at = p < end ? p + 1 : end;
    return signedValue(negative, value);
}

}  // namespace

std::vector<Word> parseCodeText(std::string_view text, std::size_t (*capacity)(std::size_t words)) {
    CodeTextParser parser(capacity);
    parser.begin(text.size());
    parser.take(text);
    return parser.finish();
}

void CodeTextParser::word(Word value) {
    const std::size_t index = tokens_++;
    if (index == 0) {
        count_ = value;
        if (count_ <= 0) {
            done_ = true;
            return;
        }
        // A word usually takes two characters or more, so the text bounds the reservation.
        const std::size_t words = std::min<std::size_t>(static_cast<std::size_t>(count_), mostBytes_ / 2 + 1);
        code_.reserve(capacity_ ? capacity_(words) : words);
        return;
    }
    if (index == 1) return;  // the ignored token
    if (code_.size() >= present_) {
        // The next words' pages, as far as the count and the reservation go.
        const std::size_t end =
            std::min({code_.size() + kPresentAhead, static_cast<std::size_t>(count_), code_.capacity()});
        if (end > code_.size()) {
            makePresent(code_.data() + code_.size(), end - code_.size());
            present_ = end;
        } else {
            present_ = SIZE_MAX;  // past the reservation: the vector moves as it grows
        }
    }
    code_.push_back(value);
    if (code_.size() == static_cast<std::size_t>(count_)) done_ = true;
}

// One character of a token cut by a piece's end, by nextTokenValue's rules.
void CodeTextParser::feed(char c) {
    const bool digit = static_cast<unsigned>(c - '0') < 10U;
    switch (stage_) {
    case Stage::None:
    case Stage::Lead:
        if (c >= '\t' && c <= '\r') {
            stage_ = Stage::Lead;
        } else if (c == '+' || c == '-') {
            negative_ = c == '-';
            stage_ = Stage::Digits;
        } else if (digit) {
            stage_ = Stage::Digits;
            value_ = c - '0';
        } else {
            stage_ = Stage::Rest;
        }
        break;
    case Stage::Digits:
        if (digit) {
            value_ = std::min(value_ * 10 + (c - '0'), kSaturation);
        } else {
            stage_ = Stage::Rest;
        }
        break;
    case Stage::Rest:
        break;
    }
}

std::size_t CodeTextParser::wordsStop() const {
    return tokens_ < 2 ? 0 : std::min(static_cast<std::size_t>(count_), present_);
}

Word CodeTextParser::partialValue() const { return signedValue(negative_, value_); }

void CodeTextParser::take(std::string_view piece) {
    const char* at = piece.data();
    const char* const end = at + piece.size();
    if (stage_ != Stage::None) {
        // The rest of the token the last piece ended in, through its space.
        while (at < end && *at != ' ') feed(*at++);
        if (at == end) return;
        ++at;
        const Word value = partialValue();
        stage_ = Stage::None;
        negative_ = false;
        value_ = 0;
        if (!done_) word(value);
    }
    if (done_ || at == end) return;
    // Whole tokens up to the piece's last space, then the start of the next.
    const auto* const lastSpace = static_cast<const char*>(::memrchr(at, ' ', static_cast<std::size_t>(end - at)));
    if (lastSpace != nullptr) {
        const char* const wholeEnd = lastSpace + 1;
        // Words are stored here directly while they stay below the count and
        // the pages made present; word() takes every other token.
        std::size_t stop = wordsStop();
        while (at < wholeEnd) {
            const Word value = nextTokenValue(at, wholeEnd);
            if (code_.size() + 1 < stop) [[likely]] {
                code_.push_back(value);
                continue;
            }
            word(value);
            if (done_) return;
            stop = wordsStop();
        }
    }
    while (at < end) feed(*at++);
}

std::vector<Word> CodeTextParser::finish() {
    // A token the text ends in, without its space.
    if (stage_ != Stage::None && !done_) word(partialValue());
    stage_ = Stage::None;
    return std::move(code_);
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
    // The text is parsed piece by piece as it is decoded, never held whole;
    // the words become the machine's memory as they are, with room for the
    // data above them.
    CodeTextParser parser(&WordMemory::codeCapacity);
    decompressPayload(path_, parser);
    return parser.finish();
}

}  // namespace lousa
