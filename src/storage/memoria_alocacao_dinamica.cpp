#include "storage/memoria_alocacao_dinamica.hpp"

#include <algorithm>
#include <new>

namespace lousa {

Word MemoriaAlocacaoDinamica::allocate(Word n) {
    const std::int64_t size = n < 0 ? 0 : n;
    const std::int64_t first = nextIndex_;
    const std::int64_t last = first + size - 1;
    if (first > INT32_MAX || last > INT32_MAX) return 0;
    reserveCharged(extents_, 1, account_);
    extents_.push_back(BlocoMemoria{static_cast<Word>(first), static_cast<Word>(last)});
    recent_ = extents_.size() - 1;
    nextIndex_ = last + 1;
    return static_cast<Word>(-first);
}

void MemoriaAlocacaoDinamica::release(Word pointer) {
    const std::int64_t first = -std::int64_t{pointer};
    if (first < 2 || first > INT32_MAX) return;
    const auto key = static_cast<Word>(first);
    // Lists are mostly released in or against the order they were built:
    // the neighbours of the block released last are tried before a search.
    std::size_t at = extents_.size();
    for (const std::size_t hint : {released_ + 1, released_ - 1}) {
        if (hint < extents_.size() && extents_[hint].first == key && extents_[hint].last != kDead &&
            (hint == 0 || extents_[hint - 1].first != key)) {
            at = hint;
            break;
        }
    }
    if (at == extents_.size()) {
        auto it = std::lower_bound(extents_.begin(), extents_.end(), key,
                                   [](const BlocoMemoria& block, Word k) { return block.first < k; });
        // Empty blocks share their first index with the block allocated after
        // them; the earliest live one is the one released.
        while (it != extents_.end() && it->first == key && it->last == kDead) ++it;
        if (it == extents_.end() || it->first != key) return;
        at = static_cast<std::size_t>(it - extents_.begin());
    }
    BlocoMemoria& block = extents_[at];
    const Word last = block.last;
    block.last = kDead;
    ++deadExtents_;
    released_ = at;
    if (last >= block.first) wipe(block.first, last);
    if (deadExtents_ > 1024 && deadExtents_ * 2 > extents_.size()) compact();
}

bool MemoriaAlocacaoDinamica::isLive(Word index) const {
    if (inRecentBlock(index)) return true;
    // The block that can hold the index is the last one starting at or before
    // it; of blocks sharing a first index only the last can have words.
    auto it = std::upper_bound(extents_.begin(), extents_.end(), index,
                               [](Word key, const BlocoMemoria& block) { return key < block.first; });
    if (it == extents_.begin()) return false;
    --it;
    if (it->last < index) return false;  // also true of a dead block
    recent_ = static_cast<std::size_t>(it - extents_.begin());
    return true;
}

void MemoriaAlocacaoDinamica::writeFresh(Word index, Word value) {
    if (!isLive(index)) return;  // write() has kept zeros away: a word without a page reads 0
    Page& page = makePage(static_cast<UWord>(index));
    page.words[static_cast<UWord>(index) & (kPageWords - 1)] = value;
    ++page.nonZero;
}

MemoriaAlocacaoDinamica::Page& MemoriaAlocacaoDinamica::makePage(UWord index) {
    auto& table = directory_[index >> (kPageBits + kTableBits)];
    const UWord slot = (index >> kPageBits) & ((UWord{1} << kTableBits) - 1);
    if (table && table->pages[slot]) return *table->pages[slot];
    // Charged before anything is built, so that the ceiling leaves no empty table behind.
    chargeTo(account_, sizeof(Page) + (table ? 0 : sizeof(PageTable)));
    if (!table) {
        table = std::make_unique<PageTable>();
        ++tables_;
    }
    auto& page = table->pages[slot];
    page.reset(new (pool_.take()) Page());
    ++table->used;
    ++pages_;
    return *page;
}

// Zeroes the words first..last of a released block and frees every page and
// table left without a non-zero word. Only pages that exist are visited, so a
// huge block that was barely written is cheap to release.
void MemoriaAlocacaoDinamica::wipe(Word first, Word last) {
    const auto lo = static_cast<UWord>(first);
    const auto hi = static_cast<UWord>(last);
    constexpr int kTableShift = kPageBits + kTableBits;
    for (UWord t = lo >> kTableShift; t <= hi >> kTableShift; ++t) {
        auto& table = directory_[t];
        if (!table) continue;
        const UWord tableLo = t << kTableShift;
        const UWord pageFrom = lo > tableLo ? (lo >> kPageBits) & ((UWord{1} << kTableBits) - 1) : 0;
        const UWord pageTo =
            (hi >> kTableShift) > t ? (UWord{1} << kTableBits) - 1 : (hi >> kPageBits) & ((UWord{1} << kTableBits) - 1);
        for (UWord p = pageFrom; p <= pageTo; ++p) {
            auto& page = table->pages[p];
            if (!page) continue;
            const UWord pageLo = tableLo | (p << kPageBits);
            const UWord from = std::max(lo, pageLo) - pageLo;
            const UWord to = std::min<UWord>(hi, pageLo + (kPageWords - 1)) - pageLo;
            if (page->counted) {
                for (UWord i = from; i <= to; ++i) {
                    if (page->words[i] != 0) {
                        page->words[i] = 0;
                        --page->nonZero;
                    }
                }
            } else {
                std::fill(page->words.begin() + from, page->words.begin() + to + 1, Word{0});
                page->nonZero = static_cast<UWord>(
                    std::count_if(page->words.begin(), page->words.end(), [](Word w) { return w != 0; }));
                page->counted = true;
            }
            if (page->nonZero == 0) {
                if (page.get() == cachedPage_) forgetCachedPage();
                page.reset();
                releaseFrom(account_, sizeof(Page));
                --table->used;
                --pages_;
            }
        }
        if (table->used == 0) {
            table.reset();
            releaseFrom(account_, sizeof(PageTable));
            --tables_;
        }
    }
}

void MemoriaAlocacaoDinamica::compact() {
    std::erase_if(extents_, [](const BlocoMemoria& block) { return block.last == kDead; });
    deadExtents_ = 0;
    recent_ = extents_.empty() ? 0 : extents_.size() - 1;
    released_ = 0;
    if (extents_.capacity() > 2 * extents_.size() + 1024) {
        const std::size_t before = extents_.capacity();
        extents_.shrink_to_fit();
        releaseFrom(account_, (before - extents_.capacity()) * sizeof(BlocoMemoria));
    }
}

void MemoriaAlocacaoDinamica::clear() {
    releaseFrom(account_, footprint());
    forgetCachedPage();
    for (auto& table : directory_) table.reset();
    pool_.releaseAll();
    pages_ = 0;
    tables_ = 0;
    extents_.clear();
    extents_.shrink_to_fit();
    deadExtents_ = 0;
    recent_ = 0;
    released_ = 0;
    nextIndex_ = 2;
}

std::size_t MemoriaAlocacaoDinamica::footprint() const {
    return pages_ * sizeof(Page) + tables_ * sizeof(PageTable) + extents_.capacity() * sizeof(BlocoMemoria);
}

}  // namespace lousa
