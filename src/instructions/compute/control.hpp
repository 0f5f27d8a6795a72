#pragma once
// Jumps, calls, returns, frame entry and stack reservation, line markers.

#include <algorithm>
#include <cstring>

#include "console/console.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

// Moves sp to newTop, failing with the memory message when newTop plus the
// extra words the routine asks for passes the limit. The test is made on
// exact values: neither a wrapped sp nor a negative extra makes room.
inline void Interpretador::reserveFrame(std::int64_t newTop, Word, Word extra) {
    sp = static_cast<Word>(static_cast<UWord>(static_cast<std::uint64_t>(newTop)));
    if (newTop + std::max<Word>(extra, 0) > MEMORY_LIMIT)
        raiseMemoryError();
}

// Zeroes the n words from sp downward, never below address 0.
inline void Interpretador::zeroBelowTop(Word n) {
    const Word count = std::min<std::int64_t>(n, std::int64_t{sp} + 1) > 0 ? static_cast<Word>(std::min<std::int64_t>(n, std::int64_t{sp} + 1)) : 0;
    for (Word i = 0; i < count; ++i) writeWord(sp - i, 0);
}

inline void Interpretador::opJump() { pc = operand(1); }

inline void Interpretador::opJumpFalse() {
    const Word target = operand(1);
    pc = (pop() == 1) ? wrapAdd(pc, 2) : target;
}

inline void Interpretador::opCall() {
    // Compiled routines check the memory limit when they enter their frame,
    // but CALL itself pushes three words: recursion without frame entry
    // would otherwise grow the stack until the process runs out of memory.
    ensureStackRoom(3);
    const Word levels = operand(1);
    const Word displacement = operand(2);
    push(frameOf(levels));
    push(bp);
    push(wrapAdd(pc, 3));
    bp = wrapSub(sp, 2);
    pc = wrapAdd(pc, displacement);
}

inline void Interpretador::opRetProc() {
    const Word n = operand(1);
    sp = wrapSub(wrapSub(bp, n), 1);
    pc = readWord(wrapAdd(bp, 2));
    bp = readWord(wrapAdd(bp, 1));
    scopes.pop();
}

inline void Interpretador::opRetFunc() {
    const Word n = operand(1);
    const Word m = operand(2);
    const Word stringFlag = operand(3);
    const Word returnAddress = readWord(wrapAdd(bp, 2));
    const Word callerBp = readWord(wrapAdd(bp, 1));
    const Word frame = bp;
    sp = wrapSub(wrapSub(bp, n), 1);
    if (stringFlag == 1) {
        push(-1);
        const Word first = wrapAdd(sp, 1);
        for (Word i = 0; i < 255; ++i) {
            const Word c = readWord(wrapAdd(frame, 3 + i));
            if (c == -1) break;
            push(c);
        }
        for (Word lo = first, hi = sp; lo < hi; ++lo, --hi) {
            const Word a = readWord(lo);
            writeWord(lo, readWord(hi));
            writeWord(hi, a);
        }
    } else {
        // A result is a few words; a wild count is cut to the frame's reach.
        const Word words = m < 0 ? 0 : (m > 65536 ? 65536 : m);
        for (Word i = 0; i < words; ++i) push(readWord(wrapAdd(frame, 3 + i)));
    }
    pc = returnAddress;
    bp = callerBp;
    scopes.pop();
}

inline void Interpretador::opHalt() {
    running.store(false, std::memory_order_relaxed);
    if (console) console->flushInput();
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opEnter() {
    const Word n = operand(1);
    const Word m = operand(2);
    reserveFrame(std::int64_t{sp} + n, n, m);
    pc = wrapAdd(pc, 3);
    zeroBelowTop(n);
}

inline void Interpretador::opReserve() {
    const Word n = operand(1);
    if (n > 0) sp = wrapAdd(sp, n);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opEnterJump() {
    const Word n = operand(1);
    const Word m = operand(2);
    const Word target = operand(3);
    reserveFrame(std::int64_t{bp} + n + 3, n, m);
    pc = target;
    zeroBelowTop(n);
}

inline void Interpretador::opScopeEnter() {
    // Runs on every call: the name is gathered on the native stack and the
    // scope stack copies it, so nothing is allocated for it.
    const Word first = wrapAdd(pc, 1);
    char name[255 + PilhaEscopo::kNamePadding];
    Word length = 0;
    for (Word w; length < 255 && (w = readWord(wrapAdd(first, length))) != -1; ++length)
        name[length] = static_cast<char>(w & 0xFF);
    std::memset(name + length, 0, PilhaEscopo::kNamePadding);
    scopes.pushPadded(std::string_view(name, static_cast<std::size_t>(length)), bp);
    pc = wrapAdd(pc, length + 2);
}

inline void Interpretador::opLine() {
    currentLine = operand(1);
    pc = wrapAdd(pc, 2);
}

}  // namespace lousa
