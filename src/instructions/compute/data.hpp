#pragma once
// Constants, loads and stores, addressing, range and index checks, dynamic variables.

#include <algorithm>

#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

// Instructions that push a count of words given by the program stop at this
// height with the memory message instead of filling gigabytes.
// A stack pointer driven below 0 counts as 0: the count alone must not pass
// the limit either, or the words would go on into the heap's address space.
inline void Interpretador::ensureStackRoom(Word words) {
    if (words > 0 && std::max<std::int64_t>(sp, 0) + words >= static_cast<std::int64_t>(memory.denseLimit()))
        raiseMemoryError();
}

inline void Interpretador::opPush() {
    push(operand(1));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opPushN() {
    const Word n = operand(1);
    ensureStackRoom(n);
    // One copy where the words and the stack above sp are contiguous; in
    // the order of the pushes, as the stack may run over the words.
    const Word* from = n > 0 ? wordsAt(std::int64_t{pc} + 2, n) : nullptr;
    if (Word* to = from ? writableWordsAt(std::int64_t{sp} + 1, n) : nullptr) {
        for (Word i = 0; i < n; ++i) to[i] = from[i];
        sp = wrapAdd(sp, n);
    } else {
        for (Word i = 0; i < n; ++i) push(operand(2 + i));
    }
    pc = wrapAdd(pc, n > 0 ? n + 2 : 2);
}

inline void Interpretador::opPushReal() {
    const Word low = operand(1);
    const Word high = operand(2);
    push(high);
    push(low);
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opPop() {
    sp = wrapSub(sp, 1);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opPopN() {
    const Word n = operand(1);
    if (n > 0) sp = wrapSub(sp, n);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opDup() {
    // The usual case: the operand, the top and the words pushed all in the
    // contiguous region, none of them watched (the region's size is within
    // denseLimit, so there is room for them).
    const std::size_t size = memory.denseSize();
    const auto top = static_cast<UWord>(sp);
    if (std::uint64_t{static_cast<UWord>(pc)} + 1 < size && top < size) [[likely]] {
        const Word n = memory.denseData()[pc + 1];
        if (n > 0) [[likely]] {
            if (Word* const to = memory.writableSpan(top + 1, static_cast<UWord>(n))) [[likely]] {
                const Word value = to[-1];
                to[0] = value;  // DUP 1, the usual count, without a loop
                if (n > 1) std::fill_n(to + 1, n - 1, value);
                sp += n;
                pc = wrapAdd(pc, 2);
                return;
            }
        }
    }
    // In general: a stack outside the contiguous region or watched words
    // pushed one at a time, a count past the stack's room refused.
    const auto slowly = [this]() __attribute__((noinline)) {
        const Word n = operand(1);
        ensureStackRoom(n);
        const Word value = readWord(sp);
        for (Word i = 0; i < n; ++i) push(value);
        pc = wrapAdd(pc, 2);
    };
    slowly();
}

inline void Interpretador::opStoreN() {
    const Word n = operand(1);
    const Word count = std::max<Word>(n, 0);
    if (static_cast<UWord>(count) >= memory.denseLimit())
        raiseMemoryError();
    sp = wrapSub(wrapSub(sp, count), 1);
    const Word address = readWord(wrapAdd(sp, 1));
    for (Word i = 0; i < count; ++i) writeWordAt(address, i, readWord(wrapAdd(sp, 2 + i)));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opLoadN() {
    const Word n = operand(1);
    const Word address = pop();
    ensureStackRoom(n);
    for (Word i = 0; i < n; ++i) push(readWordAt(address, i));
    pc = wrapAdd(pc, 2);
}

// Follows `levels` static links up from bp, exactly, in bounded time. The
// chain only reads memory, so once it comes back to a frame it has passed it
// repeats with that period: Brent's method finds a repeat within the chain's
// distinct frames, and the steps still to go are reduced modulo the period.
inline Word Interpretador::frameOf(Word levels) const {
    Word base = bp;
    Word left = std::max<Word>(levels, 0);
    Word marked = base;  // a frame of the chain, moved up at each power of two
    Word sinceMark = 0;
    Word power = 1;
    while (left > 0) {
        base = readWord(base);
        --left;
        ++sinceMark;
        if (base == marked) {
            for (left %= sinceMark; left > 0; --left) base = readWord(base);
            break;
        }
        if (sinceMark == power) {
            marked = base;
            sinceMark = 0;
            power = power < (Word{1} << 30) ? power * 2 : power;
        }
    }
    return base;
}

inline void Interpretador::opAddrUp() {
    push(wrapAdd(frameOf(operand(1)), operand(2)));
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opLoadUp() {
    push(readWord(wrapAdd(frameOf(operand(1)), operand(2))));
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opField() {
    const Word k = operand(1);
    const Word a = readWord(sp);
    writeWord(sp, a > 0 ? wrapAdd(a, k) : wrapSub(a, k));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::checkRange(Word v, Word low, Word high) {
    if (v > high || v < low)
        raiseRuntimeError(latin1(" => A variável deve receber um valor entre ") + decimalText(low) + " e " +
                          decimalText(high) + "!");
}

inline void Interpretador::opCheckRange() {
    checkRange(readWord(sp), operand(1), operand(2));
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opCheckRangeAt() {
    checkRange(readWord(readWord(sp)), operand(1), operand(2));
    sp = wrapSub(sp, 1);
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opCheckIndex() {
    const Word low = operand(1);
    const Word high = operand(2);
    const Word v = readWord(sp);
    if (v < low || v > high)
        raiseRuntimeError(latin1(" => A posição ") + decimalText(v) + latin1(" está fora dos limites do vetor!"));
    writeWord(sp, wrapSub(v, low));
    push(wrapAdd(wrapSub(high, low), 1));
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opIndexAddr() {
    const Word d = operand(1);
    const Word s = operand(2);
    Word linear = readWord(wrapSub(sp, 1));
    if (d > 1) {
        Word multiplier = readWord(sp);
        // No array has more dimensions than there are words on the stack.
        const Word dims = std::min<Word>(d, kMaxDimensions);
        for (Word i = 1; i < dims; ++i) {
            linear = wrapAdd(linear, wrapMul(readWord(wrapSub(sp, 2 * i + 1)), multiplier));
            multiplier = wrapMul(multiplier, readWord(wrapSub(sp, 2 * i)));
        }
    }
    sp = wrapSub(sp, wrapMul(2, d));
    const Word base = readWord(sp);
    const Word offset = wrapMul(linear, s);
    writeWord(sp, base < 0 ? wrapSub(base, offset) : wrapAdd(base, offset));
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opNew() {
    // The heap hands out indices up to 2^31 - 1; a block past them cannot be addressed.
    const Word pointer = heap.allocate(operand(1));
    if (pointer == 0)
        raiseMemoryError();
    push(pointer);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opDispose() {
    heap.release(pop());
    pc = wrapAdd(pc, 1);
}

}  // namespace lousa
