// The translation tier's loop: threaded dispatch over internal instructions
// (internal_code.def), sp, bp and the contiguous memory in registers.
//
// Each handler tests its common case first and changes nothing until it
// holds; otherwise it jumps to `slow`, which runs the original instructions
// it stands for through the reference step, from the original address the
// side table gives. Fast paths never write below the code size (a store
// there takes the slow path), and every reference step is followed by a look
// at the words the memory saw change below the code size, which throws the
// translations away when they read one. A stop request is seen at every
// taken jump, call and return and after every reference step.

#pragma once
// Included by engine_loop.cpp (the tier's run and budgeted run) and by the
// instruction counter of bench/, which alone instantiates the counting
// variant, so that counting costs the runner nothing.

#include <algorithm>
#include <bit>
#include <cstdint>

#include "engine/string_forms.hpp"
#include "engine/translation.hpp"
#include "instructions/compute/arithmetic.hpp"
#include "instructions/compute/comparisons.hpp"
#include "instructions/compute/control.hpp"
#include "instructions/compute/data.hpp"
#include "instructions/compute/sets.hpp"
#include "instructions/compute/strings.hpp"
#include "vm/interpretador.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::engine {

// What the counting variant of the loop counts: internal instructions
// dispatched, by kind, and original instructions run one by one through the
// reference step because a fused form's common case did not hold.
struct DispatchCounts {
    std::uint64_t perIop[kIopCount] = {};
    std::uint64_t referenceSteps = 0;
};

namespace {

[[nodiscard]] bool halted(const Interpretador& vm) { return !vm.running.load(std::memory_order_relaxed); }

Translation& translationOf(Interpretador& vm) {
    if (!vm.translation) vm.translation = std::make_unique<Translation>(vm.codeSize);
    return *vm.translation;
}

// One original instruction run by its own handler, out of line: the loop
// keeps one call site per opcode (each predicted on its own) without taking
// every handler's body into itself.
template <void (Interpretador::*Handler)()>
[[gnu::noinline]] void runOriginal(Interpretador& vm) {
    (vm.*Handler)();
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"

template <bool Budgeted, bool Counting = false>
[[gnu::flatten]] void loop(Interpretador& vm, std::uint64_t maxSteps, std::uint64_t& executed,
                           DispatchCounts* counts = nullptr) {
    static_assert(sizeof(void*) >= 4);
    const void* const labels[kIopCount] = {
#define IOP(name, weight, operands, meaning) &&i_##name,
#include "engine/internal_code.def"
#undef IOP
    };
    // The same entries after the LINE folded into the instruction.
    const void* const lined[kIopCount] = {
#define IOP(name, weight, operands, meaning) &&l_##name,
#include "engine/internal_code.def"
#undef IOP
    };
    // Entries of the Generic instructions, by original opcode.
    const void* direct[kOpcodeLimit] = {};
#define OP(num, name, operands, handler) direct[num] = &&o_##handler;
#include "vm/opcodes.def"
#undef OP
    Translation& tr = translationOf(vm);
    WordMemory& mem = vm.memory;
    const auto lo = static_cast<UWord>(vm.codeSize);
    mem.watchBelow(lo);

    Word lsp = 0;
    Word lbp = 0;
    Word* m = nullptr;
    UWord msize = 0;
    UWord span = 0;
    UWord span2 = 0;
    UWord msize2 = 0;
    Insn* base = nullptr;
    Insn* ip = nullptr;
    // Which target of the instruction at ip is being linked, and where.
    Word Insn::*resolveTarget = &Insn::target;
    std::int32_t Insn::*resolveLink = &Insn::link;

#define SYNC_IN()                                        \
    do {                                                 \
        lsp = vm.sp;                                     \
        lbp = vm.bp;                                     \
        m = mem.denseWords();                            \
        msize = static_cast<UWord>(mem.denseSize());     \
        span = msize - lo;                               \
        span2 = span == 0 ? 0 : span - 1;                \
        msize2 = msize == 0 ? 0 : msize - 1;             \
    } while (0)
#define SYNC_OUT()                                               \
    do {                                                         \
        vm.sp = lsp;                                             \
        vm.bp = lbp;                                             \
        vm.pc = tr.originOf(static_cast<std::size_t>(ip - base)); \
    } while (0)
    // Word a lies in the contiguous memory (negative addresses never do);
    // W: and above the code, so that a fast path may write it.
#define IN(a) (static_cast<UWord>(a) < msize)
#define W(a) (static_cast<UWord>(a) - lo < span)
    // IN2, W2: the words a and a + 1 both.
#define IN2(a) (static_cast<UWord>(a) < msize2)
#define W2(a) (static_cast<UWord>(a) - lo < span2)
#define AT(a) m[static_cast<UWord>(a)]
#define DISPATCH()                                                           \
    do {                                                                     \
        if constexpr (Counting) ++counts->perIop[static_cast<std::size_t>(ip->op)]; \
        if constexpr (Budgeted) {                                            \
            if (maxSteps - executed < ip->weight) goto out_of_budget;       \
            executed += ip->weight;                                          \
        }                                                                    \
        goto* ip->handler;                                                   \
    } while (0)
#define NEXT()       \
    do {             \
        ++ip;        \
        DISPATCH();  \
    } while (0)
    // A taken jump to the instruction's original target t.
#define TAKE()                               \
    do {                                     \
        if (halted(vm)) goto stop_at_target; \
        if (ip->link >= 0) {                 \
            ip = base + ip->link;            \
            DISPATCH();                      \
        }                                    \
        goto resolve;                        \
    } while (0)
    // A transfer to an address known only now (a return).
#define GO_TO(address)                                         \
    do {                                                       \
        const Word to_ = (address);                            \
        const std::int32_t entry_ = tr.existingEntry(to_);     \
        if (entry_ >= 0 && !halted(vm)) {               \
            ip = base + entry_;                                \
            DISPATCH();                                        \
        }                                                      \
        vm.sp = lsp;                                           \
        vm.bp = lbp;                                           \
        vm.pc = to_;                                           \
        goto enter;                                            \
    } while (0)
    // After an original instruction ran through its handler: translations
    // it wrote into are thrown away, and it goes on at the next instruction
    // when it fell through to it.
#define AFTER_ORIGINAL()                                           \
    do {                                                           \
        bool flushed_ = false;                                     \
        if (mem.watchedWordsChanged()) {                           \
            const auto [low_, high_] = mem.takeWatchedChanges();   \
            flushed_ = tr.invalidate(low_, high_);                 \
        }                                                          \
        SYNC_IN();                                                 \
        if (halted(vm)) return;                                    \
        if (!flushed_ && vm.pc == ip->b) NEXT();                   \
        goto enter;                                                \
    } while (0)
    // A heap word written from the registers. A first write into a page may
    // find the memory ceiling: the registers are then written back, with pc
    // `advance` words past the form's start (at the storing instruction,
    // which has taken its words off the stack), before the error goes on.
#define LOUSA_HEAP_WRITE(address, value, advance)        \
    do {                                                 \
        try {                                            \
            vm.heap.write((address), (value));           \
        } catch (...) {                                  \
            SYNC_OUT();                                  \
            vm.pc = wrapAdd(vm.pc, (advance));           \
            throw;                                       \
        }                                                \
    } while (0)
    const auto linkNew = [&] {
        Insn* code = tr.code();
        const std::size_t size = tr.instructions().size();
        for (std::size_t i = tr.linkedCount(); i < size; ++i) {
            Insn& insn = code[i];
            const bool original = insn.op == Iop::Generic && insn.a >= 0 && insn.a < kOpcodeLimit &&
                                  direct[static_cast<std::size_t>(insn.a)] != nullptr;
            insn.handler = original     ? direct[static_cast<std::size_t>(insn.a)]
                           : insn.lined ? lined[static_cast<std::size_t>(insn.op)]
                                        : labels[static_cast<std::size_t>(insn.op)];
        }
        tr.markLinked();
        base = code;
    };

    SYNC_IN();

enter:
    // vm.pc is where to go on, the registers are written back.
    if (halted(vm)) return;
    {
        const std::int32_t index = tr.entryFor(mem, vm.pc);
        if (index < 0) {
            // Outside the code: the reference step raises its error.
            if constexpr (Budgeted) {
                if (executed == maxSteps) return;
                ++executed;
            }
            if constexpr (Counting) ++counts->referenceSteps;
            vm.step();
            goto after_reference;
        }
        linkNew();
        ip = base + index;
        DISPATCH();
    }

    // First use of a jump: link it to its target's translation. A JumpTest's
    // exit is a second target, linked in e.
resolve:
    resolveTarget = &Insn::target;
    resolveLink = &Insn::link;
    goto link_target;
resolve_exit:
    resolveTarget = &Insn::d;
    resolveLink = &Insn::e;
link_target: {
    const auto from = ip - base;
    const Word target = (*ip).*resolveTarget;
    const std::int32_t index = tr.entryFor(mem, target);
    linkNew();
    if (index < 0) {
        ip = base + from;
        vm.sp = lsp;
        vm.bp = lbp;
        vm.pc = target;
        goto enter;
    }
    base[from].*resolveLink = index;
    ip = base + index;
    DISPATCH();
}

slow: {
    // The original instructions, one reference step each.
    SYNC_OUT();
    const int steps = ip->weight;
    if constexpr (Budgeted) executed -= static_cast<std::uint64_t>(steps);
    if constexpr (Counting) counts->referenceSteps += static_cast<std::uint64_t>(steps);
    for (int s = 0; s < steps; ++s) {
        if constexpr (Budgeted) ++executed;
        vm.step();
    }
    goto after_reference;
}

after_reference:
    if (mem.watchedWordsChanged()) {
        const auto [low, high] = mem.takeWatchedChanges();
        tr.invalidate(low, high);
    }
    SYNC_IN();
    goto enter;

out_of_budget: __attribute__((unused));
    // Fewer steps left than this instruction stands for: the rest one by one.
    SYNC_OUT();
    while (!halted(vm) && executed < maxSteps) {
        if constexpr (Counting) ++counts->referenceSteps;
        ++executed;
        vm.step();
    }
    return;

stop_at_target:
    vm.sp = lsp;
    vm.bp = lbp;
    vm.pc = ip->target;
    return;

i_Generic: {
    SYNC_OUT();
    vm.step();
    AFTER_ORIGINAL();
}
    // A Generic instruction whose opcode is known: its handler without the
    // reference step's fetch and switch.
#define OP(num, name, operands, handler)               \
    o_##handler : {                                    \
        SYNC_OUT();                                    \
        runOriginal<&Interpretador::op##handler>(vm);  \
        AFTER_ORIGINAL();                              \
    }
#include "vm/opcodes.def"
#undef OP
    // LINE, then the instruction it was folded into.
#define IOP(name, weight, operands, meaning) \
    l_##name : vm.currentLine = ip->line;    \
    goto i_##name;
#include "engine/internal_code.def"
#undef IOP
i_Goto:
    if (ip->link >= 0) {
        ip = base + ip->link;
        DISPATCH();
    }
    goto resolve;
i_Line:
    vm.currentLine = ip->a;
    NEXT();
i_LinePushLocal0: {
    const Word address = wrapAdd(lbp, ip->b);
    const Word top = wrapAdd(lsp, 1);
    if (IN(address) && W(top)) {
        vm.currentLine = ip->a;
        AT(top) = AT(address);
        lsp = top;
        NEXT();
    }
    goto slow;
}
i_LinePushAddr0: {
    const Word top = wrapAdd(lsp, 1);
    if (W(top)) {
        vm.currentLine = ip->a;
        AT(top) = wrapAdd(lbp, ip->b);
        lsp = top;
        NEXT();
    }
    goto slow;
}
i_PushConst: {
    const Word top = wrapAdd(lsp, 1);
    if (W(top)) {
        AT(top) = ip->a;
        lsp = top;
        NEXT();
    }
    goto slow;
}
i_PushLocal0: {
    const Word address = wrapAdd(lbp, ip->a);
    const Word top = wrapAdd(lsp, 1);
    if (IN(address) && W(top)) {
        AT(top) = AT(address);
        lsp = top;
        NEXT();
    }
    goto slow;
}
i_PushLocal1: {
    const Word top = wrapAdd(lsp, 1);
    if (IN(lbp) && W(top)) {
        const Word address = wrapAdd(AT(lbp), ip->a);
        if (IN(address)) {
            AT(top) = AT(address);
            lsp = top;
            NEXT();
        }
    }
    goto slow;
}
i_PushAddr0: {
    const Word top = wrapAdd(lsp, 1);
    if (W(top)) {
        AT(top) = wrapAdd(lbp, ip->a);
        lsp = top;
        NEXT();
    }
    goto slow;
}
i_PushAddr1: {
    const Word top = wrapAdd(lsp, 1);
    if (IN(lbp) && W(top)) {
        AT(top) = wrapAdd(AT(lbp), ip->a);
        lsp = top;
        NEXT();
    }
    goto slow;
}
i_PushReal: {
    // The high word beneath the low one.
    const Word top = wrapAdd(lsp, 2);
    if (W(wrapAdd(lsp, 1)) && W(top)) {
        AT(top - 1) = ip->b;
        AT(top) = ip->a;
        lsp = top;
        NEXT();
    }
    goto slow;
}
i_Dup1:
    if (IN(lsp) && W(wrapAdd(lsp, 1))) {
        AT(lsp + 1) = AT(lsp);
        ++lsp;
        NEXT();
    }
    goto slow;
#define LOUSA_LOAD_REAL(frameBase)                                                      \
    {                                                                                   \
        const Word address = wrapAdd((frameBase), ip->a);                               \
        const Word top = wrapAdd(lsp, 1);                                               \
        if (IN2(address) && W2(top)) { \
            /* the address is pushed, then replaced by the words it names */            \
            AT(top) = address;                                                          \
            AT(top) = AT(address);                                                      \
            AT(top + 1) = AT(address + 1);                                              \
            lsp = top + 1;                                                              \
            NEXT();                                                                     \
        }                                                                               \
    }
i_LoadReal0:
    LOUSA_LOAD_REAL(lbp)
    goto slow;
i_LoadReal1:
    if (IN(lbp)) LOUSA_LOAD_REAL(AT(lbp))
    goto slow;
#undef LOUSA_LOAD_REAL
// The stack top takes the word at address, when it is a dense or a heap word.
#define LOUSA_TOP_FROM(address)                  \
    if (IN(address)) {                           \
        AT(lsp) = AT(address);                   \
        NEXT();                                  \
    }                                            \
    if ((address) < 0) {                         \
        AT(lsp) = vm.heap.read(address);         \
        NEXT();                                  \
    }
i_LoadN1:
    if (W(lsp)) {
        const Word address = AT(lsp);
        LOUSA_TOP_FROM(address)
    }
    goto slow;
i_LoadN2:
    if (W2(lsp)) {
        const Word address = AT(lsp);
        if (IN2(address)) {
            AT(lsp) = AT(address);
            AT(lsp + 1) = AT(address + 1);
            ++lsp;
            NEXT();
        }
        if (address < 0) {
            AT(lsp) = vm.heap.read(address);
            AT(lsp + 1) = vm.heap.read(wrapSub(address, 1));
            ++lsp;
            NEXT();
        }
    }
    goto slow;
    // ADD_INT or SUB_INT, then STORE_N 1 of the result at the address
    // beneath: the address is judged before the result is written.
#define LOUSA_ARITH_STORE_N1(label, expression)       \
    i_##label:                                        \
        if (W(wrapSub(lsp, 2)) && IN(lsp)) {          \
            const Word address = AT(lsp - 2);         \
            const Word a = AT(lsp - 1);               \
            const Word b = AT(lsp);                   \
            const Word result = (expression);         \
            if (W(address)) {                         \
                AT(lsp - 1) = result;                 \
                AT(address) = result;                 \
                lsp -= 3;                             \
                NEXT();                               \
            }                                         \
            if (address < 0) {                        \
                AT(lsp - 1) = result;                 \
                lsp -= 3;                             \
                LOUSA_HEAP_WRITE(address, result, 1); \
                NEXT();                               \
            }                                         \
        }                                             \
        goto slow;
    LOUSA_ARITH_STORE_N1(AddStoreN1, wrapAdd(a, b))
    LOUSA_ARITH_STORE_N1(SubStoreN1, wrapSub(a, b))
#undef LOUSA_ARITH_STORE_N1
i_StoreN1:
    if (W(wrapSub(lsp, 1)) && IN(lsp)) {
        const Word address = AT(lsp - 1);
        if (W(address)) {
            AT(address) = AT(lsp);
            lsp -= 2;
            NEXT();
        }
        if (address < 0) {
            const Word value = AT(lsp);
            lsp -= 2;
            LOUSA_HEAP_WRITE(address, value, 0);
            NEXT();
        }
    }
    goto slow;
i_StoreN2:
    if (W(wrapSub(lsp, 2)) && IN(lsp)) {
        const Word address = AT(lsp - 2);
        if (W2(address)) {
            AT(address) = AT(lsp - 1);
            AT(address + 1) = AT(lsp);
            lsp -= 3;
            NEXT();
        }
        if (address < 0) {
            const Word high = AT(lsp - 1);
            const Word low = AT(lsp);
            lsp -= 3;
            LOUSA_HEAP_WRITE(address, high, 0);
            LOUSA_HEAP_WRITE(wrapSub(address, 1), low, 0);
            NEXT();
        }
    }
    goto slow;
i_SetLocal0Const: {
    const Word address = wrapAdd(lbp, ip->a);
    const Word top = wrapAdd(lsp, 1);
    if (W2(top) && W(address)) {
        AT(top) = address;
        AT(top + 1) = ip->b;
        AT(address) = ip->b;
        NEXT();
    }
    goto slow;
}
i_CopyLocal0: {
    const Word address = wrapAdd(lbp, ip->a);
    const Word source = wrapAdd(lbp, ip->b);
    const Word top = wrapAdd(lsp, 1);
    if (W2(top) && W(address) && IN(source)) {
        AT(top) = address;
        AT(top + 1) = AT(source);
        AT(address) = AT(top + 1);
        NEXT();
    }
    goto slow;
}

#define LOUSA_BINARY(name, expression)                  \
    i_##name:                                           \
    if (W(wrapSub(lsp, 1)) && IN(lsp)) {                \
        const Word a = AT(lsp - 1);                     \
        const Word b = AT(lsp);                         \
        AT(lsp - 1) = (expression);                     \
        --lsp;                                          \
        NEXT();                                         \
    }                                                   \
    goto slow;
    LOUSA_BINARY(AddInt, wrapAdd(a, b))
    LOUSA_BINARY(SubInt, wrapSub(a, b))
    LOUSA_BINARY(MulInt, wrapMul(a, b))
    LOUSA_BINARY(AndInt, a & b)
    LOUSA_BINARY(OrInt, a | b)
    LOUSA_BINARY(LtInt, a < b ? 1 : 0)
    LOUSA_BINARY(LeInt, a <= b ? 1 : 0)
    LOUSA_BINARY(GtInt, a > b ? 1 : 0)
    LOUSA_BINARY(GeInt, a >= b ? 1 : 0)
    LOUSA_BINARY(EqInt, a == b ? 1 : 0)
#undef LOUSA_BINARY
i_ModInt:
    // A zero divisor raises its message in the reference handler.
    if (W(wrapSub(lsp, 1)) && IN(lsp) && AT(lsp) != 0) {
        const Word a = AT(lsp - 1);
        const Word b = AT(lsp);
        AT(lsp - 1) = b == -1 ? 0 : a % b;
        --lsp;
        NEXT();
    }
    goto slow;

    // PUSH k or LOAD_UP 0 a, then the operation: the operand word stays
    // written above the result, as the two instructions leave it.
#define LOUSA_WITH_OPERAND(name, fetch, expression, allowed)                  \
    i_##name:                                                                  \
    if (W2(lsp)) {                                        \
        const Word source_ = wrapAdd(lbp, ip->a);                              \
        static_cast<void>(source_);                                            \
        if (fetch) {                                                           \
            const Word b = fetchValue;                                         \
            if (allowed) {                                                     \
                AT(lsp + 1) = b;                                               \
                const Word a = AT(lsp);                                        \
                AT(lsp) = (expression);                                        \
                NEXT();                                                        \
            }                                                                  \
        }                                                                      \
    }                                                                          \
    goto slow;
#define fetchValue ip->a
    LOUSA_WITH_OPERAND(AddConst, true, wrapAdd(a, b), true)
    LOUSA_WITH_OPERAND(SubConst, true, wrapSub(a, b), true)
    LOUSA_WITH_OPERAND(MulConst, true, wrapMul(a, b), true)
    LOUSA_WITH_OPERAND(ModConst, true, b == -1 ? 0 : a % b, b != 0)
#undef fetchValue
#define fetchValue AT(source_)
    LOUSA_WITH_OPERAND(AddLocal0, IN(source_), wrapAdd(a, b), true)
    LOUSA_WITH_OPERAND(SubLocal0, IN(source_), wrapSub(a, b), true)
    LOUSA_WITH_OPERAND(MulLocal0, IN(source_), wrapMul(a, b), true)
#undef fetchValue
#undef LOUSA_WITH_OPERAND
    // Two locals pushed and the operation: both stack words written as the
    // three instructions write them, in their order.
#define LOUSA_LOCALS(name, expression)                                        \
    i_##name: {                                                                \
        const Word first_ = wrapAdd(lbp, ip->a);                               \
        const Word second_ = wrapAdd(lbp, ip->b);                              \
        const Word top_ = wrapAdd(lsp, 1);                                     \
        if (IN(first_) && IN(second_) && W2(top_)) {    \
            const Word a = AT(first_);                                         \
            AT(top_) = a;                                                      \
            const Word b = AT(second_);                                        \
            AT(top_ + 1) = b;                                                  \
            AT(top_) = (expression);                                           \
            lsp = top_;                                                        \
            NEXT();                                                            \
        }                                                                      \
        goto slow;                                                             \
    }
    LOUSA_LOCALS(LocalsAdd, wrapAdd(a, b))
    LOUSA_LOCALS(LocalsSub, wrapSub(a, b))
    LOUSA_LOCALS(LocalsMul, wrapMul(a, b))
#undef LOUSA_LOCALS
i_ModConstStoreN1:
    // PUSH a; MOD_INT; STORE_N 1 of the remainder at the address beneath,
    // which is judged before anything is written. A heap word is written
    // with pc at STORE_N (a first write into a page may find the ceiling).
    if (ip->a != 0 && W(wrapSub(lsp, 1)) && W2(lsp)) {
        const Word address = AT(lsp - 1);
        const Word b = ip->a;
        const Word result = b == -1 ? 0 : AT(lsp) % b;
        if (W(address) || address < 0) {
            AT(lsp + 1) = b;
            AT(lsp) = result;
            lsp -= 2;
            if (address >= 0) {
                AT(address) = result;
                NEXT();
            }
            LOUSA_HEAP_WRITE(address, result, 3);  // pc after PUSH (two words) and MOD_INT
            NEXT();
        }
    }
    goto slow;

    // A comparison and the JUMP_FALSE after it: the result word stays
    // written above the stack, as the two instructions leave it.
#define LOUSA_COMPARE_BRANCH(name, test)        \
    i_##name:                                   \
    if (W(wrapSub(lsp, 1)) && IN(lsp)) {        \
        const Word a = AT(lsp - 1);             \
        const Word b = AT(lsp);                 \
        const Word result = (test) ? 1 : 0;     \
        AT(lsp - 1) = result;                   \
        lsp -= 2;                               \
        if (result == 1) NEXT();                \
        TAKE();                                 \
    }                                           \
    goto slow;
    LOUSA_COMPARE_BRANCH(LtBranch, a < b)
    LOUSA_COMPARE_BRANCH(LeBranch, a <= b)
    LOUSA_COMPARE_BRANCH(GtBranch, a > b)
    LOUSA_COMPARE_BRANCH(GeBranch, a >= b)
    LOUSA_COMPARE_BRANCH(EqBranch, a == b)
#undef LOUSA_COMPARE_BRANCH
#define LOUSA_LOCAL_CONST_BRANCH(name, test, line)                        \
    i_##name: {                                                           \
        const Word source = wrapAdd(lbp, ip->a);                          \
        const Word top = wrapAdd(lsp, 1);                                 \
        if (IN(source) && W2(top)) {                 \
            line;                                                         \
            const Word a = AT(source);                                    \
            const Word b = ip->b;                                         \
            const Word result = (test) ? 1 : 0;                           \
            AT(top) = result;                                             \
            AT(top + 1) = b;                                              \
            if (result == 1) NEXT();                                      \
            TAKE();                                                       \
        }                                                                 \
        goto slow;                                                        \
    }
    LOUSA_LOCAL_CONST_BRANCH(LtLocalConstBranch, a < b, )
    LOUSA_LOCAL_CONST_BRANCH(LeLocalConstBranch, a <= b, )
    LOUSA_LOCAL_CONST_BRANCH(GtLocalConstBranch, a > b, )
    LOUSA_LOCAL_CONST_BRANCH(GeLocalConstBranch, a >= b, )
    LOUSA_LOCAL_CONST_BRANCH(EqLocalConstBranch, a == b, )
    // The same after LINE c.
    LOUSA_LOCAL_CONST_BRANCH(LineLtLocalConstBranch, a < b, vm.currentLine = ip->c)
    LOUSA_LOCAL_CONST_BRANCH(LineLeLocalConstBranch, a <= b, vm.currentLine = ip->c)
    LOUSA_LOCAL_CONST_BRANCH(LineGtLocalConstBranch, a > b, vm.currentLine = ip->c)
    LOUSA_LOCAL_CONST_BRANCH(LineGeLocalConstBranch, a >= b, vm.currentLine = ip->c)
    LOUSA_LOCAL_CONST_BRANCH(LineEqLocalConstBranch, a == b, vm.currentLine = ip->c)
#undef LOUSA_LOCAL_CONST_BRANCH
    // LOAD_UP 0 a; PUSH b; an operation: b stays written above the result.
#define LOUSA_LOCAL_CONST(name, expression)                  \
    i_##name: {                                              \
        const Word source = wrapAdd(lbp, ip->a);             \
        const Word top = wrapAdd(lsp, 1);                    \
        if (IN(source) && W2(top)) {    \
            AT(top) = AT(source);                            \
            const Word a = AT(top);                          \
            const Word b = ip->b;                            \
            AT(top + 1) = b;                                 \
            AT(top) = (expression);                          \
            lsp = top;                                       \
            NEXT();                                          \
        }                                                    \
        goto slow;                                           \
    }
    LOUSA_LOCAL_CONST(LocalAddConst, wrapAdd(a, b))
    LOUSA_LOCAL_CONST(LocalSubConst, wrapSub(a, b))
    LOUSA_LOCAL_CONST(LtLocalConst, a < b ? 1 : 0)
    LOUSA_LOCAL_CONST(LeLocalConst, a <= b ? 1 : 0)
    LOUSA_LOCAL_CONST(GtLocalConst, a > b ? 1 : 0)
    LOUSA_LOCAL_CONST(GeLocalConst, a >= b ? 1 : 0)
    LOUSA_LOCAL_CONST(EqLocalConst, a == b ? 1 : 0)
#undef LOUSA_LOCAL_CONST
i_AndBranch:
    if (W(wrapSub(lsp, 1)) && IN(lsp)) {
        const Word v = AT(lsp - 1) & AT(lsp);
        AT(lsp - 1) = v;
        lsp -= 2;
        if (v == 1) NEXT();
        TAKE();
    }
    goto slow;

    // Reals are two words, the high one beneath the low one.
#define LOUSA_REAL_AT(high) Interpretador::realFromWords(AT(high), AT((high) + 1))
#define LOUSA_BINARY_REAL(name, expression)                                     \
    i_##name:                                                                   \
    if (W(wrapSub(lsp, 3)) && IN(lsp)) {                                        \
        const double b = LOUSA_REAL_AT(lsp - 1);                                \
        const double a = LOUSA_REAL_AT(lsp - 3);                                \
        const double result = compute::orderedNaN(a, b, (expression));          \
        const auto bits = std::bit_cast<std::uint64_t>(result);                 \
        lsp -= 2;                                                               \
        AT(lsp) = static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU));    \
        AT(lsp - 1) = static_cast<Word>(static_cast<UWord>(bits >> 32));        \
        NEXT();                                                                 \
    }                                                                           \
    goto slow;
    LOUSA_BINARY_REAL(AddReal, a + b)
    LOUSA_BINARY_REAL(SubReal, a - b)
    LOUSA_BINARY_REAL(MulReal, a * b)
#undef LOUSA_BINARY_REAL
#define LOUSA_COMPARE_REAL(name, expression)    \
    i_##name:                                   \
    if (W(wrapSub(lsp, 3)) && IN(lsp)) {        \
        const double b = LOUSA_REAL_AT(lsp - 1); \
        const double a = LOUSA_REAL_AT(lsp - 3); \
        lsp -= 3;                               \
        AT(lsp) = (expression) ? 1 : 0;         \
        NEXT();                                 \
    }                                           \
    goto slow;
    // Written as the negation of the opposite test, so that NaN compares true.
    LOUSA_COMPARE_REAL(LtReal, !(a >= b))
    LOUSA_COMPARE_REAL(LeReal, !(a > b))
#undef LOUSA_COMPARE_REAL
    // A real word pair at `at` loaded from the frame words address,
    // address + 1, as ADDR_UP 0 a; LOAD_N 2 write them.
#define LOUSA_LOAD_REAL_AT(at, address) \
    AT(at) = (address);                 \
    AT(at) = AT(address);               \
    AT((at) + 1) = AT((address) + 1);
#define LOUSA_STORE_REAL(high, value)                                           \
    {                                                                           \
        const auto bits = std::bit_cast<std::uint64_t>(value);                  \
        AT((high) + 1) = static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU)); \
        AT(high) = static_cast<Word>(static_cast<UWord>(bits >> 32));           \
    }
    // ADDR_UP 0 a; LOAD_N 2; the operation with the real beneath; the Store
    // forms then STORE_N 2 of the result at the address beneath it, when
    // that is a frame or global pair above the code (judged first: a heap
    // pair goes the long way).
#define LOUSA_REAL_LOCAL(name, expression, stores)                                    \
    i_##name: {                                                                       \
        const Word address = wrapAdd(lbp, ip->a);                                     \
        const Word top = wrapAdd(lsp, 1);                                             \
        if (W(wrapSub(lsp, (stores) ? 2 : 1)) && W(wrapAdd(top, 1)) && IN2(address)) { \
            const Word destination = (stores) ? AT(lsp - 2) : 0;                      \
            if (!(stores) || W2(destination)) {                                       \
                LOUSA_LOAD_REAL_AT(top, address)                                      \
                const double b = LOUSA_REAL_AT(top);                                  \
                const double a = LOUSA_REAL_AT(lsp - 1);                              \
                LOUSA_STORE_REAL(lsp - 1, compute::orderedNaN(a, b, (expression)))    \
                if (stores) {                                                         \
                    AT(destination) = AT(lsp - 1);                                    \
                    AT(destination + 1) = AT(lsp);                                    \
                    lsp -= 3;                                                         \
                }                                                                     \
                NEXT();                                                               \
            }                                                                         \
        }                                                                             \
        goto slow;                                                                    \
    }
    LOUSA_REAL_LOCAL(AddRealLocal0, a + b, false)
    LOUSA_REAL_LOCAL(SubRealLocal0, a - b, false)
    LOUSA_REAL_LOCAL(MulRealLocal0, a * b, false)
    LOUSA_REAL_LOCAL(AddRealLocal0Store, a + b, true)
    LOUSA_REAL_LOCAL(SubRealLocal0Store, a - b, true)
    LOUSA_REAL_LOCAL(MulRealLocal0Store, a * b, true)
#undef LOUSA_REAL_LOCAL
    // ADDR_UP 0 a; LOAD_N 2; ADDR_UP 0 b; LOAD_N 2; the operation.
#define LOUSA_REAL_LOCALS(name, expression)                                                     \
    i_##name: {                                                                                 \
        const Word first = wrapAdd(lbp, ip->a);                                                 \
        const Word second = wrapAdd(lbp, ip->b);                                                \
        const Word top = wrapAdd(lsp, 1);                                                       \
        if (W(top) && W(wrapAdd(top, 3)) && IN2(first) && IN(second) && \
            IN(wrapAdd(second, 1))) {                                                           \
            LOUSA_LOAD_REAL_AT(top, first)                                                      \
            LOUSA_LOAD_REAL_AT(top + 2, second)                                                 \
            const double b = LOUSA_REAL_AT(top + 2);                                            \
            const double a = LOUSA_REAL_AT(top);                                                \
            LOUSA_STORE_REAL(top, compute::orderedNaN(a, b, (expression)))                      \
            lsp = top + 1;                                                                      \
            NEXT();                                                                             \
        }                                                                                       \
        goto slow;                                                                              \
    }
    LOUSA_REAL_LOCALS(AddRealLocals, a + b)
    LOUSA_REAL_LOCALS(SubRealLocals, a - b)
    LOUSA_REAL_LOCALS(MulRealLocals, a * b)
#undef LOUSA_REAL_LOCALS
    // The product of two real locals, as MulRealLocals leaves it above the
    // real beneath, then added to or taken from that real.
#define LOUSA_MUL_REAL_LOCALS_THEN(name, expression)                                    \
    i_##name: {                                                                         \
        const Word first = wrapAdd(lbp, ip->a);                                         \
        const Word second = wrapAdd(lbp, ip->b);                                        \
        const Word top = wrapAdd(lsp, 1);                                               \
        if (W(wrapSub(lsp, 1)) && W(wrapAdd(top, 3)) && IN2(first) && IN(second) &&    \
            IN(wrapAdd(second, 1))) {                                                   \
            LOUSA_LOAD_REAL_AT(top, first)                                              \
            LOUSA_LOAD_REAL_AT(top + 2, second)                                         \
            const double x = LOUSA_REAL_AT(top);                                        \
            const double y = LOUSA_REAL_AT(top + 2);                                    \
            const double b = compute::orderedNaN(x, y, x * y);                          \
            LOUSA_STORE_REAL(top, b)                                                    \
            const double a = LOUSA_REAL_AT(lsp - 1);                                    \
            LOUSA_STORE_REAL(lsp - 1, compute::orderedNaN(a, b, (expression)))          \
            NEXT();                                                                     \
        }                                                                               \
        goto slow;                                                                      \
    }
    LOUSA_MUL_REAL_LOCALS_THEN(MulAddRealLocals, a + b)
    LOUSA_MUL_REAL_LOCALS_THEN(MulSubRealLocals, a - b)
#undef LOUSA_MUL_REAL_LOCALS_THEN
#undef LOUSA_STORE_REAL
#undef LOUSA_LOAD_REAL_AT
    // PUSH_REAL b:a above the real beneath, then the comparison (true on NaN,
    // as the negation of the opposite test).
#define LOUSA_COMPARE_REAL_CONST(name, expression)              \
    i_##name:                                                   \
    if (W(wrapSub(lsp, 1)) && W(wrapAdd(lsp, 2))) {             \
        AT(lsp + 1) = ip->b;                                    \
        AT(lsp + 2) = ip->a;                                    \
        const double b = LOUSA_REAL_AT(lsp + 1);                \
        const double a = LOUSA_REAL_AT(lsp - 1);                \
        lsp -= 1;                                               \
        AT(lsp) = (expression) ? 1 : 0;                         \
        NEXT();                                                 \
    }                                                           \
    goto slow;
    LOUSA_COMPARE_REAL_CONST(LtRealConst, !(a >= b))
    LOUSA_COMPARE_REAL_CONST(LeRealConst, !(a > b))
#undef LOUSA_COMPARE_REAL_CONST
    // The same comparison, then AND_INT with the boolean beneath and
    // JUMP_FALSE on the conjunction (a `while` of two conditions).
#define LOUSA_COMPARE_REAL_CONST_AND_BRANCH(name, expression)   \
    i_##name:                                                   \
    if (W(wrapSub(lsp, 2)) && W(wrapAdd(lsp, 2))) {             \
        AT(lsp + 1) = ip->b;                                    \
        AT(lsp + 2) = ip->a;                                    \
        const double b = LOUSA_REAL_AT(lsp + 1);                \
        const double a = LOUSA_REAL_AT(lsp - 1);                \
        AT(lsp - 1) = (expression) ? 1 : 0;                     \
        const Word v = AT(lsp - 2) & AT(lsp - 1);               \
        AT(lsp - 2) = v;                                        \
        lsp -= 3;                                               \
        if (v == 1) NEXT();                                     \
        TAKE();                                                 \
    }                                                           \
    goto slow;
    LOUSA_COMPARE_REAL_CONST_AND_BRANCH(LtRealConstAndBranch, !(a >= b))
    LOUSA_COMPARE_REAL_CONST_AND_BRANCH(LeRealConstAndBranch, !(a > b))
#undef LOUSA_COMPARE_REAL_CONST_AND_BRANCH
#undef LOUSA_REAL_AT

i_Jump:
    TAKE();
i_JumpFalse:
    if (IN(lsp)) {
        const Word v = AT(lsp);
        --lsp;
        if (v == 1) NEXT();
        TAKE();
    }
    goto slow;
i_Inc:
    if (IN(lsp)) {
        const Word address = AT(lsp);
        if (W(address)) {
            AT(address) = wrapAdd(AT(address), 1);
            --lsp;
            NEXT();
        }
        if (address < 0) {
            --lsp;
            LOUSA_HEAP_WRITE(address, wrapAdd(vm.heap.read(address), 1), 0);
            NEXT();
        }
    }
    goto slow;
#define LOUSA_INC_LOCAL0(label, jumps)             \
    i_##label: {                                   \
        const Word address = wrapAdd(lbp, ip->a);  \
        const Word top = wrapAdd(lsp, 1);          \
        if (W(top) && W(address)) {                \
            AT(top) = address;                     \
            AT(address) = wrapAdd(AT(address), 1); \
            if (!(jumps)) NEXT();                  \
            TAKE();                                \
        }                                          \
        goto slow;                                 \
    }
    LOUSA_INC_LOCAL0(IncLocal0, false)
    LOUSA_INC_LOCAL0(IncLocal0Jump, true)
#undef LOUSA_INC_LOCAL0
    // The test at a loop's head, reached by a back edge: LOAD_UP 0 of the
    // local at source pushed at top, PUSH b, compare c, JUMP_FALSE d, the
    // same words written as the original instructions write them. A stop
    // request at the jump stops at the test, which has not run then.
    // A loop test's comparison (c & 7: <, <=, >, >=, and = for the rest),
    // as the orders in which it holds: 1 below, 2 equal, 4 above.
    static constexpr std::uint8_t kTestMasks[8] = {1, 3, 4, 6, 2, 2, 2, 2};
#define LOUSA_LOOP_TEST(source, top)                                                              \
    {                                                                                             \
        const bool withLine = (ip->c & 8) != 0;                                                   \
        if (halted(vm)) {                                                                         \
            if constexpr (Budgeted) executed -= withLine ? 5U : 4U;                               \
            vm.sp = lsp;                                                                          \
            vm.bp = lbp;                                                                          \
            /* LINE 2, LOAD_UP 3, PUSH 2, compare 1, JUMP_FALSE 2 words */                        \
            vm.pc = wrapSub(ip->target, withLine ? 10 : 8);                                       \
            return;                                                                               \
        }                                                                                         \
        if (withLine) vm.currentLine = ip->line;                                                  \
        const Word a = AT(source);                                                                \
        const Word b = ip->b;                                                                     \
        /* The comparison without a branch: bit 0, 1 or 2 of its mask says */                   \
        /* whether it holds when a is below, equal to or above b. */                             \
        const unsigned order = static_cast<unsigned>(a >= b) + static_cast<unsigned>(a > b);      \
        const bool holds = ((kTestMasks[ip->c & 7] >> order) & 1U) != 0;                          \
        AT(top) = holds ? 1 : 0;                                                                  \
        AT((top) + 1) = b;                                                                        \
        if (holds) {                                                                              \
            if (ip->link >= 0) {                                                                  \
                ip = base + ip->link;                                                             \
                DISPATCH();                                                                       \
            }                                                                                     \
            goto resolve;                                                                         \
        }                                                                                         \
        if (ip->e >= 0) {                                                                         \
            ip = base + ip->e;                                                                    \
            DISPATCH();                                                                           \
        }                                                                                         \
        goto resolve_exit;                                                                        \
    }
    // The jump (after the INC of local a) to the loop's test, and the test.
#define LOUSA_JUMP_TEST(label, increments)                           \
    i_##label: {                                                     \
        const Word source = wrapAdd(lbp, ip->a);                     \
        const Word top = wrapAdd(lsp, 1);                            \
        if (IN(source) && W2(top) && (!(increments) || W(source))) { \
            if (increments) {                                        \
                AT(top) = source;                                    \
                AT(source) = wrapAdd(AT(source), 1);                 \
            }                                                        \
            LOUSA_LOOP_TEST(source, top)                             \
        }                                                            \
        goto slow;                                                   \
    }
    LOUSA_JUMP_TEST(JumpTest, false)
    LOUSA_JUMP_TEST(IncLocal0Test, true)
#undef LOUSA_JUMP_TEST
    // ADDR_UP 0 a; LOAD_UP 0 a; LOAD_UP 0 f (or PUSH f, c + 16); ADD_INT;
    // STORE_N 1, as LOUSA_SET_LOCAL writes it, then the JUMP and the test.
    // Each kind of addend has its own code.
#define LOUSA_ADD_LOCAL_TEST(constant)                                                  \
    do {                                                                                \
        const Word address = wrapAdd(lbp, ip->a);                                       \
        const Word top = wrapAdd(lsp, 1);                                               \
        const Word other = wrapAdd(lbp, ip->f);                                         \
        if (W(top) && W(wrapAdd(top, 2)) && W(address) && ((constant) || IN(other))) { \
            AT(top) = address;                                                          \
            AT(top + 1) = AT(address);                                                  \
            AT(top + 2) = (constant) ? ip->f : AT(other);                               \
            AT(top + 1) = wrapAdd(AT(top + 1), AT(top + 2));                            \
            AT(AT(top)) = AT(top + 1);                                                  \
            LOUSA_LOOP_TEST(address, top)                                               \
        }                                                                               \
        goto slow;                                                                      \
    } while (0)
i_AddLocalTest:
    if ((ip->c & 16) != 0) LOUSA_ADD_LOCAL_TEST(true);
    LOUSA_ADD_LOCAL_TEST(false);
#undef LOUSA_ADD_LOCAL_TEST
#undef LOUSA_LOOP_TEST
i_CheckIndex: {
    const Word top = wrapAdd(lsp, 1);
    if (W(lsp) && W(top)) {
        const Word v = AT(lsp);
        if (v >= ip->a && v <= ip->b) {
            AT(lsp) = wrapSub(v, ip->a);
            AT(top) = wrapAdd(wrapSub(ip->b, ip->a), 1);
            lsp = top;
            NEXT();
        }
    }
    goto slow;
}
i_IndexAddr1:
    // base, index, extent on the stack become one address.
    if (W(wrapSub(lsp, 2)) && IN(lsp)) {
        const Word offset = wrapMul(AT(lsp - 1), ip->a);
        lsp -= 2;
        const Word arrayBase = AT(lsp);
        AT(lsp) = arrayBase < 0 ? wrapSub(arrayBase, offset) : wrapAdd(arrayBase, offset);
        NEXT();
    }
    goto slow;
i_IndexChecked: {
    // An index out of its bounds raises its message in the reference handler.
    const Word top = wrapAdd(lsp, 1);
    if (W(wrapSub(lsp, 1)) && W(top)) {
        const Word v = AT(lsp);
        if (v >= ip->a && v <= ip->b) {
            const Word index = wrapSub(v, ip->a);
            AT(lsp) = index;
            AT(top) = wrapAdd(wrapSub(ip->b, ip->a), 1);
            const Word offset = wrapMul(index, ip->c);
            --lsp;
            const Word arrayBase = AT(lsp);
            AT(lsp) = arrayBase < 0 ? wrapSub(arrayBase, offset) : wrapAdd(arrayBase, offset);
            NEXT();
        }
    }
    goto slow;
}
i_Field:
    if (W(lsp)) {
        const Word record = AT(lsp);
        AT(lsp) = record > 0 ? wrapAdd(record, ip->a) : wrapSub(record, ip->a);
        NEXT();
    }
    goto slow;
i_FieldLoad:
    if (W(lsp)) {
        const Word record = AT(lsp);
        const Word address = record > 0 ? wrapAdd(record, ip->a) : wrapSub(record, ip->a);
        // FIELD's result is on the stack first: the load reads it back when
        // the field's address is the stack top itself.
        if (IN(address)) AT(lsp) = address;
        LOUSA_TOP_FROM(address)
    }
    goto slow;
#undef LOUSA_TOP_FROM
    // [LOAD_UP 0 f, the array's base;] LOAD_UP 0 a pushes the index above
    // the base; CHECK_INDEX turns it into its offset from b and pushes the
    // extent; INDEX_ADDR replaces the base by the element's address. The
    // loads then load that word, when it is a dense or heap word (decided
    // before anything is written), and the branch pops it for JUMP_FALSE.
    // The stores go on with PUSH e; STORE_N 1 into the element: the stack
    // words end as the five (or six) leave them (the element's address in
    // the base's word, e above it, the extent above that). Nothing is
    // written until the element is known; a heap element is written with pc
    // at STORE_N, where a first write into a page may find the memory ceiling.
#define LOUSA_ELEMENT(label, local, loads, branches, stores)                                                  \
    i_##label: {                                                                                              \
        const Word at = (local) ? wrapAdd(lsp, 1) : lsp; /* the base's word */                                \
        const Word baseSlot = wrapAdd(lbp, ip->f);                                                            \
        const Word source = wrapAdd(lbp, ip->a);                                                              \
        const Word top = wrapAdd(at, 1);                                                                      \
        if ((!(local) || IN(baseSlot)) && IN(source) && W(at) && W2(top)) {                                   \
            const Word arrayBase = (local) ? AT(baseSlot) : AT(at);                                           \
            const Word v = (local) && source == at ? arrayBase : AT(source);                                  \
            if (v >= ip->b && v <= ip->c) {                                                                   \
                const Word index = wrapSub(v, ip->b);                                                         \
                const Word offset = wrapMul(index, ip->d);                                                    \
                const Word address = arrayBase < 0 ? wrapSub(arrayBase, offset) : wrapAdd(arrayBase, offset); \
                if ((stores) && (W(address) || address < 0)) {                                                \
                    AT(top + 1) = wrapAdd(wrapSub(ip->c, ip->b), 1);                                          \
                    AT(at) = address;                                                                         \
                    AT(top) = ip->e;                                                                          \
                    if (!(local)) --lsp;                                                                      \
                    if (address >= 0) {                                                                       \
                        AT(address) = ip->e;                                                                  \
                        NEXT();                                                                               \
                    }                                                                                         \
                    /* pc at STORE_N: after [LINE, ] [LOAD_UP, ] LOAD_UP, CHECK_INDEX, INDEX_ADDR and PUSH */ \
                    LOUSA_HEAP_WRITE(address, ip->e, (ip->lined ? 2 : 0) + ((local) ? 14 : 11));              \
                    NEXT();                                                                                   \
                }                                                                                             \
                if (!(stores) && (!(loads) || IN(address) || address < 0)) {                                  \
                    AT(top) = index;                                                                          \
                    AT(top + 1) = wrapAdd(wrapSub(ip->c, ip->b), 1);                                          \
                    AT(at) = address;                                                                         \
                    if (!(loads)) NEXT();                                                                     \
                    AT(at) = IN(address) ? AT(address) : vm.heap.read(address);                               \
                    lsp = at;                                                                                 \
                    if (!(branches)) NEXT();                                                                  \
                    const Word value = AT(at);                                                                \
                    lsp = wrapSub(at, 1);                                                                     \
                    if (value == 1) NEXT();                                                                   \
                    TAKE();                                                                                   \
                }                                                                                             \
            }                                                                                                 \
        }                                                                                                     \
        goto slow;                                                                                            \
    }
    LOUSA_ELEMENT(ElementAddr, false, false, false, false)
    LOUSA_ELEMENT(ElementLoad, false, true, false, false)
    LOUSA_ELEMENT(LocalElementLoad, true, true, false, false)
    LOUSA_ELEMENT(LocalElementLoadBranch, true, true, true, false)
    LOUSA_ELEMENT(ElementStoreConst, false, false, false, true)
    LOUSA_ELEMENT(LocalElementStoreConst, true, false, false, true)
#undef LOUSA_ELEMENT
i_StoreConstN1:
    // PUSH a above the address, then STORE_N 1; a heap word is written with
    // pc at STORE_N (a first write into a page may find the memory ceiling).
    if (IN(lsp) && W(wrapAdd(lsp, 1))) {
        const Word address = AT(lsp);
        if (W(address)) {
            AT(lsp + 1) = ip->a;
            AT(address) = ip->a;
            --lsp;
            NEXT();
        }
        if (address < 0) {
            AT(lsp + 1) = ip->a;
            --lsp;
            LOUSA_HEAP_WRITE(address, ip->a, 2);
            NEXT();
        }
    }
    goto slow;
    // ADDR_UP 0 a; LOAD_UP 0 b; PUSH c or LOAD_UP 0 c; ADD_INT or SUB_INT;
    // STORE_N 1: the three stack words written as the five instructions
    // write them, in their order, then the local.
#define LOUSA_SET_LOCAL(name, fetch, sourceOk, expression)                                        \
    i_##name: {                                                                                   \
        const Word address = wrapAdd(lbp, ip->a);                                                 \
        const Word source = wrapAdd(lbp, ip->b);                                                  \
        const Word other = wrapAdd(lbp, ip->c);                                                   \
        static_cast<void>(other);                                                                 \
        const Word top = wrapAdd(lsp, 1);                                                         \
        if (W(top) && W(wrapAdd(top, 2)) && W(address) && IN(source) && (sourceOk)) {            \
            AT(top) = address;                                                                    \
            AT(top + 1) = AT(source);                                                             \
            AT(top + 2) = (fetch);                                                                \
            const Word a = AT(top + 1);                                                           \
            const Word b = AT(top + 2);                                                           \
            AT(top + 1) = (expression);                                                           \
            AT(AT(top)) = AT(top + 1);                                                            \
            NEXT();                                                                               \
        }                                                                                         \
        goto slow;                                                                                \
    }
    LOUSA_SET_LOCAL(SetLocalAddConst, ip->c, true, wrapAdd(a, b))
    LOUSA_SET_LOCAL(SetLocalSubConst, ip->c, true, wrapSub(a, b))
    LOUSA_SET_LOCAL(SetLocalAddLocal, AT(other), IN(other), wrapAdd(a, b))
    LOUSA_SET_LOCAL(SetLocalSubLocal, AT(other), IN(other), wrapSub(a, b))
#undef LOUSA_SET_LOCAL
i_CopyReal0: {
    // ADDR_UP 0 a; ADDR_UP 0 b; LOAD_N 2; STORE_N 2.
    const Word address = wrapAdd(lbp, ip->a);
    const Word source = wrapAdd(lbp, ip->b);
    const Word top = wrapAdd(lsp, 1);
    if (W(top) && W(wrapAdd(top, 2)) && IN2(source) && W2(address)) {
        AT(top) = address;
        AT(top + 1) = source;
        AT(top + 1) = AT(source);
        AT(top + 2) = AT(source + 1);
        AT(address) = AT(top + 1);
        AT(address + 1) = AT(top + 2);
        NEXT();
    }
    goto slow;
}
    // The string forms (string_forms.hpp), some out of line, and the set
    // forms: the reference handlers' usual cases on the registers, the words
    // written only above the code.
#define LOUSA_DENSE (compute::DenseMemory{m, msize, lo})
i_PushWords:
i_PushConstWords:
    if (pushWordsForm(LOUSA_DENSE, lsp, ip->a, ip->b, ip->op == Iop::PushConstWords, ip->c)) NEXT();
    goto slow;
i_LoadStr:
    if (W(lsp) && loadStrForm(LOUSA_DENSE, lsp, AT(lsp), lsp, ip->a)) NEXT();
    goto slow;
i_LoadStrLocal0:
    if (loadStrForm(LOUSA_DENSE, lsp, wrapAdd(lbp, ip->a), wrapAdd(lsp, 1), ip->b)) NEXT();
    goto slow;
i_LocalStrPos:
    if (localPosForm(LOUSA_DENSE, lsp, wrapAdd(lbp, ip->a), ip->b)) NEXT();
    goto slow;
i_LocalConcat:
    if (localConcatForm(vm, LOUSA_DENSE, lsp, wrapAdd(lbp, ip->a), ip->b)) NEXT();
    goto slow;
i_StoreStr:
    if (storeStrForm(vm, LOUSA_DENSE, lsp, ip->a)) NEXT();
    goto slow;
i_Concat:
    if (concatForm(vm, LOUSA_DENSE, lsp, ip->a)) NEXT();
    goto slow;
i_StrPos:
    if (strPosForm(vm, LOUSA_DENSE, lsp, ip->a)) NEXT();
    goto slow;
i_Copy:
    if (copyForm(vm, LOUSA_DENSE, lsp)) NEXT();
    goto slow;
i_StrInt:
    if (strIntForm(LOUSA_DENSE, lsp, ip->a)) NEXT();
    goto slow;
i_LoadSet:
    if (IN(lsp) && compute::loadSetAt(vm.sets, LOUSA_DENSE, AT(lsp), lsp, lsp)) NEXT();
    goto slow;
i_LoadSetLocal0:
    // The address ADDR_UP pushes is written over by the value.
    if (compute::loadSetAt(vm.sets, LOUSA_DENSE, wrapAdd(lbp, ip->a), wrapAdd(lsp, 1), lsp)) NEXT();
    goto slow;
i_CheckSet:
    // An element outside the bounds is the reference's error.
    if (IN(lsp) && compute::denseSetWithin(m, lsp, ip->a, ip->b)) NEXT();
    goto slow;
i_CheckStoreSet:
    if (IN(lsp) && compute::denseSetWithin(m, lsp, ip->a, ip->b) && compute::storeSetAt(vm.sets, LOUSA_DENSE, lsp))
        NEXT();
    goto slow;
i_StoreSet:
    if (compute::storeSetAt(vm.sets, LOUSA_DENSE, lsp)) NEXT();
    goto slow;
i_InSet:
    if (compute::inSetAt(LOUSA_DENSE, lsp)) NEXT();
    goto slow;
    // JUMP_FALSE on the result IN_SET has just written.
#define LOUSA_BRANCH_ON_TOP() \
    do {                      \
        const Word v_ = AT(lsp); \
        --lsp;                \
        if (v_ == 1) NEXT();  \
        TAKE();               \
    } while (0)
i_InSetBranch:
    if (compute::inSetAt(LOUSA_DENSE, lsp)) LOUSA_BRANCH_ON_TOP();
    goto slow;
i_LoadSetLocal0InSetBranch:
    // The element, beneath the address pushed, known writable first: the
    // value loaded above it then lies whole in the memory, and IN_SET holds.
    if (W(lsp) && compute::loadSetAt(vm.sets, LOUSA_DENSE, wrapAdd(lbp, ip->a), wrapAdd(lsp, 1), lsp)) {
        compute::inSetAt(LOUSA_DENSE, lsp);
        LOUSA_BRANCH_ON_TOP();
    }
    goto slow;
#undef LOUSA_BRANCH_ON_TOP
    // The workspace growing may find no memory: the run ends with sp
    // beneath both operands, as the reference leaves it.
#define LOUSA_SET_OPERATION(Op)                                                      \
    {                                                                                \
        bool done_ = false;                                                          \
        try {                                                                        \
            done_ = compute::setOperationAt(vm.sets.work, LOUSA_DENSE, lsp, Op{});   \
        } catch (...) {                                                              \
            SYNC_OUT();                                                              \
            throw;                                                                   \
        }                                                                            \
        if (done_) NEXT();                                                           \
        goto slow;                                                                   \
    }
i_SetUnion:
    LOUSA_SET_OPERATION(compute::Unite)
i_SetInter:
    LOUSA_SET_OPERATION(compute::Intersect)
i_SetDiff:
    LOUSA_SET_OPERATION(compute::Subtract)
#undef LOUSA_SET_OPERATION
#undef LOUSA_DENSE
    // CALL d t: three words pushed (static link, caller's frame, return
    // address). Each variant is its own code, its constants folded.
#define LOUSA_CALL(name, level)                                         \
    i_##name: {                                                         \
        const Word top = wrapAdd(lsp, 3);                               \
        if (W(wrapAdd(lsp, 1)) && W(top) && ((level) == 0 || IN(lbp))) { \
            const Word link = (level) == 0 ? lbp : AT(lbp);             \
            AT(lsp + 1) = link;                                         \
            AT(lsp + 2) = lbp;                                          \
            AT(top) = ip->b;                                            \
            lsp = top;                                                  \
            lbp = top - 2;                                              \
            TAKE();                                                     \
        }                                                               \
        goto slow;                                                      \
    }
    LOUSA_CALL(Call0, 0)
    LOUSA_CALL(Call1, 1)
#undef LOUSA_CALL
    // The argument (local a plus or minus b, with b left above it), then
    // CALL d: the static link is read once the argument is written.
#define LOUSA_CALL_LOCAL(name, argument)                                       \
    i_##name: {                                                                \
        const Word source = wrapAdd(lbp, ip->a);                               \
        const Word top = wrapAdd(lsp, 1);                                      \
        if (IN(source) && W(top) && IN(std::int64_t{top} + 3) && (ip->d == 0 || IN(lbp))) { \
            const Word a = AT(source);                                         \
            const Word b = ip->b;                                              \
            AT(top + 1) = b;                                                   \
            AT(top) = argument;                                                \
            const Word link = ip->d == 0 ? lbp : AT(lbp);                      \
            AT(top + 1) = link;                                                \
            AT(top + 2) = lbp;                                                 \
            AT(top + 3) = ip->c;                                               \
            lsp = top + 3;                                                     \
            lbp = top + 1;                                                     \
            TAKE();                                                            \
        }                                                                      \
        goto slow;                                                             \
    }
    LOUSA_CALL_LOCAL(CallLocalAddConst, wrapAdd(a, b))
    LOUSA_CALL_LOCAL(CallLocalSubConst, wrapSub(a, b))
#undef LOUSA_CALL_LOCAL
    // ENTER n m's common case (n from 0 to kFrameWords, reach = n plus m's
    // positive part, both from the translation): a frame inside the
    // contiguous memory and under the memory limit; sp moves up and the new
    // words are cleared.
#define LOUSA_FRAME_FITS(n, reach) \
    (std::int64_t{lsp} + (reach) <= MEMORY_LIMIT && ((n) == 0 || (W(wrapAdd(lsp, 1)) && IN(std::int64_t{lsp} + (n)))))
    // The n new words of a frame cleared; most frames have one or two.
#define LOUSA_CLEAR_FRAME(n)                       \
    do {                                           \
        Word* const words_ = m + lsp + 1;          \
        if ((n) <= 2) {                            \
            if ((n) > 0) words_[0] = 0;            \
            if ((n) > 1) words_[1] = 0;            \
        } else {                                   \
            std::fill_n(words_, (n), Word{0});     \
        }                                          \
    } while (0)
i_Enter: {
    const Word n = ip->a;
    if (LOUSA_FRAME_FITS(n, ip->c)) {
        LOUSA_CLEAR_FRAME(n);
        lsp += n;
        NEXT();
    }
    goto slow;
}
    // The scope record takes the name the translation kept. Its push may
    // find the memory ceiling: the registers are written back first, with
    // pc at SCOPE_ENTER, and a budget counts SCOPE_ENTER alone until then.
#define LOUSA_SCOPE_ENTER(label, enters)                                \
    i_##label: {                                                        \
        const Word n = ip->c;                                           \
        if (!(enters) || LOUSA_FRAME_FITS(n, ip->e)) {                  \
            try {                                                       \
                vm.scopes.pushPadded(tr.name(ip->a, ip->b), lbp);       \
            } catch (...) {                                             \
                SYNC_OUT();                                             \
                if constexpr (Budgeted) executed -= ip->weight - 1U;    \
                throw;                                                  \
            }                                                           \
            if (enters) {                                               \
                LOUSA_CLEAR_FRAME(n);                                   \
                lsp += n;                                               \
            }                                                           \
            NEXT();                                                     \
        }                                                               \
        goto slow;                                                      \
    }
    LOUSA_SCOPE_ENTER(ScopeEnter, false)
    LOUSA_SCOPE_ENTER(ScopeEnterEnter, true)
#undef LOUSA_SCOPE_ENTER
#undef LOUSA_FRAME_FITS
#undef LOUSA_CLEAR_FRAME
    // Results of up to four words (a string result goes the long way), n
    // parameter words from 0 to kFrameWords; each variant is its own code.
    // CopyLocal0RetFunc first stores local b into local a (a function's
    // result), once the return is known to hold too.
#define LOUSA_RET_FUNC(name, copies)                                                          \
    i_##name: {                                                                               \
        const Word n = (copies) ? ip->c : ip->a;                                              \
        const Word words = (copies) ? ip->d : ip->b;                                          \
        const Word address = wrapAdd(lbp, ip->a);                                             \
        const Word source = wrapAdd(lbp, ip->b);                                              \
        const Word top = wrapAdd(lsp, 1);                                                     \
        /* The frame's link words and the words the result goes to: from */                  \
        /* bp - n, which is then at least the code's end, to bp + 2 + words. */               \
        const bool fits = words == 0 ? lbp >= 0 && IN(std::int64_t{lbp} + 2)                 \
                                     : W(std::int64_t{lbp} - n) && IN(std::int64_t{lbp} + 2 + words); \
        if (fits && (!(copies) || (W2(top) && W(address) && IN(source)))) {                   \
            if (copies) {                                                                     \
                AT(top) = address;                                                            \
                AT(top + 1) = AT(source);                                                     \
                AT(address) = AT(top + 1);                                                    \
            }                                                                                 \
            const Word frame = lbp;                                                           \
            const Word returnAddress = AT(frame + 2);                                         \
            const Word callerBp = AT(frame + 1);                                              \
            lsp = frame - n - 1;                                                              \
            if (words == 1) {                                                                 \
                AT(lsp + 1) = AT(frame + 3);                                                  \
                ++lsp;                                                                        \
            } else {                                                                          \
                for (Word i = 0; i < words; ++i) {                                            \
                    ++lsp;                                                                    \
                    AT(lsp) = AT(frame + 3 + i);                                              \
                }                                                                             \
            }                                                                                 \
            lbp = callerBp;                                                                   \
            vm.scopes.pop();                                                                  \
            GO_TO(returnAddress);                                                             \
        }                                                                                     \
        goto slow;                                                                            \
    }
    LOUSA_RET_FUNC(RetFunc, false)
    LOUSA_RET_FUNC(JumpRetFunc, false)
    LOUSA_RET_FUNC(CopyLocal0RetFunc, true)
#undef LOUSA_RET_FUNC
i_JumpRetProc:
i_RetProc:
    if (lbp >= 0 && IN(wrapAdd(lbp, 2))) {
        lsp = wrapSub(wrapSub(lbp, ip->a), 1);
        const Word returnAddress = AT(lbp + 2);
        lbp = AT(lbp + 1);
        vm.scopes.pop();
        GO_TO(returnAddress);
    }
    goto slow;

#undef AFTER_ORIGINAL
#undef LOUSA_HEAP_WRITE
#undef GO_TO
#undef TAKE
#undef NEXT
#undef DISPATCH
#undef AT
#undef W2
#undef IN2
#undef W
#undef IN
#undef SYNC_OUT
#undef SYNC_IN
}

#pragma GCC diagnostic pop
#endif

}  // namespace

}  // namespace lousa::engine
