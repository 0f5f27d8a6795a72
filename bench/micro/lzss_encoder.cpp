#include "micro/lzss_encoder.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace lousa::bench {

namespace {

constexpr std::size_t kWindow = 4096;
constexpr std::size_t kMaxLength = 15;

class BitWriter {
public:
    void put(unsigned value, unsigned width) {
        for (unsigned i = width; i-- > 0;) {
            current_ = static_cast<std::uint8_t>((current_ << 1) | ((value >> i) & 1U));
            if (++used_ == 8) {
                bytes_.push_back(static_cast<char>(current_));
                current_ = 0;
                used_ = 0;
            }
        }
    }
    // Data bytes, then the last byte with its count of valid bits, then one trailing byte.
    std::string finish() {
        unsigned valid = 8;
        if (used_ > 0) {
            valid = used_;
            bytes_.push_back(static_cast<char>(current_ << (8 - used_)));
        } else if (bytes_.empty()) {
            bytes_.push_back('\0');
            valid = 0;
        }
        bytes_.push_back(static_cast<char>(valid));
        bytes_.push_back('\0');
        return std::move(bytes_);
    }

private:
    std::string bytes_;
    std::uint8_t current_ = 0;
    unsigned used_ = 0;
};

}  // namespace

std::string encodeStream(std::string_view text) {
    BitWriter out;
    // Last position of every 3-byte prefix, chained to earlier ones.
    std::vector<std::int64_t> previous(text.size(), -1);
    std::vector<std::int64_t> head(1 << 16, -1);
    auto hash = [&](std::size_t i) {
        return ((static_cast<unsigned>(static_cast<unsigned char>(text[i])) << 8) ^
                (static_cast<unsigned>(static_cast<unsigned char>(text[i + 1])) << 4) ^
                static_cast<unsigned char>(text[i + 2])) & 0xFFFFU;
    };
    auto remember = [&](std::size_t i) {
        if (i + 2 >= text.size()) return;
        const unsigned h = hash(i);
        previous[i] = head[h];
        head[h] = static_cast<std::int64_t>(i);
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t bestLength = 0;
        std::size_t bestSource = 0;
        const std::size_t windowStart = pos > kWindow ? pos - kWindow : 0;
        if (pos + 2 < text.size()) {
            int chain = 64;
            for (std::int64_t s = head[hash(pos)]; s >= static_cast<std::int64_t>(windowStart) && chain-- > 0;
                 s = previous[static_cast<std::size_t>(s)]) {
                const auto source = static_cast<std::size_t>(s);
                // The copy is read whole before it is appended: no overlap with its own output.
                const std::size_t limit = std::min({kMaxLength, pos - source, text.size() - pos});
                std::size_t length = 0;
                while (length < limit && text[source + length] == text[pos + length]) ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestSource = source;
                }
            }
        }
        if (bestLength >= 2) {
            out.put(1, 1);
            out.put(static_cast<unsigned>(bestSource - windowStart), 12);
            out.put(static_cast<unsigned>(bestLength), 4);
            for (std::size_t i = 0; i < bestLength; ++i) remember(pos + i);
            pos += bestLength;
        } else {
            out.put(0, 1);
            out.put(static_cast<unsigned char>(text[pos]), 8);
            remember(pos);
            ++pos;
        }
    }
    return out.finish();
}

std::string makeContainer(std::string_view text, std::size_t imageBytes) {
    std::string container;
    container.reserve(imageBytes + text.size());
    for (std::size_t i = 0; i < imageBytes; ++i) container.push_back(static_cast<char>(i % 26 == 25 ? 'x' : 'a' + i % 26));
    container += "\x1A\x1A\x1A";
    const std::string name = "bench.pas";
    container.push_back(static_cast<char>(name.size() + 1));
    container += name;
    container.push_back('\0');
    container += encodeStream(text);
    return container;
}

std::string makeCodeText(std::size_t bytes, std::string_view firstWords) {
    // Filler shaped like compiled statements: LINE n, ADDR_UP 0 k, LOAD_UP 0 k, PUSH v, ADD_INT, STORE_N 1.
    std::string body(firstWords);
    unsigned line = 1;
    std::uint32_t state = 12345;
    while (body.size() < bytes) {
        state = state * 1103515245U + 12345U;
        const unsigned k = 3 + (state >> 16) % 40;
        const unsigned v = (state >> 8) % 100000;
        body += "62 " + std::to_string(line++) + " 126 0 " + std::to_string(k) + " 127 0 " + std::to_string(k) +
                " 58 " + std::to_string(v) + " 1 8 1 ";
    }
    std::size_t words = 0;
    for (const char c : body) words += c == ' ' ? 1 : 0;  // every token ends with a space
    return std::to_string(words) + " " + std::to_string(words + 1) + " " + body;
}

}  // namespace lousa::bench
