#pragma once
// Searches over runs of words in the contiguous region, eight words at a
// time, for the string instructions: the -1 that ends a string, a byte 0
// that cuts one. A test is written once for both a lane vector and a single
// word, as `[](auto w) { return w == -1; }`.

#include <bit>
#include <cstdint>
#include <cstring>

#include "vm/word.hpp"

namespace lousa::compute {

// Four words at once (the compilers' vector extension: plain code on
// targets without vector registers).
using WordLanes = Word __attribute__((vector_size(16)));

inline WordLanes lanesAt(const Word* p) {
    WordLanes lanes;
    std::memcpy(&lanes, p, sizeof lanes);
    return lanes;
}

// The test's result for the eight words from p up as four 64-bit
// quarters, quarter q holding p[2q] in its low half and p[2q + 1] in its
// high half, each half all ones where the word passes, else 0.
static_assert(std::endian::native == std::endian::little, "EightResults reads lanes as little-endian halves");
struct EightResults {
    std::uint64_t quarters[4];

    [[nodiscard]] bool any() const { return ((quarters[0] | quarters[1]) | (quarters[2] | quarters[3])) != 0; }
    // The lowest and the highest passing word of a group with some (0 to 7).
    [[nodiscard]] Word lowest() const {
        Word q = 0;
        while (quarters[q] == 0) ++q;
        return 2 * q + static_cast<Word>(std::countr_zero(quarters[q]) / 32);
    }
    [[nodiscard]] Word highest() const {
        Word q = 3;
        while (quarters[q] == 0) --q;
        return 2 * q + 1 - static_cast<Word>(std::countl_zero(quarters[q]) / 32);
    }
};

template <class Test>
inline EightResults testEight(const Word* p, Test test) {
    const WordLanes low = test(lanesAt(p));
    const WordLanes high = test(lanesAt(p + 4));
    EightResults results;
    std::memcpy(&results.quarters[0], &low, sizeof low);
    std::memcpy(&results.quarters[2], &high, sizeof high);
    return results;
}

// The first i in [0, count) whose from[i] passes test, or count.
template <class Test>
inline Word firstUp(const Word* from, Word count, Test test) {
    if (count < 8) {
        Word i = 0;
        while (i < count && !test(from[i])) ++i;
        return i;
    }
    for (Word i = 0; i + 8 <= count; i += 8)
        if (const EightResults r = testEight(from + i, test); r.any()) return i + r.lowest();
    // The last eight words, some of them seen already without a hit.
    const EightResults r = testEight(from + count - 8, test);
    return r.any() ? count - 8 + r.lowest() : count;
}

// The first i in [0, count) whose at[-i] passes test, or count: the same
// search downward, as a string lies on the stack.
template <class Test>
inline Word firstDown(const Word* at, Word count, Test test) {
    if (count < 8) {
        Word i = 0;
        while (i < count && !test(at[-i])) ++i;
        return i;
    }
    // Word 7 of a group is the one nearest to at.
    for (Word i = 0; i + 8 <= count; i += 8)
        if (const EightResults r = testEight(at - i - 7, test); r.any()) return i + 7 - r.highest();
    const EightResults r = testEight(at - count + 1, test);
    return r.any() ? count - 1 - r.highest() : count;
}

// last[-k] = from[k] for k in [0, n), four words at a time: the two ranges
// have no word in common.
inline void copyReversed(Word* last, const Word* from, Word n) {
    if (n < 4) {
        for (Word k = 0; k < n; ++k) last[-k] = from[k];
        return;
    }
    const auto fourAt = [&](Word k) {
        const WordLanes lanes = lanesAt(from + k);
        const WordLanes reversed = __builtin_shufflevector(lanes, lanes, 3, 2, 1, 0);
        std::memcpy(last - k - 3, &reversed, sizeof reversed);
    };
    for (Word k = 0; k + 4 <= n; k += 4) fourAt(k);
    // The last four, some of them written already with the same words.
    if (n % 4 != 0) fourAt(n - 4);
}

inline constexpr auto isMarker = [](auto w) { return w == -1; };
inline constexpr auto isByteZero = [](auto w) { return (w & 0xFF) == 0; };

}  // namespace lousa::compute
