#pragma once
// What a run's growing storage holds, against one ceiling: heap pages and
// block records, scope records, set entries and wild words all charge the
// same account before they allocate, and give back what they free. The
// contiguous region of low addresses (code, globals, stack) is bounded by
// its own limit and is not charged.
//
// Reaching the ceiling throws MemoryCeilingReached, which the machine turns
// into its memory message. A storage structure without an account (a unit
// test's own) is not limited.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lousa {

struct MemoryCeilingReached {};

class MemoryAccount {
public:
    static constexpr std::size_t kDefaultCeiling = std::size_t{1} << 30;

    // Bytes the charged storage may hold at once; set per run.
    std::size_t ceiling = kDefaultCeiling;

    // Records `bytes` more, or throws (recording nothing) when that would pass the ceiling.
    void charge(std::size_t bytes) {
        if (bytes > ceiling - std::min(used_, ceiling)) throw MemoryCeilingReached{};
        used_ += bytes;
    }
    void release(std::size_t bytes) noexcept { used_ -= std::min(bytes, used_); }
    [[nodiscard]] std::size_t used() const noexcept { return used_; }

private:
    std::size_t used_ = 0;
};

inline void chargeTo(MemoryAccount* account, std::size_t bytes) {
    if (account) account->charge(bytes);
}
inline void releaseFrom(MemoryAccount* account, std::size_t bytes) noexcept {
    if (account) account->release(bytes);
}

// Makes room in `list` (a vector or string) for `more` elements beyond its
// size, growing its buffer geometrically. The new buffer is charged before
// it is allocated and the old one released after, so that the moment both
// exist counts too.
template <typename List>
void reserveCharged(List& list, std::size_t more, MemoryAccount* account) {
    const std::size_t needed = list.size() + more;
    if (needed <= list.capacity()) return;
    const std::size_t grown = std::max({needed, 2 * list.capacity(), std::size_t{16}});
    constexpr std::size_t unit = sizeof(typename List::value_type);
    const std::size_t oldBytes = list.capacity() * unit;
    chargeTo(account, grown * unit);
    try {
        list.reserve(grown);
    } catch (...) {
        releaseFrom(account, grown * unit);
        throw;
    }
    releaseFrom(account, oldBytes);
}

// A size in bytes as LOUSA_MEMORY_LIMIT gives it: decimal digits with an
// optional K, M or G (powers of 1024, either case). Nothing else is a size;
// neither is one past what a size_t holds.
std::optional<std::size_t> parseByteSize(std::string_view text);

}  // namespace lousa
