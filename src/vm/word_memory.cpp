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

void WordMemory::adoptCode(std::vector<Word> code) {
    clear();
    const auto words = static_cast<UWord>(code.size());
    dense_ = std::move(code);
    reserveDense(words);
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
        // 0 is what an unwritten word reads anyway
        if (sparse_.erase(index) != 0) releaseFrom(account_, kSparseWordBytes);
        return;
    }
    const auto held = sparse_.find(index);
    if (held != sparse_.end()) {
        held->second = value;
        return;
    }
    // A runaway program (a loop that pushes forever, say) would otherwise
    // fill the sparse map until the machine runs out of memory.
    if (sparse_.size() >= kSparseLimit) throw MemoryCeilingReached{};
    chargeTo(account_, kSparseWordBytes);
    sparse_.emplace(index, value);
}

}  // namespace lousa
