// Heap access through the machine's accessors: one large block (the sieve's
// array) and many small blocks (the linked list's records).

#include <benchmark/benchmark.h>

#include <vector>

#include "vm/interpretador.hpp"

namespace lousa::bench {
namespace {

// Words of one block of n words, written then read back in order.
void BM_HeapOneBlockSequential(benchmark::State& state) {
    const auto n = static_cast<Word>(state.range(0));
    Interpretador machine({43}, "", nullptr);
    const Word block = machine.heap.allocate(n);
    for (auto _ : state) {
        for (Word i = 0; i < n; ++i) machine.writeWordAt(block, i, i);
        Word sum = 0;
        for (Word i = 0; i < n; ++i) sum = wrapAdd(sum, machine.readWordAt(block, i));
        if (sum != static_cast<Word>(static_cast<std::int64_t>(n) * (n - 1) / 2)) {
            state.SkipWithError("the block did not hold what was written");
            break;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * n);
}
BENCHMARK(BM_HeapOneBlockSequential)->Arg(1 << 20);

// n records of two words, linked newest first, as the list program builds
// them; each iteration follows the links summing word 0 of every record.
void BM_HeapManyBlocksTraverse(benchmark::State& state) {
    const auto n = static_cast<Word>(state.range(0));
    Interpretador machine({43}, "", nullptr);
    Word head = 0;
    for (Word i = 1; i <= n; ++i) {
        const Word p = machine.heap.allocate(2);
        machine.writeWordAt(p, 0, i);
        machine.writeWordAt(p, 1, head);
        head = p;
    }
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (Word p = head; p != 0; p = machine.readWordAt(p, 1)) sum += machine.readWordAt(p, 0);
        if (sum != static_cast<std::int64_t>(n) * (n + 1) / 2) {
            state.SkipWithError("the list did not hold what was written");
            break;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * n);
}
BENCHMARK(BM_HeapManyBlocksTraverse)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Allocation and release of n two-word records, released oldest first.
void BM_HeapAllocateRelease(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<Word> pointers(n);
    for (auto _ : state) {
        MemoriaAlocacaoDinamica heap;
        for (std::size_t i = 0; i < n; ++i) pointers[i] = heap.allocate(2);
        for (std::size_t i = 0; i < n; ++i) heap.release(pointers[i]);
        if (heap.liveBlocks() != 0) {
            state.SkipWithError("blocks were left after release");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
}
BENCHMARK(BM_HeapAllocateRelease)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lousa::bench
