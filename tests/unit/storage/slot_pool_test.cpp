// The heap's slot pool: slots never overlap, a given-back slot is handed out
// again before a new chunk is mapped, and chunks are aligned so that a slot
// finds its way back by its address alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "storage/slot_pool.hpp"

namespace lousa {
namespace {

TEST(SlotPool, SlotsAreDistinctReusedAndSpreadOverAlignedChunks) {
    constexpr std::size_t kBytes = 4104;  // a heap page with its header
    SlotPool pool(kBytes);
    // Three chunks filled, each slot written whole with its own byte (a
    // chunk's header takes the room of one slot).
    const std::size_t perChunk = SlotPool::kChunkBytes / kBytes - 1;
    std::vector<unsigned char*> slots;
    for (std::size_t i = 0; i < 3 * perChunk; ++i) {
        auto* slot = static_cast<unsigned char*>(pool.take());
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(slot) % alignof(std::max_align_t), 0U);
        std::memset(slot, static_cast<int>(i & 0xFF), kBytes);
        slots.push_back(slot);
    }
    EXPECT_EQ(pool.chunks(), 3U);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const unsigned char expected = static_cast<unsigned char>(i & 0xFF);
        ASSERT_TRUE(std::all_of(slots[i], slots[i] + kBytes, [&](unsigned char b) { return b == expected; })) << i;
    }
    // Given back from every chunk, the same slots come out again, and no chunk is added.
    std::set<unsigned char*> given;
    for (std::size_t i = 5; i < slots.size(); i += perChunk / 2) {
        SlotPool::give(slots[i]);
        given.insert(slots[i]);
    }
    std::set<unsigned char*> again;
    for (std::size_t i = 0; i < given.size(); ++i) again.insert(static_cast<unsigned char*>(pool.take()));
    EXPECT_EQ(again, given);
    EXPECT_EQ(pool.chunks(), 3U);
    for (unsigned char* slot : slots) SlotPool::give(slot);
    pool.releaseAll();
    EXPECT_EQ(pool.chunks(), 0U);
    // A pool emptied this way starts again from a fresh chunk.
    EXPECT_NE(pool.take(), nullptr);
    EXPECT_EQ(pool.chunks(), 1U);
}

}  // namespace
}  // namespace lousa
