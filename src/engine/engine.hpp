#pragma once
// The translation tier's entry points, called by the machine's run and
// runBudget when its tier is Tier::fast.

#include <cstdint>

namespace lousa {
class Interpretador;
}

namespace lousa::engine {

// Runs the machine from its pc until it stops (HALT, a stop request, a
// run-time error, which propagates as from the reference loop).
void runTranslated(Interpretador& machine);

// The same, stopping once `maxSteps` original instructions have run;
// `executed` counts them exactly as the reference loop does, the one that
// raised an error included.
void runTranslatedBudget(Interpretador& machine, std::uint64_t maxSteps, std::uint64_t& executed);

}  // namespace lousa::engine
