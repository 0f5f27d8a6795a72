#pragma once
#include <cstdint>

namespace lousa {

// The unit of code, memory, stack and registers.
using Word = std::int32_t;
using UWord = std::uint32_t;

// Wrapping 32-bit arithmetic without signed overflow.
constexpr Word wrapAdd(Word a, Word b) { return static_cast<Word>(static_cast<UWord>(a) + static_cast<UWord>(b)); }
constexpr Word wrapSub(Word a, Word b) { return static_cast<Word>(static_cast<UWord>(a) - static_cast<UWord>(b)); }
constexpr Word wrapMul(Word a, Word b) { return static_cast<Word>(static_cast<UWord>(a) * static_cast<UWord>(b)); }
constexpr Word wrapNeg(Word a) { return static_cast<Word>(0U - static_cast<UWord>(a)); }

// Frame-reserving instructions keep sp plus the requested space at or below this.
inline constexpr Word MEMORY_LIMIT = 800000;

// Bounds that only hostile code reaches: following more static links, or
// indexing more array dimensions, than this is cut here.
inline constexpr Word kMaxStaticLevels = 1 << 16;
inline constexpr Word kMaxDimensions = 1 << 16;

}  // namespace lousa
