#pragma once
// Slots of one size for the heap's pages, carved out of chunks of 2 MiB
// aligned to 2 MiB. The chunks after the first are advised to the system as
// huge-page memory: a large heap then lies on a few huge pages, where a
// strided walk over it would otherwise miss the address-translation caches
// on nearly every page. A small heap stays within its first chunk, whose
// words are made present 4 KiB at a time as usual.
//
// A slot is given back through its address alone (its chunk is found by
// alignment), so that the owner can keep it in a plain unique_ptr with a
// stateless deleter.

#include <cstddef>

namespace lousa {

class SlotPool {
public:
    static constexpr std::size_t kChunkBytes = std::size_t{2} << 20;

    explicit SlotPool(std::size_t slotBytes);
    ~SlotPool();
    SlotPool(const SlotPool&) = delete;
    SlotPool& operator=(const SlotPool&) = delete;

    // An uninitialised slot of slotBytes, aligned for any object; throws
    // std::bad_alloc when the system gives no memory.
    [[nodiscard]] void* take();
    // Returns a slot taken from some pool to that pool.
    static void give(void* slot);
    // Unmaps every chunk; every slot must have been given back.
    void releaseAll();

    [[nodiscard]] std::size_t chunks() const { return chunks_; }

private:
    struct Chunk;
    Chunk* newChunk();

    std::size_t slotBytes_;
    Chunk* first_ = nullptr;    // every chunk, newest first
    Chunk* current_ = nullptr;  // where the last slot came from
    std::size_t chunks_ = 0;
};

}  // namespace lousa
