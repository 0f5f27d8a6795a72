#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "storage/memoria_alocacao_dinamica.hpp"

namespace lousa {
namespace {

using Heap = MemoriaAlocacaoDinamica;

TEST(Heap, BumpAllocatesFromIndexTwoAndNeverReusesPointers) {
    Heap heap;
    EXPECT_EQ(heap.allocate(3), -2);  // indices 2..4
    EXPECT_EQ(heap.allocate(1), -5);
    heap.release(-2);
    EXPECT_EQ(heap.allocate(2), -6);  // not -2
    EXPECT_EQ(heap.nextIndex(), 8);
    EXPECT_EQ(heap.liveBlocks(), 2u);
}

TEST(Heap, WordsOfABlockRunDownwardFromItsPointerAndStartAtZero) {
    Heap heap;
    const Word p = heap.allocate(3);
    const Word q = heap.allocate(2);
    EXPECT_EQ(heap.read(p - 2), 0);
    heap.write(p, 10);
    heap.write(p - 1, 11);
    heap.write(p - 2, 12);
    heap.write(q, 20);
    EXPECT_EQ(heap.read(p), 10);
    EXPECT_EQ(heap.read(p - 1), 11);
    EXPECT_EQ(heap.read(p - 2), 12);
    EXPECT_EQ(heap.read(q), 20);
    EXPECT_EQ(p - 3, q);  // the next block begins right after
}

TEST(Heap, ReleaseMatchesOnlyTheFirstIndexOfALiveBlock) {
    Heap heap;
    const Word p = heap.allocate(4);
    heap.write(p - 1, 7);
    for (const Word other : {0, -1, p - 1, p - 4, p - 100, 5, INT32_MIN, INT32_MAX}) heap.release(other);
    EXPECT_EQ(heap.liveBlocks(), 1u);
    EXPECT_EQ(heap.read(p - 1), 7);
    heap.release(p);
    heap.release(p);  // the second call does nothing
    EXPECT_EQ(heap.liveBlocks(), 0u);
}

TEST(Heap, DeadWordsReadZeroAndSwallowWrites) {
    Heap heap;
    const Word p = heap.allocate(2);
    const Word q = heap.allocate(2);
    heap.write(p, 5);
    heap.write(q, 6);
    heap.release(p);
    EXPECT_EQ(heap.read(p), 0);
    heap.write(p, 99);
    heap.write(p - 1, 98);
    EXPECT_EQ(heap.read(p), 0);
    EXPECT_EQ(heap.read(p - 1), 0);
    EXPECT_EQ(heap.read(q), 6);
    // Addresses no block ever had: below the first block, past the last, 0 and -1.
    heap.write(q - 2, 4);
    heap.write(-1, 4);
    heap.write(0, 4);
    EXPECT_EQ(heap.read(q - 2), 0);
    EXPECT_EQ(heap.read(-1), 0);
    EXPECT_EQ(heap.read(0), 0);
    EXPECT_EQ(heap.read(INT32_MIN), 0);
    EXPECT_EQ(heap.read(5), 0);
}

TEST(Heap, EmptyBlocksShareTheNextPointerAndAreReleasedFirst) {
    Heap heap;
    const Word empty = heap.allocate(0);
    const Word negative = heap.allocate(-5);  // a negative size is an empty block too
    const Word real = heap.allocate(2);
    EXPECT_EQ(empty, -2);
    EXPECT_EQ(negative, -2);
    EXPECT_EQ(real, -2);
    heap.write(real, 3);
    heap.release(-2);  // the earlier, empty block
    heap.release(-2);  // the second empty block
    EXPECT_EQ(heap.liveBlocks(), 1u);
    EXPECT_EQ(heap.read(real), 3);
    heap.write(real - 1, 4);
    EXPECT_EQ(heap.read(real - 1), 4);
    heap.release(-2);
    EXPECT_EQ(heap.read(real), 0);
    EXPECT_EQ(heap.liveBlocks(), 0u);
}

TEST(Heap, ZeroWrittenOverAValueReadsBackAndTheWordStaysLive) {
    Heap heap;
    const Word p = heap.allocate(2);
    heap.write(p, 8);
    heap.write(p, 0);
    EXPECT_EQ(heap.read(p), 0);
    heap.write(p, 9);
    EXPECT_EQ(heap.read(p), 9);
}

TEST(Heap, APageFreedAndMadeAgainIsNotReadThroughTheOldOne) {
    // The heap remembers the page it found last; releasing the only block on
    // that page frees it, and a later block on the same page gets a new one.
    Heap heap;
    const Word p = heap.allocate(1);
    heap.write(p, 5);
    EXPECT_EQ(heap.read(p), 5);
    heap.release(p);
    EXPECT_EQ(heap.pageCount(), 0u);
    EXPECT_EQ(heap.read(p), 0);
    const Word q = heap.allocate(1);
    EXPECT_EQ(heap.read(q), 0);
    heap.write(q, 7);
    EXPECT_EQ(heap.read(q), 7);
    EXPECT_EQ(heap.read(p), 0);
    heap.write(q, 0);  // a zero over the last value leaves the page empty but live
    heap.write(q, 9);
    EXPECT_EQ(heap.read(q), 9);
    heap.clear();
    EXPECT_EQ(heap.read(q), 0);
    const Word r = heap.allocate(1);
    heap.write(r, 3);
    EXPECT_EQ(heap.read(r), 3);
}

TEST(Heap, HugeBlocksCostNothingUntilWritten) {
    Heap heap;
    const Word p = heap.allocate(2000000000);
    EXPECT_EQ(p, -2);
    EXPECT_EQ(heap.pageCount(), 0u);
    const Word lastWord = p - 1999999999;
    heap.write(lastWord, 42);
    heap.write(p, 41);
    EXPECT_EQ(heap.read(lastWord), 42);
    EXPECT_EQ(heap.read(p - 1000000000), 0);
    EXPECT_EQ(heap.pageCount(), 2u);
    EXPECT_LT(heap.footprint(), std::size_t{1} << 16);
    heap.release(p);
    EXPECT_EQ(heap.pageCount(), 0u);
    EXPECT_EQ(heap.read(lastWord), 0);
}

TEST(Heap, TheIndexSpaceEndsAtTwoToThe31MinusOne) {
    Heap heap;
    EXPECT_EQ(heap.allocate(INT32_MAX), 0);  // indices 2..2^31: one too many
    EXPECT_EQ(heap.nextIndex(), 2);
    const Word p = heap.allocate(INT32_MAX - 1);  // exactly up to 2^31 - 1
    EXPECT_EQ(p, -2);
    heap.write(-INT32_MAX, 5);
    EXPECT_EQ(heap.read(-INT32_MAX), 5);
    EXPECT_EQ(heap.allocate(1), 0);
    EXPECT_EQ(heap.allocate(0), 0);
    EXPECT_EQ(heap.liveBlocks(), 1u);
}

TEST(Heap, PagesFollowTheLiveWords) {
    Heap heap;
    std::vector<Word> pointers;
    for (int i = 0; i < 100000; ++i) {
        const Word p = heap.allocate(2);
        heap.write(p, i + 1);
        heap.write(p - 1, -i - 1);
        pointers.push_back(p);
    }
    const std::size_t pagesWhenFull = heap.pageCount();
    EXPECT_LE(pagesWhenFull, 200000u / Heap::kPageWords + 2);
    // Release every other record: pages still hold live words and stay.
    for (std::size_t i = 0; i < pointers.size(); i += 2) heap.release(pointers[i]);
    EXPECT_EQ(heap.pageCount(), pagesWhenFull);
    for (std::size_t i = 1; i < pointers.size(); i += 2) {
        ASSERT_EQ(heap.read(pointers[i]), static_cast<Word>(i + 1));
        ASSERT_EQ(heap.read(pointers[i] - 1), -static_cast<Word>(i + 1));
        ASSERT_EQ(heap.read(pointers[i - 1]), 0);
    }
    for (std::size_t i = 1; i < pointers.size(); i += 2) heap.release(pointers[i]);
    EXPECT_EQ(heap.pageCount(), 0u);
    EXPECT_EQ(heap.liveBlocks(), 0u);
    EXPECT_LT(heap.footprint(), std::size_t{64} << 10);
}

TEST(Heap, AMillionTwoWordRecordsCostFewBytesEach) {
    Heap heap;
    for (int i = 0; i < 1000000; ++i) {
        const Word p = heap.allocate(2);
        heap.write(p, i);
        heap.write(p - 1, p + 2);  // the link to the previous record
    }
    // Eight bytes of data per record; the rest is the extent record and slack.
    EXPECT_LT(heap.footprint(), std::size_t{24} * 1000000);
}

// The heap as the plain list of blocks it stands for, scanned on every access.
class ReferenceHeap {
public:
    Word allocate(Word n) {
        if (n < 0) n = 0;
        blocks_.push_back(Block{next_, next_ + n - 1, std::vector<Word>(static_cast<std::size_t>(n), 0)});
        const Word p = -next_;
        next_ += n;
        return p;
    }
    void release(Word p) {
        for (auto it = blocks_.begin(); it != blocks_.end(); ++it)
            if (it->first == -static_cast<std::int64_t>(p)) {
                blocks_.erase(it);
                return;
            }
    }
    Word* find(Word address) {
        const std::int64_t index = -std::int64_t{address};
        for (Block& b : blocks_)
            if (b.first <= index && index <= b.last) return &b.words[static_cast<std::size_t>(index - b.first)];
        return nullptr;
    }
    [[nodiscard]] Word next() const { return next_; }

private:
    struct Block {
        Word first;
        Word last;
        std::vector<Word> words;
    };
    std::vector<Block> blocks_;
    Word next_ = 2;
};

TEST(Heap, AgreesWithThePlainListOfBlocksUnderRandomUse) {
    std::mt19937 random(12345);
    Heap heap;
    ReferenceHeap reference;
    std::vector<Word> pointers;
    for (int step = 0; step < 60000; ++step) {
        const unsigned action = random() % 10;
        if (action < 2 || pointers.empty()) {
            const Word n = static_cast<Word>(random() % 2000) - 3;  // some empty, some spanning pages
            const Word p = heap.allocate(n);
            ASSERT_EQ(p, reference.allocate(n));
            pointers.push_back(p);
        } else if (action < 3) {
            const Word p = pointers[random() % pointers.size()] - static_cast<Word>(random() % 3 == 0);
            heap.release(p);
            reference.release(p);
        } else {
            // Any address up to past the last block: live, dead and never allocated.
            const Word address = -static_cast<Word>(random() % static_cast<unsigned>(reference.next() + 5));
            if (action < 7) {
                const Word value = random() % 4 == 0 ? 0 : static_cast<Word>(random());
                heap.write(address, value);
                if (Word* w = reference.find(address)) *w = value;
            } else {
                const Word* w = reference.find(address);
                ASSERT_EQ(heap.read(address), w ? *w : 0) << "step " << step << " address " << address;
            }
        }
    }
    // Zeros stored over values leave no page behind once everything is released.
    for (const Word p : pointers) heap.release(p);
    EXPECT_EQ(heap.pageCount(), 0u);
}

TEST(Heap, AReleaseFreesThePageExactlyWhenNoValueIsLeftOnIt) {
    // Three one-word blocks on one page; `writes` are (block, value) pairs,
    // then block `released` goes. Zeros stored over values must not keep
    // the page alive, nor may they lose a value still on it.
    struct Case {
        std::vector<std::pair<int, Word>> writes;
        int released;
        std::size_t pagesAfter;
    };
    const Case cases[] = {
        {{{0, 5}, {1, 6}, {1, 0}}, 0, 0},
        {{{0, 5}, {1, 6}, {0, 0}}, 0, 1},
        {{{0, 5}, {0, 0}, {0, 7}}, 1, 1},
        {{{0, 5}, {0, 0}, {0, 0}, {2, 3}, {2, 0}}, 1, 0},
        {{{0, 5}, {1, 0}, {1, 0}, {2, 0}}, 0, 0},
        {{{2, 1}, {2, 0}, {2, 1}, {2, 0}, {2, 1}}, 0, 1},
    };
    for (const Case& c : cases) {
        Heap heap;
        const Word blocks[3] = {heap.allocate(1), heap.allocate(1), heap.allocate(1)};
        Word values[3] = {};
        for (const auto& [block, value] : c.writes) {
            heap.write(blocks[block], value);
            values[block] = value;
        }
        heap.release(blocks[c.released]);
        values[c.released] = 0;
        EXPECT_EQ(heap.pageCount(), c.pagesAfter) << "released " << c.released;
        for (int b = 0; b < 3; ++b) EXPECT_EQ(heap.read(blocks[b]), values[b]);
        // The count is exact again after the release: the rest go, the page goes.
        for (int b = 0; b < 3; ++b) {
            if (b != c.released) heap.release(blocks[b]);
        }
        EXPECT_EQ(heap.pageCount(), 0u);
    }
}

TEST(Heap, AgreesWithThePlainListWhenBlocksAreReleasedInOrderOrAgainstIt) {
    // The order a list is taken apart in: first to last, last to first, and
    // every other one, with empty blocks sharing pointers in between.
    std::mt19937 random(7);
    for (int order = 0; order < 3; ++order) {
        Heap heap;
        ReferenceHeap reference;
        std::vector<Word> pointers;
        for (int i = 0; i < 3000; ++i) {
            const Word n = static_cast<Word>(random() % 5) - 1;
            const Word p = heap.allocate(n);
            ASSERT_EQ(p, reference.allocate(n));
            pointers.push_back(p);
            for (Word k = 0; k < n; ++k) {
                heap.write(p - k, i * 10 + k + 1);
                *reference.find(p - k) = i * 10 + k + 1;
            }
        }
        if (order == 1) std::reverse(pointers.begin(), pointers.end());
        for (std::size_t i = 0; i < pointers.size(); ++i) {
            if (order == 2 && i % 2 == 1) continue;
            heap.release(pointers[i]);
            reference.release(pointers[i]);
        }
        for (Word address = -2; address > -reference.next() - 2; --address) {
            const Word* w = reference.find(address);
            ASSERT_EQ(heap.read(address), w ? *w : 0) << "order " << order << " address " << address;
        }
        EXPECT_EQ(heap.liveBlocks(), order == 2 ? 1500u : 0u);
    }
}

}  // namespace
}  // namespace lousa
