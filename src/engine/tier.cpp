#include "engine/tier.hpp"

#include <cstdlib>

namespace lousa {

std::optional<Tier> tierByName(std::string_view name) {
    if (name == "reference") return Tier::reference;
    if (name == "fast") return Tier::fast;
    return std::nullopt;
}

std::string_view tierName(Tier tier) { return tier == Tier::fast ? "fast" : "reference"; }

Tier tierFromEnvironment() {
    const char* name = std::getenv("LOUSA_ENGINE");
    if (name == nullptr) return kDefaultTier;
    return tierByName(name).value_or(kDefaultTier);
}

}  // namespace lousa
