#include "vm/word_memory.hpp"

#include <algorithm>
#include <cstdint>

namespace lousa {

Word WordMemory::readSlow(UWord index) const {
    const auto it = sparse_.find(index);
    return it == sparse_.end() ? 0 : it->second;
}

void WordMemory::reserveDense(UWord words) {
    denseLimit_ = std::max(kDenseLimit, static_cast<UWord>(std::min<std::uint64_t>(std::uint64_t{words} + kDenseLimit, UINT32_MAX / 2)));
    if (words > dense_.size()) dense_.resize(words, 0);
}

void WordMemory::writeSlow(UWord index, Word value) {
    if (index < denseLimit_) {
        // Doubling keeps growth amortised constant per word.
        const std::size_t wanted = std::max<std::size_t>({std::size_t{index} + 1, dense_.size() * 2, 1024});
        dense_.resize(std::min<std::size_t>(wanted, kDenseLimit), 0);
        dense_[index] = value;
        return;
    }
    if (value == 0) {
        sparse_.erase(index);  // 0 is what an unwritten word reads anyway
        return;
    }
    sparse_[index] = value;
}

}  // namespace lousa
