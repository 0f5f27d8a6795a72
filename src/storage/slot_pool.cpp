#include "storage/slot_pool.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace lousa {

struct SlotPool::Chunk {
    Chunk* next = nullptr;
    void* freeSlots = nullptr;  // given back, each holding the next one's address
    std::size_t fresh = 0;      // slots never handed out start at this byte offset
};

namespace {

constexpr std::size_t kSlotAlign = alignof(std::max_align_t);
constexpr std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

}  // namespace

SlotPool::SlotPool(std::size_t slotBytes) : slotBytes_(roundUp(slotBytes < sizeof(void*) ? sizeof(void*) : slotBytes, kSlotAlign)) {}

SlotPool::~SlotPool() { releaseAll(); }

SlotPool::Chunk* SlotPool::newChunk() {
    // Twice the size mapped, then cut down to the aligned chunk inside it.
    const std::size_t span = 2 * kChunkBytes;
    void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto base = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = (base + kChunkBytes - 1) & ~std::uintptr_t{kChunkBytes - 1};
    if (start > base) ::munmap(mapped, start - base);
    if (start + kChunkBytes < base + span) ::munmap(reinterpret_cast<void*>(start + kChunkBytes), base + span - start - kChunkBytes);
    if (chunks_ > 0) ::madvise(reinterpret_cast<void*>(start), kChunkBytes, MADV_HUGEPAGE);  // advice only: no error matters
    auto* chunk = new (reinterpret_cast<void*>(start)) Chunk;
    chunk->fresh = roundUp(sizeof(Chunk), kSlotAlign);
    chunk->next = first_;
    first_ = chunk;
    ++chunks_;
    return chunk;
}

void* SlotPool::take() {
    const auto fromChunk = [&](Chunk* c) -> void* {
        if (c->freeSlots != nullptr) {
            void* slot = c->freeSlots;
            c->freeSlots = *static_cast<void**>(slot);
            return slot;
        }
        if (c->fresh + slotBytes_ <= kChunkBytes) {
            void* slot = reinterpret_cast<char*>(c) + c->fresh;
            c->fresh += slotBytes_;
            return slot;
        }
        return nullptr;
    };
    if (current_ != nullptr) {
        if (void* slot = fromChunk(current_)) return slot;
    }
    for (Chunk* c = first_; c != nullptr; c = c->next) {
        if (void* slot = fromChunk(c)) {
            current_ = c;
            return slot;
        }
    }
    current_ = newChunk();
    return fromChunk(current_);
}

void SlotPool::give(void* slot) {
    if (slot == nullptr) return;
    auto* chunk = reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(slot) & ~std::uintptr_t{kChunkBytes - 1});
    *static_cast<void**>(slot) = chunk->freeSlots;
    chunk->freeSlots = slot;
}

void SlotPool::releaseAll() {
    while (first_ != nullptr) {
        Chunk* next = first_->next;
        ::munmap(first_, kChunkBytes);
        first_ = next;
    }
    current_ = nullptr;
    chunks_ = 0;
}

}  // namespace lousa
