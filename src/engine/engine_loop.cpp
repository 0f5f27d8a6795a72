// The translation tier's run and budgeted run: the loop of loop.hpp without
// counting.

#include "engine/engine.hpp"
#include "engine/loop.hpp"

namespace lousa::engine {

void runTranslated(Interpretador& machine) {
    std::uint64_t executed = 0;
    loop<false>(machine, 0, executed);
}

void runTranslatedBudget(Interpretador& machine, std::uint64_t maxSteps, std::uint64_t& executed) {
    loop<true>(machine, maxSteps, executed);
}

}  // namespace lousa::engine
