#pragma once
// The contiguous region as the instructions' usual cases see it: its words,
// how many, and the first one they may write directly (the words below it
// are watched, and their writes noted one by one by the general path). The
// reference handlers build it from the memory, the translation tier from the
// registers it keeps.

#include <cstdint>

#include "vm/interpretador.hpp"
#include "vm/word.hpp"

namespace lousa::compute {

struct DenseMemory {
    Word* words;
    UWord size;
    UWord writableFrom;

    [[nodiscard]] bool holds(Word a) const { return static_cast<UWord>(a) < size; }
    // The count words from first all lie in the region.
    [[nodiscard]] bool holds(std::int64_t first, std::int64_t count) const {
        return first >= 0 && first + count <= std::int64_t{size};
    }
    // And may be written directly.
    [[nodiscard]] bool writable(std::int64_t first, std::int64_t count) const {
        return first >= std::int64_t{writableFrom} && first + count <= std::int64_t{size};
    }
};

inline DenseMemory denseMemory(Interpretador& m) {
    return {m.memory.denseWords(), static_cast<UWord>(m.memory.denseSize()), m.memory.watchEnd()};
}

}  // namespace lousa::compute
