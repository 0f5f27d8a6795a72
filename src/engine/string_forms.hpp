#pragma once
// The translation tier's string forms. The larger ones run out of the
// loop's body: they do enough work that a call costs little beside it,
// while their code inlined into the loop would crowd the registers of every
// other handler; the small ones stay inline. Each runs the instruction's common case on the loop's registers
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
#include "instructions/compute/dense_memory.hpp"
#include "instructions/compute/strings.hpp"
#include "instructions/compute/word_scan.hpp"
#include "vm/interpretador.hpp"

namespace lousa::engine {

using compute::DenseMemory;

// PUSH_N's n words, read at from in the code, after the word first when marked.
[[gnu::always_inline]] inline bool pushWordsForm(DenseMemory d, Word& sp, Word n, Word from, bool marked, Word first) {
    const Word top = wrapAdd(sp, 1);
    const Word all = n + (marked ? 1 : 0);
    if (!d.writable(top, all)) return false;
    if (marked) d.words[top] = first;
    std::copy_n(d.words + from, n, d.words + top + (marked ? 1 : 0));
    sp = top + all - 1;
    return true;
}

// LOAD_STR, the marker at top (where ADDR_UP's push of the address, when
// fused, is written over).
[[gnu::always_inline]] inline bool loadStrForm(DenseMemory d, Word& sp, Word address, Word top, Word reach) {
    const Word count = compute::loadStringAt(d, address, top, reach);
    if (count < 0) return false;
    sp = top + count;
    return true;
}

// ADDR_UP 0; LOAD_STR; STR_POS 1: where the character beneath first occurs
// in the variable's string, searched in the variable (which the copy on the
// stack equals), the result written over the character.
[[gnu::always_inline]] inline bool localPosForm(DenseMemory d, Word& sp, Word address, Word reach) {
    if (!d.writable(sp, 1)) return false;
    const Word count = compute::loadStringAt(d, address, wrapAdd(sp, 1), reach);
    if (count < 0) return false;
    const Word c = d.words[sp] & 0xFF;
    const Word at = compute::firstUp(d.words + address, count, [c](auto w) { return (w & 0xFF) == c; });
    d.words[sp] = at < count ? at + 1 : 0;
    return true;
}

[[gnu::always_inline]] inline bool storeStrForm(const Interpretador& vm, DenseMemory d, Word& sp, Word capacity) {
    const compute::StackText text = compute::stackString(vm, sp);
    const Word n = std::min(text.length, capacity);
    const Word written = n < capacity ? n + 1 : n;
    if (!d.holds(text.below, 1) || (text.words == nullptr && n > 0)) return false;
    const Word address = d.words[text.below];
    if (!d.writable(address, written)) return false;
    compute::writeText(d.words + address, address, text, n, capacity);
    sp = wrapSub(text.below, 1);
    return true;
}

// CONCAT's result in place of its operands, whose words all lie above the code.
[[gnu::always_inline]] inline void joinOver(const Interpretador& vm, DenseMemory d, Word& sp, const compute::StringOperands& ops) {
    const Word top = wrapAdd(ops.left.below, 1);
    Word chars[255];
    const Word length = compute::joinedChars(vm, ops, chars);
    d.words[top] = -1;
    compute::copyReversed(d.words + top + length, chars, length);
    sp = top + length;
}

// ADDR_UP 0; LOAD_STR; CONCAT 0: the variable's string joined to the string
// beneath, the right operand known from the load without a search.
[[gnu::noinline, gnu::flatten]] inline bool localConcatForm(const Interpretador& vm, DenseMemory d, Word& sp, Word address,
                                                            Word reach) {
    const compute::StackText left = compute::stackString(vm, sp);
    // The result lies within the words from the left operand's marker to the
    // loaded string's last, which the load checks from its marker on.
    if (!d.writable(wrapAdd(left.below, 1), 1)) return false;
    const Word top = wrapAdd(sp, 1);
    const Word count = compute::loadStringAt(d, address, top, reach);
    if (count < 0) return false;
    const compute::StackText right{top + count, count, sp, count > 0 ? d.words + top + count : nullptr};
    joinOver(vm, d, sp, compute::StringOperands{left, right});
    return true;
}

[[gnu::noinline, gnu::flatten]] inline bool concatForm(const Interpretador& vm, DenseMemory d, Word& sp, Word kind) {
    const compute::StringOperands ops = compute::stackStringOperands(vm, kind, sp);
    // Room for the longest result the operands can give.
    const std::int64_t longest = std::min<std::int64_t>(std::int64_t{ops.left.length} + ops.right.length, 255);
    if (!d.writable(wrapAdd(ops.left.below, 1), longest + 1)) return false;
    joinOver(vm, d, sp, ops);
    return true;
}

[[gnu::noinline, gnu::flatten]] inline bool strPosForm(const Interpretador& vm, DenseMemory d, Word& sp, Word kind) {
    const compute::StringOperands ops = compute::stackStringOperands(vm, kind, sp);
    const Word top = wrapAdd(ops.left.below, 1);
    if (!d.writable(top, 1)) return false;
    d.words[top] = compute::positionOf(vm, ops);
    sp = top;
    return true;
}

[[gnu::always_inline]] inline bool copyForm(const Interpretador& vm, DenseMemory d, Word& sp) {
    if (sp < 2 || !d.holds(sp, 1)) return false;
    const Word count = d.words[sp];
    const std::int64_t start = std::max<std::int64_t>(std::int64_t{d.words[sp - 1]} - 1, 0);
    const compute::StackText s = compute::stackString(vm, sp - 2);
    const std::int64_t end = compute::copyEnd(s, start, count);
    const auto n = static_cast<Word>(end - start);
    const Word top = wrapAdd(s.below, 1);
    if ((s.words == nullptr && n > 0) || !d.writable(top, n + 1)) return false;
    sp = top + compute::moveSubstring(d.words + top, s, start, end);
    return true;
}

// STR into a variable of the capacity; too small a one is the reference's error.
[[gnu::always_inline]] inline bool strIntForm(DenseMemory d, Word& sp, Word capacity) {
    if (sp < 1 || !d.holds(sp, 1)) return false;
    const Word address = d.words[sp];
    char digits[12];  // "-2147483648" is the longest
    const auto size = static_cast<Word>(std::to_chars(digits, digits + sizeof digits, d.words[sp - 1]).ptr - digits);
    if (size > capacity || !d.writable(address, size < capacity ? size + 1 : size)) return false;
    for (Word i = 0; i < size; ++i) d.words[address + i] = static_cast<signed char>(digits[i]);
    if (size < capacity) d.words[address + size] = -1;
    sp -= 2;
    return true;
}

}  // namespace lousa::engine
