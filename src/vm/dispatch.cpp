// The fetch-dispatch loop. The hot families are included here as inline
// definitions so that the compiler can fold each handler into its case.

#include <algorithm>
#include <new>

#include "vm/opcode_table.hpp"

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
std::uint64_t Interpretador::loop(std::uint64_t maxSteps) {
    std::uint64_t executed = 0;
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
    return executed;
}

#undef OP

// The unbudgeted loop uses threaded dispatch: every handler ends with its
// own indirect jump to the next one, which the branch predictor can learn
// per opcode, and flattening folds the memory primitives into each handler.
// `running` is still tested before every instruction, so HALT and a stop
// request end the run at the next instruction boundary.
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

#define LOUSA_NEXT()                                                          \
    do {                                                                      \
        if (!running.load(std::memory_order_relaxed)) return;                 \
        goto* table[std::min<UWord>(fetchOpcode(), kInvalidSlot)];            \
    } while (0)

    LOUSA_NEXT();
#define OP(num, name, operands, handler) \
    op_##handler:                        \
    op##handler();                       \
    LOUSA_NEXT();
#include "vm/opcodes.def"
#undef OP
invalid:
    invalidInstruction();
#undef LOUSA_NEXT
}
#pragma GCC diagnostic pop
#else
void Interpretador::threadedLoop() { loop<false>(0); }
#endif


void Interpretador::run() {
    try {
        start();
        threadedLoop();
    } catch (...) {
        // A run-time error has recorded its text; anything else ends the run silently.
    }
    running.store(false, std::memory_order_relaxed);
}

std::uint64_t Interpretador::runBudget(std::uint64_t maxSteps) {
    std::uint64_t executed = 0;
    try {
        start();
        executed = loop<true>(maxSteps);
    } catch (...) {
    }
    return executed;
}

}  // namespace lousa
