#pragma once
// Comparisons of integers, reals and strings, and the range test OUTSIDE.
// Each replaces its operands by one boolean word, 1 or 0.
//
// Strings are compared where they lie on the stack, byte by byte as unsigned
// values, without copying them out: comparisons sit in loop conditions.

#include <algorithm>
#include <cstdint>

#include "instructions/compute/word_scan.hpp"
#include "vm/interpretador.hpp"

namespace lousa {

namespace compute {

// Operands are searched for their marker as far as popString pops
// (kStringScanLimit), so that a string without a marker is consumed alike.
using lousa::kStringScanLimit;

// One operand of a string operation as it lies on the stack: its characters
// are the low bytes of the words top, top - 1, ..., top - length + 1.
struct StackText {
    Word top = 0;
    Word length = 0;
    Word below = 0;  // the top of the stack once the operand is taken away
    // The word at top when all the characters lie in the contiguous region
    // (character i at words[-i]), else null. Valid until the region grows,
    // which no write within the text can make it do.
    const Word* words = nullptr;

    [[nodiscard]] unsigned char at(const Interpretador& m, Word i) const {
        return static_cast<unsigned char>((words ? words[-i] : m.readWord(wrapSub(top, i))) & 0xFF);
    }
};

// Where stackString finds the marker word by word (for a string reaching
// below address 0 or lying outside the contiguous region): its distance
// from top, or kStringScanLimit + 1 when there is none so far down. Kept
// out of line and returning one word, so that the callers keep their
// operands in registers.
[[gnu::noinline]] inline Word markerByWords(const Interpretador& m, Word top) {
    for (Word i = 0; i <= kStringScanLimit; ++i) {
        if (m.readWord(wrapSub(top, i)) == -1) return i;
    }
    return kStringScanLimit + 1;
}

// The string whose first character is the word at top, down to its marker.
// Inlined into every string instruction: the search is a few groups of words.
[[gnu::always_inline]] inline StackText stackString(const Interpretador& m, Word top) {
    // Searched where it lies when the words it may span are contiguous.
    const std::int64_t deepest = std::max<std::int64_t>(std::int64_t{top} - kStringScanLimit, 0);
    if (top >= 0) {
        if (const Word* low = m.wordsAt(deepest, std::int64_t{top} - deepest + 1)) {
            const Word* at = low + (top - deepest);
            const auto reach = static_cast<Word>(top - deepest);
            const Word i = firstDown(at, reach + 1, isMarker);
            if (i <= reach) return StackText{top, i, wrapSub(top, i + 1), i > 0 ? at : nullptr};
            if (reach == kStringScanLimit) return StackText{top, kStringScanLimit, wrapSub(top, kStringScanLimit), at};
            // Not found above address 0: the search goes on below it, word by word.
        }
    }
    const Word i = markerByWords(m, top);
    if (i > kStringScanLimit) return StackText{top, kStringScanLimit, wrapSub(top, kStringScanLimit)};
    return StackText{top, i, wrapSub(top, i + 1)};
}

// A single character word taken as a one-character string.
inline StackText stackChar(Word top) { return StackText{top, 1, wrapSub(top, 1)}; }

// The two operands of a string operation by kind (0 string,string;
// 1 char,string; 2 string,char; 3 char,char), the right one on top.
struct StringOperands {
    StackText left;
    StackText right;
};

// The operands' top is the stack's top unless given.
[[gnu::always_inline]] inline StringOperands stackStringOperands(const Interpretador& m, Word kind, Word top) {
    const StackText right = (kind == 2 || kind == 3) ? stackChar(top) : stackString(m, top);
    const StackText left = (kind == 1 || kind == 3) ? stackChar(right.below) : stackString(m, right.below);
    return StringOperands{left, right};
}
[[gnu::always_inline]] inline StringOperands stackStringOperands(const Interpretador& m, Word kind) {
    return stackStringOperands(m, kind, m.sp);
}

// <0, 0 or >0 as a sorts before, with or after b; a proper prefix sorts first.
inline int compareTexts(const Interpretador& m, const StackText& a, const StackText& b) {
    const Word common = std::min(a.length, b.length);
    for (Word i = 0; i < common; ++i) {
        const int ca = a.at(m, i);
        const int cb = b.at(m, i);
        if (ca != cb) return ca - cb;
    }
    return a.length == b.length ? 0 : (a.length < b.length ? -1 : 1);
}

// Replaces the two string operands of the instruction by the comparison's
// boolean; test receives the three-way result.
template <typename Test>
inline void compareStrings(Interpretador& m, Test test) {
    const StringOperands ops = stackStringOperands(m, m.operand(1));
    const bool result = test(compareTexts(m, ops.left, ops.right));
    m.sp = ops.left.below;
    m.push(result ? 1 : 0);
    m.pc = wrapAdd(m.pc, 2);
}

template <typename Test>
inline void compareInts(Interpretador& m, Test test) {
    const Word b = m.readWord(m.sp);
    m.sp = wrapSub(m.sp, 1);
    m.writeWord(m.sp, test(m.readWord(m.sp), b) ? 1 : 0);
    m.pc = wrapAdd(m.pc, 1);
}

// Any comparison with a NaN is false, except where the test is written as
// the negation of its opposite (LE_REAL, LT_REAL).
template <typename Test>
inline void compareReals(Interpretador& m, Test test) {
    const double b = m.topReal();
    const double a = m.readReal(wrapSub(m.sp, 3));
    m.sp = wrapSub(m.sp, 3);
    m.writeWord(m.sp, test(a, b) ? 1 : 0);
    m.pc = wrapAdd(m.pc, 1);
}

}  // namespace compute

inline void Interpretador::opOutside() {
    const Word high = pop();
    const Word low = pop();
    const Word v = readWord(sp);
    writeWord(sp, (v < low || v > high) ? 1 : 0);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opGtInt() { compute::compareInts(*this, [](Word a, Word b) { return a > b; }); }
inline void Interpretador::opGeInt() { compute::compareInts(*this, [](Word a, Word b) { return a >= b; }); }
inline void Interpretador::opEqInt() { compute::compareInts(*this, [](Word a, Word b) { return a == b; }); }
inline void Interpretador::opLtInt() { compute::compareInts(*this, [](Word a, Word b) { return a < b; }); }
inline void Interpretador::opLeInt() { compute::compareInts(*this, [](Word a, Word b) { return a <= b; }); }

inline void Interpretador::opGtReal() { compute::compareReals(*this, [](double a, double b) { return a > b; }); }
inline void Interpretador::opGeReal() { compute::compareReals(*this, [](double a, double b) { return a >= b; }); }
inline void Interpretador::opEqReal() { compute::compareReals(*this, [](double a, double b) { return a == b; }); }
inline void Interpretador::opLeReal() { compute::compareReals(*this, [](double a, double b) { return !(a > b); }); }
inline void Interpretador::opLtReal() { compute::compareReals(*this, [](double a, double b) { return !(a >= b); }); }

inline void Interpretador::opGtStr() { compute::compareStrings(*this, [](int c) { return c > 0; }); }
inline void Interpretador::opGeStr() { compute::compareStrings(*this, [](int c) { return c >= 0; }); }
inline void Interpretador::opEqStr() { compute::compareStrings(*this, [](int c) { return c == 0; }); }
inline void Interpretador::opLtStr() { compute::compareStrings(*this, [](int c) { return c < 0; }); }
inline void Interpretador::opLeStr() { compute::compareStrings(*this, [](int c) { return c <= 0; }); }

}  // namespace lousa
