// The fetch-dispatch loop. The hot families are included here as inline
// definitions so that the compiler can fold each handler into its case.

#include <new>

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

void Interpretador::run() {
    try {
        start();
        loop<false>(0);
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
