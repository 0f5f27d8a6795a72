#pragma once
// Word memory for the non-negative address space: a contiguous region that
// grows on demand for the addresses programs really use, and a sparse map
// for wild addresses far beyond it, so that one stray write cannot make the
// process allocate gigabytes. A word that was never written reads as 0.

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "storage/memory_account.hpp"
#include "vm/word.hpp"

namespace lousa {

class WordMemory {
public:
    // Addresses below this live in the contiguous region (raised to hold a
    // larger code vector whole).
    static constexpr UWord kDenseLimit = UWord{1} << 22;
    // At most this many words are held sparsely, each charged to the memory
    // account as kSparseWordBytes; one more throws MemoryCeilingReached
    // whatever the ceiling, which keeps the map's teardown short.
    static constexpr std::size_t kSparseLimit = std::size_t{1} << 22;
    static constexpr std::size_t kSparseWordBytes = 48;  // a map node with its allocation and bucket

    explicit WordMemory(MemoryAccount* account = nullptr) : account_(account) {}
    ~WordMemory() { clear(); }
    WordMemory(const WordMemory&) = delete;
    WordMemory& operator=(const WordMemory&) = delete;

    [[nodiscard]] Word read(UWord index) const {
        if (index < dense_.size()) [[likely]]
            return dense_[index];
        return readSlow(index);
    }
    void write(UWord index, Word value) {
        if (index < dense_.size()) [[likely]] {
            if (index < watchEnd_) [[unlikely]]
                noteWatchedWrite(index, value);
            dense_[index] = value;
            return;
        }
        writeSlow(index, value);
    }

    void clear() {
        dense_.clear();
        dense_.shrink_to_fit();
        releaseFrom(account_, sparse_.size() * kSparseWordBytes);
        sparse_.clear();
    }
    [[nodiscard]] std::size_t denseSize() const { return dense_.size(); }
    // The words [first, first + count) where they lie, for instructions that
    // move many words at once: null unless all of them are in the contiguous
    // region (and, for writing, none is watched, as those writes are noted
    // one by one). Valid until the region next grows.
    [[nodiscard]] const Word* denseSpan(UWord first, UWord count) const {
        return std::uint64_t{first} + count <= dense_.size() ? dense_.data() + first : nullptr;
    }
    [[nodiscard]] Word* writableSpan(UWord first, UWord count) {
        return first >= watchEnd_ && std::uint64_t{first} + count <= dense_.size() ? dense_.data() + first : nullptr;
    }
    [[nodiscard]] const Word* denseData() const { return dense_.data(); }
    // Direct access for the dispatch loop's fast paths, which stay below
    // denseSize() and reload both after anything that may grow the region.
    [[nodiscard]] Word* denseWords() { return dense_.data(); }
    [[nodiscard]] UWord denseLimit() const { return denseLimit_; }
    [[nodiscard]] std::size_t sparseSize() const { return sparse_.size(); }
    // Makes the contiguous region hold at least `words` words (for the code),
    // with the usual room for data above them.
    void reserveDense(UWord words);
    // Empties the memory and makes the code vector words 0..N-1 of the
    // contiguous region, taking it over rather than copying it (it is the
    // largest thing a run loads), with reserveDense's room above it.
    void adoptCode(std::vector<Word> code);
    // The capacity a code vector of `words` words needs so that the region
    // adopting it reaches its first size for data above the code without
    // being copied.
    [[nodiscard]] static std::size_t codeCapacity(std::size_t words) {
        return words + std::max<std::size_t>(std::min<std::size_t>(words, kDenseLimit), 1024);
    }

    // Words below `end` are watched: a write that changes one is remembered
    // until taken (the translation tier watches the code this way).
    void watchBelow(UWord end) { watchEnd_ = end; }
    [[nodiscard]] UWord watchEnd() const { return watchEnd_; }
    [[nodiscard]] bool watchedWordsChanged() const { return watchLow_ <= watchHigh_; }
    // The lowest and highest watched word changed since the last call.
    std::pair<UWord, UWord> takeWatchedChanges() {
        return {std::exchange(watchLow_, UWord{0xFFFFFFFFU}), std::exchange(watchHigh_, UWord{0})};
    }

private:
    void noteWatchedWrite(UWord index, Word value) {
        if (dense_[index] == value) return;
        watchLow_ = std::min(watchLow_, index);
        watchHigh_ = std::max(watchHigh_, index);
    }
    [[nodiscard]] Word readSlow(UWord index) const;
    void writeSlow(UWord index, Word value);

    MemoryAccount* account_ = nullptr;
    std::vector<Word> dense_;
    UWord denseLimit_ = kDenseLimit;
    std::unordered_map<UWord, Word> sparse_;
    UWord watchEnd_ = 0;
    // No change since the last take while low > high.
    UWord watchLow_ = 0xFFFFFFFFU;
    UWord watchHigh_ = 0;
};

}  // namespace lousa
