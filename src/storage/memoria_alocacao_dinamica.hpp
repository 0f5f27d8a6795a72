#pragma once
// The heap of dynamic variables, addressed by negative words: word i of the
// block whose pointer is p lives at p - i, that is at heap index -p + i.
// Blocks are handed out by a bump allocator from index 2 and never reused.
//
// Storage follows the words that are live and hold something, not the words
// ever allocated: the index space is covered by 4 KiB pages reached through a
// two-level table, a page comes into being on the first non-zero write into
// it, and it is freed when a release leaves no non-zero word on it. A word
// that was never written, and every word of a released block, reads 0. Beside
// the pages the heap keeps one small extent record per block, in allocation
// order (which is also index order), to tell live words from dead ones.
// Pages, tables and records are charged to the run's memory account.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "storage/memory_account.hpp"
#include "storage/slot_pool.hpp"
#include "vm/word.hpp"

namespace lousa {

class MemoriaAlocacaoDinamica {
public:
    // The extent of one block: indices first..last (last = first - 1 for a
    // block of no words). Released blocks are marked dead until compaction.
    struct BlocoMemoria {
        Word first = 0;
        Word last = -1;
    };

    static constexpr int kPageBits = 10;
    static constexpr Word kPageWords = Word{1} << kPageBits;
    static constexpr int kTableBits = 10;  // pages per second-level table
    static constexpr std::size_t kDirectorySize = std::size_t{1} << (31 - kPageBits - kTableBits);

    explicit MemoriaAlocacaoDinamica(MemoryAccount* account = nullptr) : account_(account) {}
    ~MemoriaAlocacaoDinamica() { clear(); }
    MemoriaAlocacaoDinamica(const MemoriaAlocacaoDinamica&) = delete;
    MemoriaAlocacaoDinamica& operator=(const MemoriaAlocacaoDinamica&) = delete;

    // A new block of n words (n <= 0 gives a block of no words) and its
    // pointer, or 0 when the block would reach past index 2^31 - 1: the
    // index space is spent and the caller reports it. Throws
    // MemoryCeilingReached when its record does not fit the account.
    Word allocate(Word n);
    // Frees the live block whose first index is -pointer (the earliest one,
    // when empty blocks share that index); anything else is ignored.
    void release(Word pointer);

    [[nodiscard]] Word read(Word address) const {
        const std::int64_t index = -std::int64_t{address};
        if (index < 2 || index > INT32_MAX) return 0;
        const Page* page = pageOf(static_cast<UWord>(index));
        return page ? page->words[static_cast<UWord>(index) & (kPageWords - 1)] : 0;
    }
    // Stores value at a live word; a write to a word of no live block is lost.
    // A first non-zero write into a page may throw MemoryCeilingReached.
    void write(Word address, Word value) {
        const std::int64_t index = -std::int64_t{address};
        if (index < 2 || index > INT32_MAX) return;
        Page* page = pageOf(static_cast<UWord>(index));
        Word* word = page ? &page->words[static_cast<UWord>(index) & (kPageWords - 1)] : nullptr;
        if (value == 0) {
            // Stored without reading the word first (arrays are cleared
            // word by word, far apart): a zero changes nothing on a word
            // that reads 0 already, dead or not. The page's count is then
            // only an upper bound until a release counts it again.
            if (word) {
                *word = 0;
                page->counted = false;
            }
            return;  // a word without a page reads 0 already
        }
        if (word) {
            // A non-zero word belongs to a live block: released words are zeroed.
            if (*word != 0) {
                *word = value;
                return;
            }
            // A zero word of the block found live last (an array filled or
            // walked again) is written here, as writeFresh would.
            if (inRecentBlock(static_cast<Word>(index))) {
                *word = value;
                ++page->nonZero;
                return;
            }
        }
        writeFresh(static_cast<Word>(index), value);
    }

    void clear();

    [[nodiscard]] std::size_t liveBlocks() const { return extents_.size() - deadExtents_; }
    [[nodiscard]] std::int64_t nextIndex() const { return nextIndex_; }
    [[nodiscard]] std::size_t pageCount() const { return pages_; }
    // Bytes held for pages, tables and extent records.
    [[nodiscard]] std::size_t footprint() const;

private:
    struct Page {
        std::array<Word, kPageWords> words{};
        // Non-zero words on the page: exact while counted, an upper bound
        // once a zero was stored without looking at the word it replaced.
        UWord nonZero = 0;
        bool counted = true;
    };
    // Pages live in the heap's slot pool.
    struct PageDeleter {
        void operator()(Page* page) const noexcept {
            page->~Page();
            SlotPool::give(page);
        }
    };
    struct PageTable {
        std::array<std::unique_ptr<Page, PageDeleter>, std::size_t{1} << kTableBits> pages;
        UWord used = 0;
    };
    static constexpr Word kDead = INT32_MIN;  // `last` of a released block

    // The page last found is remembered: arrays are walked an element or a
    // short stride at a time, and the next word is then on the same page.
    [[nodiscard]] const Page* pageOf(UWord index) const {
        const UWord key = index >> kPageBits;
        if (key == cachedKey_) return cachedPage_;
        const PageTable* table = directory_[index >> (kPageBits + kTableBits)].get();
        Page* page = table ? table->pages[key & ((UWord{1} << kTableBits) - 1)].get() : nullptr;
        if (page) {
            cachedKey_ = key;
            cachedPage_ = page;
        }
        return page;
    }
    void forgetCachedPage() const {
        cachedKey_ = kNoPage;
        cachedPage_ = nullptr;
    }
    Page* pageOf(UWord index) {
        return const_cast<Page*>(static_cast<const MemoriaAlocacaoDinamica*>(this)->pageOf(index));
    }
    // The index lies in the block found live last (a dead block's last is kDead).
    [[nodiscard]] bool inRecentBlock(Word index) const {
        return recent_ < extents_.size() && extents_[recent_].first <= index && index <= extents_[recent_].last;
    }
    void writeFresh(Word index, Word value);
    [[nodiscard]] bool isLive(Word index) const;
    Page& makePage(UWord index);
    void wipe(Word first, Word last);
    void compact();

    MemoryAccount* account_ = nullptr;
    SlotPool pool_{sizeof(Page)};  // before the tables: it outlives their pages
    std::array<std::unique_ptr<PageTable>, kDirectorySize> directory_{};
    std::size_t pages_ = 0;
    std::size_t tables_ = 0;
    std::vector<BlocoMemoria> extents_;  // every block not yet compacted away, by first index
    std::size_t deadExtents_ = 0;
    mutable std::size_t recent_ = 0;  // extent found live last, tried first
    std::size_t released_ = 0;        // extent released last; its neighbours are tried first
    std::int64_t nextIndex_ = 2;
    static constexpr UWord kNoPage = ~UWord{0};  // no page number is this large
    mutable UWord cachedKey_ = kNoPage;          // page number of cachedPage_
    mutable Page* cachedPage_ = nullptr;
};

}  // namespace lousa
