#pragma once
// Which loop runs a machine: the reference loop (the definition of
// behaviour) or the translation tier.

#include <optional>
#include <string_view>

namespace lousa {

enum class Tier { reference, fast };

// "reference" or "fast"; nothing for any other text.
std::optional<Tier> tierByName(std::string_view name);
std::string_view tierName(Tier tier);

// The tier a machine starts with: LOUSA_ENGINE from the environment when it
// names one, else the default.
Tier tierFromEnvironment();
inline constexpr Tier kDefaultTier = Tier::fast;

}  // namespace lousa
