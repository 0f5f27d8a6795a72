#pragma once
// Searches over runs of words in the contiguous region, eight words at a
// time, for the string instructions: the -1 that ends a string, a byte 0
// that cuts one. A test is written once for both a lane vector and a single
// word, as `[](auto w) { return w == -1; }`.

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The lanes that pass a test (all ones in a lane, else 0) as bits 0 to 3.
inline unsigned laneBits(WordLanes passed) {
#if defined(__SSE2__)
    return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(std::bit_cast<__m128i>(passed))));
#else
    unsigned bits = 0;
    for (int k = 0; k < 4; ++k) bits |= (passed[k] != 0 ? 1U : 0U) << k;
    return bits;
#endif
}

// Bit k set where from[k] passes the test, for the four or eight words from p up.
template <class Test>
inline unsigned testFour(const Word* p, Test test) {
    return laneBits(test(lanesAt(p)));
}
template <class Test>
inline unsigned testEight(const Word* p, Test test) {
    return testFour(p, test) | testFour(p + 4, test) << 4;
}

inline Word lowestBit(unsigned bits) { return static_cast<Word>(std::countr_zero(bits)); }
inline Word highestBit(unsigned bits) { return static_cast<Word>(31 - std::countl_zero(bits)); }

// The first i in [0, count) whose from[i] passes test, or count.
template <class Test>
inline Word firstUp(const Word* from, Word count, Test test) {
    if (count < 4) {
        Word i = 0;
        while (i < count && !test(from[i])) ++i;
        return i;
    }
    if (count < 8) {
        // Two groups of four, the second overlapping the first.
        if (const unsigned r = testFour(from, test)) return lowestBit(r);
        const unsigned r = testFour(from + count - 4, test);
        return r != 0 ? count - 4 + lowestBit(r) : count;
    }
    for (Word i = 0; i + 8 <= count; i += 8)
        if (const unsigned r = testEight(from + i, test)) return i + lowestBit(r);
    // The last eight words, some of them seen already without a hit.
    const unsigned r = testEight(from + count - 8, test);
    return r != 0 ? count - 8 + lowestBit(r) : count;
}

// The first i in [0, count) whose at[-i] passes test, or count: the same
// search downward, as a string lies on the stack.
template <class Test>
inline Word firstDown(const Word* at, Word count, Test test) {
    if (count < 4) {
        Word i = 0;
        while (i < count && !test(at[-i])) ++i;
        return i;
    }
    if (count < 8) {
        // Word 3 of a group of four is the one nearest to at.
        if (const unsigned r = testFour(at - 3, test)) return 3 - highestBit(r);
        const unsigned r = testFour(at - count + 1, test);
        return r != 0 ? count - 1 - highestBit(r) : count;
    }
    // Word 7 of a group is the one nearest to at.
    for (Word i = 0; i + 8 <= count; i += 8)
        if (const unsigned r = testEight(at - i - 7, test)) return i + 7 - highestBit(r);
    const unsigned r = testEight(at - count + 1, test);
    return r != 0 ? count - 1 - highestBit(r) : count;
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
