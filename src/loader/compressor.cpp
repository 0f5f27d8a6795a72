#include "loader/compressor.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "loader/bit_writer.hpp"
#include "loader/decompressor.hpp"

namespace lousa {

namespace {

constexpr unsigned kLiteralBits = 9;
constexpr unsigned kMatchBits = 17;
constexpr std::size_t kMinMatch = 2;  // two literals cost 18 bits, a match 17
constexpr std::size_t kMaxMatch = 15;
// Candidates examined per position. Code text rarely has long chains; the
// bound keeps input made of two or three distinct bytes from taking
// seconds per megabyte, at the price of sometimes missing the longest match.
constexpr std::size_t kMaxCandidates = 256;

struct Match {
    std::size_t length = 0;
    std::size_t source = 0;  // index in the text where the copied bytes start
};

// Longest earlier occurrence of text[i..] that lies wholly among the last
// kWindowSize bytes before i: the decoder copies a match from its window
// before appending any of it, so a source may not reach into the match.
class MatchFinder {
public:
    explicit MatchFinder(std::string_view text) : text_(text), previous_(text.size(), kNone) {
        head_.fill(kNone);
    }

    Match longestAt(std::size_t i) const {
        Match best;
        if (i + kMinMatch > text_.size()) return best;
        const std::size_t windowStart = i > kWindowSize ? i - kWindowSize : 0;
        std::size_t candidates = 0;
        for (std::size_t j = head_[hashAt(i)]; j != kNone && j >= windowStart && candidates < kMaxCandidates;
             j = previous_[j], ++candidates) {
            const std::size_t limit = std::min({kMaxMatch, i - j, text_.size() - i});
            std::size_t length = 0;
            while (length < limit && text_[j + length] == text_[i + length]) ++length;
            if (length > best.length) best = Match{length, j};
            if (best.length == kMaxMatch) break;
        }
        return best.length >= kMinMatch ? best : Match{};
    }

    // Makes position i a candidate source for later positions.
    void insert(std::size_t i) {
        if (i + kMinMatch > text_.size()) return;
        const std::size_t h = hashAt(i);
        previous_[i] = head_[h];
        head_[h] = i;
    }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    [[nodiscard]] std::size_t hashAt(std::size_t i) const {
        return (static_cast<std::uint8_t>(text_[i]) << 8) | static_cast<std::uint8_t>(text_[i + 1]);
    }

    std::string_view text_;
    std::array<std::size_t, 1U << 16> head_{};
    std::vector<std::size_t> previous_;
};

}  // namespace

std::string encodeStream(std::string_view text) {
    const std::size_t n = text.size();
    std::vector<Match> longest(n);
    {
        auto finder = std::make_unique<MatchFinder>(text);
        for (std::size_t i = 0; i < n; ++i) {
            longest[i] = finder->longestAt(i);
            finder->insert(i);
        }
    }
    // Every prefix of a match is a match at the same source, so choosing the
    // cheapest length at each position from the end gives the fewest bits.
    std::vector<std::uint64_t> cost(n + 1, 0);
    std::vector<std::uint8_t> choice(n, 1);
    for (std::size_t i = n; i-- > 0;) {
        cost[i] = cost[i + 1] + kLiteralBits;
        for (std::size_t length = kMinMatch; length <= longest[i].length; ++length) {
            if (cost[i + length] + kMatchBits < cost[i]) {
                cost[i] = cost[i + length] + kMatchBits;
                choice[i] = static_cast<std::uint8_t>(length);
            }
        }
    }
    BitWriter out;
    for (std::size_t i = 0; i < n;) {
        if (choice[i] == 1) {
            out.literal(text[i]);
            ++i;
            continue;
        }
        const std::size_t windowStart = i > kWindowSize ? i - kWindowSize : 0;
        out.match(static_cast<unsigned>(longest[i].source - windowStart), choice[i]);
        i += choice[i];
    }
    return std::move(out).finish();
}

std::string buildPayload(std::string_view name, std::string_view text) {
    if (name.size() > 254) throw std::length_error("program name longer than 254 bytes");
    std::string payload = "\x1A\x1A\x1A";
    payload.push_back(static_cast<char>(name.size() + 1));
    payload.append(name);
    payload.push_back('\0');
    payload.append(encodeStream(text));
    return payload;
}

}  // namespace lousa
