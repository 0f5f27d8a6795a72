// The eight-at-a-time searches and the four-at-a-time reversed copy against
// one word at a time, for every count around their group sizes and every
// place of the word sought (first, last, in the overlapping last group).

#include <gtest/gtest.h>

#include <vector>

#include "instructions/compute/word_scan.hpp"

namespace lousa::compute {
namespace {

constexpr Word kGuard = 7777;  // around the words searched: never passes, must not be written

TEST(WordScan, SearchesFindTheFirstPassingWordUpAndDown) {
    for (Word count = 0; count <= 40; ++count) {
        // hit == count: no word passes; hits before it, a second one further on.
        for (Word hit = 0; hit <= count; ++hit) {
            SCOPED_TRACE("count " + std::to_string(count) + ", hit " + std::to_string(hit));
            std::vector<Word> words(static_cast<std::size_t>(count) + 2, kGuard);
            for (Word i = 0; i < count; ++i) words[static_cast<std::size_t>(i) + 1] = 0x100 + i + 1;  // low bytes not 0
            std::vector<Word> marked = words;
            if (hit < count) marked[static_cast<std::size_t>(hit) + 1] = -1;
            if (hit + 3 < count) marked[static_cast<std::size_t>(hit) + 4] = -1;
            EXPECT_EQ(firstUp(marked.data() + 1, count, isMarker), hit);

            // Downward, index i is the word i below the top.
            std::vector<Word> down = words;
            if (hit < count) down[static_cast<std::size_t>(count - hit)] = 0x300;  // low byte 0
            if (hit + 3 < count) down[static_cast<std::size_t>(count - hit - 3)] = 0;
            EXPECT_EQ(firstDown(down.data() + count, count, isByteZero), hit);
        }
    }
}

TEST(WordScan, ReversedCopyWritesExactlyItsWords) {
    for (Word n = 0; n <= 21; ++n) {
        SCOPED_TRACE("n " + std::to_string(n));
        std::vector<Word> from(static_cast<std::size_t>(n));
        for (Word k = 0; k < n; ++k) from[static_cast<std::size_t>(k)] = k * 1000 - 5;
        std::vector<Word> to(static_cast<std::size_t>(n) + 2, kGuard);
        if (n > 0) copyReversed(to.data() + n, from.data(), n);
        EXPECT_EQ(to.front(), kGuard);
        EXPECT_EQ(to.back(), kGuard);
        for (Word k = 0; k < n; ++k) EXPECT_EQ(to[static_cast<std::size_t>(n - k)], from[static_cast<std::size_t>(k)]);
    }
}

}  // namespace
}  // namespace lousa::compute
