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

// How far a string on the stack is searched for its -1 marker: a string
// without one is consumed this far and no further.
inline constexpr Word kStringScanLimit = 4097;

// The reductions of reads and conversions: byte, short integer, word.
constexpr Word lowByte(Word value) { return value & 0xFF; }
constexpr Word signedByte(Word value) { return static_cast<std::int8_t>(static_cast<std::uint8_t>(value & 0xFF)); }
constexpr Word lowWord(Word value) { return value & 0xFFFF; }

// A bound only hostile code reaches: indexing more array dimensions than this is cut here.
inline constexpr Word kMaxDimensions = 1 << 16;

}  // namespace lousa
