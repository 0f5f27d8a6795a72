#pragma once
// The translation tier's string forms, out of the loop's body: a string
// instruction does enough work that a call costs little beside it, while
// its code inlined into the loop would crowd the registers of every other
// handler. Each runs the instruction's common case on the loop's registers
// and returns true, or returns false having changed nothing (the loop then
// runs the original instructions through the reference).
//
// The operands are found where they lie, as the reference finds them; a
// result is written only once its words are known to lie above the code in
// the contiguous memory.

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "instructions/compute/comparisons.hpp"
#include "instructions/compute/strings.hpp"
#include "instructions/compute/word_scan.hpp"
#include "vm/interpretador.hpp"

namespace lousa::engine {

// The loop's view of the memory: the contiguous words m[0, size), of which
// those from lo (the code size) up may be written directly.
struct DenseWords {
    Word* m;
    UWord lo;
    UWord size;

    // The count words from first all lie in the memory.
    [[nodiscard]] bool holds(Word first, Word count) const {
        return first >= 0 && std::uint64_t{static_cast<UWord>(first)} + static_cast<UWord>(count) <= size;
    }
    // And may be written: above the code.
    [[nodiscard]] bool writable(Word first, Word count) const {
        return static_cast<UWord>(first) >= lo && holds(first, count);
    }
};

// PUSH_N's n words, read at from in the code, after the word first when marked.
[[gnu::always_inline]] inline bool pushWordsForm(DenseWords d, Word& sp, Word n, Word from, bool marked, Word first) {
    const Word top = wrapAdd(sp, 1);
    const Word all = n + (marked ? 1 : 0);
    if (!d.writable(top, all)) return false;
    if (marked) d.m[top] = first;
    std::copy_n(d.m + from, n, d.m + top + (marked ? 1 : 0));
    sp = top + all - 1;
    return true;
}

// LOAD_STR of the variable at address, its reach words at most, the marker
// written at top (where ADDR_UP's push of the address, when fused, is
// written over): the string's length, or -1 with nothing written. The
// characters copied hold no -1 (the first one ends the variable's string).
[[gnu::always_inline]] inline Word loadStr(DenseWords d, Word address, Word top, Word reach) {
    if (!d.holds(address, reach) || !d.writable(top, 1)) return -1;
    const Word count = compute::firstUp(d.m + address, reach, compute::isMarker);
    // A variable overlapping the words written is read as the reference reads it, word by word.
    if (!d.writable(top, count + 1) || !compute::apart(address, std::min(count + 1, reach), top, count + 1)) return -1;
    d.m[top] = -1;
    compute::copyReversed(d.m + top + count, d.m + address, count);
    return count;
}

[[gnu::always_inline]] inline bool loadStrForm(DenseWords d, Word& sp, Word address, Word top, Word reach) {
    const Word count = loadStr(d, address, top, reach);
    if (count < 0) return false;
    sp = top + count;
    return true;
}

// ADDR_UP 0; LOAD_STR; STR_POS 1: where the character beneath first occurs
// in the variable's string, searched in the variable (which the copy on the
// stack equals), the result written over the character.
[[gnu::always_inline]] inline bool localPosForm(DenseWords d, Word& sp, Word address, Word reach) {
    if (!d.writable(sp, 1)) return false;
    const Word count = loadStr(d, address, wrapAdd(sp, 1), reach);
    if (count < 0) return false;
    const Word c = d.m[sp] & 0xFF;
    const Word at = compute::firstUp(d.m + address, count, [c](auto w) { return (w & 0xFF) == c; });
    d.m[sp] = at < count ? at + 1 : 0;
    return true;
}

[[gnu::always_inline]] inline bool storeStrForm(const Interpretador& vm, DenseWords d, Word& sp, Word capacity) {
    const compute::StackText text = compute::stackString(vm, sp);
    const Word n = std::min(text.length, capacity);
    const Word written = n < capacity ? n + 1 : n;
    if (!d.holds(text.below, 1) || (text.words == nullptr && n > 0)) return false;
    const Word address = d.m[text.below];
    if (!d.writable(address, written)) return false;
    Word* to = d.m + address;
    // A variable overlapping the string is written word by word, as the reference does.
    if (n > 0 && compute::apart(address, written, std::int64_t{text.top} - n + 1, n)) {
        compute::copyReversed(to + n - 1, text.words - n + 1, n);
    } else {
        for (Word i = 0; i < n; ++i) to[i] = text.words[-i];
    }
    if (n < capacity) to[n] = -1;
    sp = wrapSub(text.below, 1);
    return true;
}

// CONCAT's result in place of its operands, whose words all lie above the code.
[[gnu::always_inline]] inline void joinOver(const Interpretador& vm, DenseWords d, Word& sp, const compute::StringOperands& ops) {
    const Word top = wrapAdd(ops.left.below, 1);
    Word chars[255];
    const Word length = compute::joinedChars(vm, ops, chars);
    d.m[top] = -1;
    compute::copyReversed(d.m + top + length, chars, length);
    sp = top + length;
}

// ADDR_UP 0; LOAD_STR; CONCAT 0: the variable's string joined to the string
// beneath, the right operand known from the load without a search.
[[gnu::noinline, gnu::flatten]] inline bool localConcatForm(const Interpretador& vm, DenseWords d, Word& sp, Word address,
                                                            Word reach) {
    const compute::StackText left = compute::stackString(vm, sp);
    // The result lies within the words from the left operand's marker to the
    // loaded string's last, which the load checks from its marker on.
    if (!d.writable(wrapAdd(left.below, 1), 1)) return false;
    const Word top = wrapAdd(sp, 1);
    const Word count = loadStr(d, address, top, reach);
    if (count < 0) return false;
    const compute::StackText right{top + count, count, sp, count > 0 ? d.m + top + count : nullptr};
    joinOver(vm, d, sp, compute::StringOperands{left, right});
    return true;
}

[[gnu::noinline, gnu::flatten]] inline bool concatForm(const Interpretador& vm, DenseWords d, Word& sp, Word kind) {
    const compute::StringOperands ops = compute::stackStringOperands(vm, kind, sp);
    const Word top = wrapAdd(ops.left.below, 1);
    if (!d.writable(top, 1)) return false;
    Word chars[255];
    const Word length = compute::joinedChars(vm, ops, chars);
    if (!d.writable(top, length + 1)) return false;
    d.m[top] = -1;
    compute::copyReversed(d.m + top + length, chars, length);
    sp = top + length;
    return true;
}

[[gnu::noinline, gnu::flatten]] inline bool strPosForm(const Interpretador& vm, DenseWords d, Word& sp, Word kind) {
    const compute::StringOperands ops = compute::stackStringOperands(vm, kind, sp);
    const Word top = wrapAdd(ops.left.below, 1);
    if (!d.writable(top, 1)) return false;
    d.m[top] = compute::positionOf(vm, ops);
    sp = top;
    return true;
}

[[gnu::always_inline]] inline bool copyForm(const Interpretador& vm, DenseWords d, Word& sp) {
    if (sp < 2 || !d.holds(sp, 1)) return false;
    const Word count = d.m[sp];
    const std::int64_t start = std::max<std::int64_t>(std::int64_t{d.m[sp - 1]} - 1, 0);
    const compute::StackText s = compute::stackString(vm, sp - 2);
    const std::int64_t end = compute::copyEnd(s, start, count);
    const auto n = static_cast<Word>(end - start);
    const Word top = wrapAdd(s.below, 1);
    if ((s.words == nullptr && n > 0) || !d.writable(top, n + 1)) return false;
    // Moved down in ascending order of address, as the reference moves it.
    Word* to = d.m + top;
    to[0] = -1;
    if (n > 0) {
        const Word* from = s.words - (end - 1);
        for (Word k = 0; k < n; ++k) to[k + 1] = signedByte(from[k]);
    }
    sp = top + n;
    return true;
}

// STR into a variable of the capacity; too small a one is the reference's error.
[[gnu::always_inline]] inline bool strIntForm(DenseWords d, Word& sp, Word capacity) {
    if (sp < 1 || !d.holds(sp, 1)) return false;
    const Word address = d.m[sp];
    char digits[12];  // "-2147483648" is the longest
    const auto size = static_cast<Word>(std::to_chars(digits, digits + sizeof digits, d.m[sp - 1]).ptr - digits);
    if (size > capacity || !d.writable(address, size < capacity ? size + 1 : size)) return false;
    for (Word i = 0; i < size; ++i) d.m[address + i] = static_cast<signed char>(digits[i]);
    if (size < capacity) d.m[address + size] = -1;
    sp -= 2;
    return true;
}

}  // namespace lousa::engine
