// The fetch-dispatch loop. The hot families are included here as inline
// definitions so that the compiler can fold each handler into its case.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>

#include "vm/opcode_table.hpp"

#include "engine/engine.hpp"

#include "console/console.hpp"
#include "instructions/compute/arithmetic.hpp"
#include "instructions/compute/comparisons.hpp"
#include "instructions/compute/control.hpp"
#include "instructions/compute/data.hpp"
#include "instructions/compute/sets.hpp"
#include "instructions/compute/strings.hpp"
#include "vm/interpretador.hpp"

namespace lousa {


#define OP(num, name, operands, handler) \
    case num:                            \
        op##handler();                   \
        break;

void Interpretador::step() {
    switch (fetchOpcode()) {
#include "vm/opcodes.def"
        default:
            invalidInstruction();
    }
}

template <bool Budgeted>
void Interpretador::loop(std::uint64_t maxSteps, std::uint64_t& executed) {
    while (running.load(std::memory_order_relaxed)) {
        if constexpr (Budgeted) {
            if (executed == maxSteps) break;
            ++executed;
        }
        switch (fetchOpcode()) {
#include "vm/opcodes.def"
            default:
                invalidInstruction();
        }
    }
}

#undef OP

namespace {
// Opcode numbers by handler name, from the one table.
enum : UWord {
#define OP(num, name, operands, handler) k##handler = num,
#include "vm/opcodes.def"
#undef OP
};
}  // namespace

// The unbudgeted loop uses threaded dispatch: every handler ends with its
// own indirect jump to the next one, which the branch predictor can learn
// per opcode, and flattening folds the memory primitives into each handler.
//
// pc, sp, bp and the dense memory live in locals (registers) here: the
// member fields are int32 like the memory words, so every word store would
// otherwise force the compiler to reload them. The hottest instructions have
// a fast path for their common case (frame level 0 or 1, addresses inside
// the dense region, no error possible) that works on the locals; anything
// else goes to the member handler with the registers written back before
// and read again after (it may grow the dense region or raise an error).
//
// `running` is tested after every control transfer and every member
// handler: a stop request (HALT, a signal, an interrupted read) is seen
// before anything with an effect outside the machine runs, while straight
// runs of fast-path computation, which always reach a jump, skip the test.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
[[gnu::flatten]] void Interpretador::threadedLoop() {
    constexpr UWord kInvalidSlot = kOpcodeLimit;
    const void* table[kOpcodeLimit + 1];
    for (const void*& entry : table) entry = &&invalid;
#define OP(num, name, operands, handler) table[num] = &&op_##handler;
#include "vm/opcodes.def"
#undef OP
#define LOUSA_FAST(handler) table[k##handler] = &&fast_##handler;
    LOUSA_FAST(LoadUp)
    LOUSA_FAST(AddrUp)
    LOUSA_FAST(Push)
    LOUSA_FAST(PushReal)
    LOUSA_FAST(StoreN)
    LOUSA_FAST(LoadN)
    LOUSA_FAST(AddInt)
    LOUSA_FAST(SubInt)
    LOUSA_FAST(MulInt)
    LOUSA_FAST(ModInt)
    LOUSA_FAST(LtInt)
    LOUSA_FAST(LeInt)
    LOUSA_FAST(GtInt)
    LOUSA_FAST(GeInt)
    LOUSA_FAST(EqInt)
    LOUSA_FAST(AndInt)
    LOUSA_FAST(OrInt)
    LOUSA_FAST(AddReal)
    LOUSA_FAST(SubReal)
    LOUSA_FAST(MulReal)
    LOUSA_FAST(LtReal)
    LOUSA_FAST(LeReal)
    LOUSA_FAST(JumpFalse)
    LOUSA_FAST(Jump)
    LOUSA_FAST(Inc)
    LOUSA_FAST(Line)
    LOUSA_FAST(CheckIndex)
    LOUSA_FAST(IndexAddr)
    LOUSA_FAST(Call)
    LOUSA_FAST(Enter)
    LOUSA_FAST(RetFunc)
    LOUSA_FAST(RetProc)
#undef LOUSA_FAST

    Word lpc = pc;
    Word lsp = sp;
    Word lbp = bp;
    Word* m = memory.denseWords();
    UWord msize = static_cast<UWord>(memory.denseSize());
    const UWord csize = static_cast<UWord>(codeSize);

#define SYNC_OUT() (pc = lpc, sp = lsp, bp = lbp)
#define SYNC_IN() \
    (lpc = pc, lsp = sp, lbp = bp, m = memory.denseWords(), msize = static_cast<UWord>(memory.denseSize()))
    // Word `a` lies in the dense region (negative addresses never do).
#define IN(a) (static_cast<UWord>(a) < msize)
#define AT(a) m[static_cast<UWord>(a)]
#define DISPATCH()                                                                                  \
    do {                                                                                            \
        const UWord opcode = static_cast<UWord>(lpc) < csize ? static_cast<UWord>(AT(lpc)) : UWord{4}; \
        goto* table[std::min<UWord>(opcode, kInvalidSlot)];                                         \
    } while (0)
#define NEXT_CHECKED()                                      \
    do {                                                    \
        if (!running.load(std::memory_order_relaxed)) goto done; \
        DISPATCH();                                         \
    } while (0)
    // The frame `levels` static links up, for levels 0 and 1; false otherwise.
#define FRAME(levels, out) ((levels) == 0 ? ((out) = lbp, true) : ((levels) == 1 && IN(lbp) ? ((out) = AT(lbp), true) : false))

    NEXT_CHECKED();

fast_LoadUp: {
    Word base = 0;
    if (IN(wrapAdd(lpc, 2)) && FRAME(AT(lpc + 1), base)) {
        const Word address = wrapAdd(base, AT(lpc + 2));
        const Word top = wrapAdd(lsp, 1);
        if (IN(address) && IN(top)) {
            AT(top) = AT(address);
            lsp = top;
            lpc += 3;
            DISPATCH();
        }
    }
    goto op_LoadUp;
}
fast_AddrUp: {
    Word base = 0;
    const Word top = wrapAdd(lsp, 1);
    if (IN(wrapAdd(lpc, 2)) && IN(top) && FRAME(AT(lpc + 1), base)) {
        const Word address = wrapAdd(base, AT(lpc + 2));
        AT(top) = address;
        // A LOAD_N of one word or a real right after (a variable's value)
        // runs here too, saving a dispatch; the code is read as it stands.
        if (static_cast<UWord>(lpc) + 4 < csize && AT(lpc + 3) == static_cast<Word>(kLoadN)) {
            const Word n = AT(lpc + 4);
            if ((n == 1 || n == 2) && address >= 0 && IN(wrapAdd(address, n - 1)) && IN(top + n - 1)) {
                for (Word i = 0; i < n; ++i) AT(top + i) = AT(address + i);
                lsp = top + n - 1;
                lpc += 5;
                DISPATCH();
            }
        }
        lsp = top;
        lpc += 3;
        DISPATCH();
    }
    goto op_AddrUp;
}
fast_Push: {
    const Word top = wrapAdd(lsp, 1);
    if (IN(wrapAdd(lpc, 1)) && IN(top)) {
        AT(top) = AT(lpc + 1);
        lsp = top;
        lpc += 2;
        DISPATCH();
    }
    goto op_Push;
}
fast_PushReal: {
    const Word top = wrapAdd(lsp, 2);
    if (IN(wrapAdd(lpc, 2)) && lsp >= -1 && IN(top)) {
        const Word low = AT(lpc + 1);
        const Word high = AT(lpc + 2);
        AT(lsp + 1) = high;  // beneath
        AT(top) = low;
        lsp = top;
        lpc += 3;
        DISPATCH();
    }
    goto op_PushReal;
}
fast_StoreN: {
    // One word or a real, to a dense address; the words are written in
    // order, as the member handler does, should they overlap the operands.
    if (IN(wrapAdd(lpc, 1)) && IN(lsp)) {
        const Word n = AT(lpc + 1);
        if ((n == 1 || n == 2) && lsp >= n) {
            const Word address = AT(lsp - n);
            if (address >= 0 && IN(wrapAdd(address, n - 1))) {
                const Word base = lsp - n - 1;
                for (Word i = 0; i < n; ++i) AT(address + i) = AT(base + 2 + i);
                lsp = base;
                lpc += 2;
                DISPATCH();
            }
            if (address < 0) {
                // Heap words count downward from the pointer.
                SYNC_OUT();  // a first write may allocate a page
                const Word base = lsp - n - 1;
                for (Word i = 0; i < n; ++i) heap.write(wrapSub(address, i), AT(base + 2 + i));
                lsp = base;
                lpc += 2;
                DISPATCH();
            }
        }
    }
    goto op_StoreN;
}
fast_LoadN: {
    if (IN(wrapAdd(lpc, 1)) && IN(lsp) && lsp >= 0) {
        const Word n = AT(lpc + 1);
        const Word address = AT(lsp);
        if ((n == 1 || n == 2) && IN(lsp + n - 1) && address >= 0 && IN(wrapAdd(address, n - 1))) {
            for (Word i = 0; i < n; ++i) AT(lsp + i) = AT(address + i);
            lsp += n - 1;
            lpc += 2;
            DISPATCH();
        }
        if ((n == 1 || n == 2) && IN(lsp + n - 1) && address < 0) {
            for (Word i = 0; i < n; ++i) AT(lsp + i) = heap.read(wrapSub(address, i));
            lsp += n - 1;
            lpc += 2;
            DISPATCH();
        }
    }
    goto op_LoadN;
}

#define LOUSA_BINARY_INT(handler, expression)          \
    fast_##handler : if (IN(lsp) && lsp >= 1) {        \
        const Word b = AT(lsp);                        \
        const Word a = AT(lsp - 1);                    \
        AT(lsp - 1) = (expression);                    \
        --lsp;                                         \
        ++lpc;                                         \
        DISPATCH();                                    \
    }                                                  \
    goto op_##handler;
    LOUSA_BINARY_INT(AddInt, wrapAdd(a, b))
    LOUSA_BINARY_INT(SubInt, wrapSub(a, b))
    LOUSA_BINARY_INT(MulInt, wrapMul(a, b))
    LOUSA_BINARY_INT(AndInt, a & b)
    LOUSA_BINARY_INT(OrInt, a | b)
#undef LOUSA_BINARY_INT

    // Comparisons: a JUMP_FALSE right after (a loop or if test) takes the
    // result at once, saving a dispatch; the result word stays written
    // above the stack as the two instructions would leave it.
#define LOUSA_COMPARE_INT(handler, expression)                                                  \
    fast_##handler : if (IN(lsp) && lsp >= 1) {                                                 \
        const Word b = AT(lsp);                                                                 \
        const Word a = AT(lsp - 1);                                                             \
        const Word result = (expression) ? 1 : 0;                                               \
        AT(lsp - 1) = result;                                                                   \
        if (static_cast<UWord>(lpc) + 2 < csize && AT(lpc + 1) == static_cast<Word>(kJumpFalse)) { \
            lsp -= 2;                                                                           \
            lpc = result == 1 ? lpc + 3 : AT(lpc + 2);                                          \
            NEXT_CHECKED();                                                                     \
        }                                                                                       \
        --lsp;                                                                                  \
        ++lpc;                                                                                  \
        DISPATCH();                                                                             \
    }                                                                                           \
    goto op_##handler;
    LOUSA_COMPARE_INT(LtInt, a < b)
    LOUSA_COMPARE_INT(LeInt, a <= b)
    LOUSA_COMPARE_INT(GtInt, a > b)
    LOUSA_COMPARE_INT(GeInt, a >= b)
    LOUSA_COMPARE_INT(EqInt, a == b)
#undef LOUSA_COMPARE_INT

fast_ModInt:
    // A zero divisor raises its message in the member handler.
    if (IN(lsp) && lsp >= 1 && AT(lsp) != 0) {
        const Word b = AT(lsp);
        const Word a = AT(lsp - 1);
        AT(lsp - 1) = b == -1 ? 0 : a % b;
        --lsp;
        ++lpc;
        DISPATCH();
    }
    goto op_ModInt;

    // Reals are two words, the high one beneath the low one.
#define LOUSA_REAL_AT(high) realFromWords(AT(high), AT((high) + 1))
#define LOUSA_BINARY_REAL(handler, expression)                                  \
    fast_##handler : if (IN(lsp) && lsp >= 3) {                                 \
        const double b = LOUSA_REAL_AT(lsp - 1);                                \
        const double a = LOUSA_REAL_AT(lsp - 3);                                \
        const double result = compute::orderedNaN(a, b, (expression));          \
        const auto bits = std::bit_cast<std::uint64_t>(result);                 \
        lsp -= 2;                                                               \
        AT(lsp) = static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU));    \
        AT(lsp - 1) = static_cast<Word>(static_cast<UWord>(bits >> 32));        \
        ++lpc;                                                                  \
        DISPATCH();                                                             \
    }                                                                           \
    goto op_##handler;
    LOUSA_BINARY_REAL(AddReal, a + b)
    LOUSA_BINARY_REAL(SubReal, a - b)
    LOUSA_BINARY_REAL(MulReal, a * b)
#undef LOUSA_BINARY_REAL
#define LOUSA_COMPARE_REAL(handler, expression)     \
    fast_##handler : if (IN(lsp) && lsp >= 3) {     \
        const double b = LOUSA_REAL_AT(lsp - 1);    \
        const double a = LOUSA_REAL_AT(lsp - 3);    \
        lsp -= 3;                                   \
        AT(lsp) = (expression) ? 1 : 0;             \
        ++lpc;                                      \
        DISPATCH();                                 \
    }                                               \
    goto op_##handler;
    // Written as the negation of the opposite test, so that NaN compares true.
    LOUSA_COMPARE_REAL(LtReal, !(a >= b))
    LOUSA_COMPARE_REAL(LeReal, !(a > b))
#undef LOUSA_COMPARE_REAL
#undef LOUSA_REAL_AT

fast_JumpFalse:
    if (IN(lsp) && IN(wrapAdd(lpc, 1))) {
        lpc = AT(lsp) == 1 ? lpc + 2 : AT(lpc + 1);
        --lsp;
        NEXT_CHECKED();
    }
    goto op_JumpFalse;
fast_Jump:
    if (IN(wrapAdd(lpc, 1))) {
        lpc = AT(lpc + 1);
        NEXT_CHECKED();
    }
    goto op_Jump;
fast_Inc:
    if (IN(lsp)) {
        const Word address = AT(lsp);
        if (IN(address)) {
            AT(address) = wrapAdd(AT(address), 1);
            --lsp;
            ++lpc;
            DISPATCH();
        }
        if (address < 0) {
            SYNC_OUT();
            heap.write(address, wrapAdd(heap.read(address), 1));
            --lsp;
            ++lpc;
            DISPATCH();
        }
    }
    goto op_Inc;
fast_Line:
    if (IN(wrapAdd(lpc, 1))) {
        currentLine = AT(lpc + 1);
        lpc += 2;
        DISPATCH();
    }
    goto op_Line;
fast_CheckIndex:
    // An index out of its bounds raises its message in the member handler.
    if (IN(wrapAdd(lpc, 2)) && IN(wrapAdd(lsp, 1)) && lsp >= 0) {
        const Word low = AT(lpc + 1);
        const Word high = AT(lpc + 2);
        const Word v = AT(lsp);
        if (v >= low && v <= high) {
            AT(lsp) = wrapSub(v, low);
            ++lsp;
            AT(lsp) = wrapAdd(wrapSub(high, low), 1);
            lpc += 3;
            DISPATCH();
        }
    }
    goto op_CheckIndex;
fast_IndexAddr:
    // One dimension: base, index, extent on the stack become one address.
    if (IN(wrapAdd(lpc, 2)) && AT(lpc + 1) == 1 && IN(lsp) && lsp >= 2) {
        const Word offset = wrapMul(AT(lsp - 1), AT(lpc + 2));
        lsp -= 2;
        const Word base = AT(lsp);
        AT(lsp) = base < 0 ? wrapSub(base, offset) : wrapAdd(base, offset);
        lpc += 3;
        DISPATCH();
    }
    goto op_IndexAddr;
fast_Call: {
    // Three words pushed: static link, caller's frame, return address.
    Word link = 0;
    if (IN(wrapAdd(lpc, 2)) && lsp >= 0 && IN(wrapAdd(lsp, 3)) && FRAME(AT(lpc + 1), link)) {
        const Word displacement = AT(lpc + 2);
        AT(lsp + 1) = link;
        AT(lsp + 2) = lbp;
        AT(lsp + 3) = wrapAdd(lpc, 3);
        lsp += 3;
        lbp = lsp - 2;
        lpc = wrapAdd(lpc, displacement);
        NEXT_CHECKED();
    }
    goto op_Call;
}
fast_Enter:
    // A small frame inside the dense region and under the memory limit:
    // sp moves up and the new words are cleared.
    if (IN(wrapAdd(lpc, 2)) && lsp >= 0) {
        const Word n = AT(lpc + 1);
        const Word extra = AT(lpc + 2);
        if (n >= 0 && n <= 256 && IN(wrapAdd(lsp, n)) && std::int64_t{lsp} + n + std::max<Word>(extra, 0) <= MEMORY_LIMIT) {
            lsp += n;
            for (Word i = 0; i < n; ++i) AT(lsp - i) = 0;
            lpc += 3;
            DISPATCH();
        }
    }
    goto op_Enter;
fast_RetFunc:
    // Results of up to four words (a string result goes the long way).
    if (IN(wrapAdd(lpc, 3)) && lbp >= 0 && IN(wrapAdd(lbp, 2))) {
        const Word n = AT(lpc + 1);
        const Word words = AT(lpc + 2);
        const std::int64_t newTop = std::int64_t{lbp} - n - 1;
        if (AT(lpc + 3) != 1 && words >= 0 && words <= 4 && newTop >= -1 &&
            newTop + words < static_cast<std::int64_t>(msize) && IN(lbp + 2 + words)) {
            const Word frame = lbp;
            const Word returnAddress = AT(frame + 2);
            const Word callerBp = AT(frame + 1);
            lsp = static_cast<Word>(newTop);
            for (Word i = 0; i < words; ++i) {
                ++lsp;
                AT(lsp) = AT(frame + 3 + i);
            }
            lpc = returnAddress;
            lbp = callerBp;
            scopes.pop();
            NEXT_CHECKED();
        }
    }
    goto op_RetFunc;
fast_RetProc:
    if (IN(wrapAdd(lpc, 1)) && lbp >= 0 && IN(wrapAdd(lbp, 2))) {
        lsp = wrapSub(wrapSub(lbp, AT(lpc + 1)), 1);
        lpc = AT(lbp + 2);
        lbp = AT(lbp + 1);
        scopes.pop();
        NEXT_CHECKED();
    }
    goto op_RetProc;

#define OP(num, name, operands, handler) \
    op_##handler:                        \
    SYNC_OUT();                          \
    op##handler();                       \
    SYNC_IN();                           \
    NEXT_CHECKED();
#include "vm/opcodes.def"
#undef OP
invalid:
    SYNC_OUT();
    invalidInstruction();
done:
    SYNC_OUT();
#undef FRAME
#undef NEXT_CHECKED
#undef DISPATCH
#undef AT
#undef IN
#undef SYNC_IN
#undef SYNC_OUT
}
#pragma GCC diagnostic pop
#else
void Interpretador::threadedLoop() {
    std::uint64_t executed = 0;
    loop<false>(0, executed);
}
#endif


// Starts the machine and runs a loop. A run-time error has recorded its
// text; the storage finding the run's memory ceiling (or the process finding
// no more memory) in the middle of an instruction ends the run as when an
// instruction itself finds the memory limit; anything else ends it silently.
template <class Body>
void Interpretador::startAndRun(Body body) {
    try {
        start();
        body();
    } catch (const MemoryCeilingReached&) {
        endWithMemoryMessage();
    } catch (const std::bad_alloc&) {
        endWithMemoryMessage();
    } catch (...) {
    }
}

void Interpretador::run() {
    startAndRun([this] {
        if (tier == Tier::fast)
            engine::runTranslated(*this);
        else
            threadedLoop();
    });
    running.store(false, std::memory_order_relaxed);
}

std::uint64_t Interpretador::runBudget(std::uint64_t maxSteps) {
    std::uint64_t executed = 0;  // the count survives a run-time error
    startAndRun([this, maxSteps, &executed] {
        if (tier == Tier::fast)
            engine::runTranslatedBudget(*this, maxSteps, executed);
        else
            loop<true>(maxSteps, executed);
    });
    return executed;
}

void Interpretador::endWithMemoryMessage() noexcept {
    try {
        raiseMemoryError();
    } catch (...) {
    }
}

}  // namespace lousa
