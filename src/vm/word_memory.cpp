#include "vm/word_memory.hpp"

#include <algorithm>
#include <cstdint>
#include <new>

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
        // Capped by this memory's own limit, which a large code vector has
        // raised above kDenseLimit: capping by kDenseLimit would shrink the
        // region below index (cutting off code) and then write past its end.
        dense_.resize(std::min<std::size_t>(wanted, denseLimit_), 0);
        dense_[index] = value;
        return;
    }
    if (value == 0) {
        sparse_.erase(index);  // 0 is what an unwritten word reads anyway
        return;
    }
    // A runaway program (a loop that pushes forever, say) would otherwise
    // fill the sparse map until the machine runs out of memory; past this
    // many wild words it is treated as the exhaustion it leads to.
    if (sparse_.size() >= kSparseLimit && sparse_.find(index) == sparse_.end()) throw std::bad_alloc();
    sparse_[index] = value;
}

}  // namespace lousa
