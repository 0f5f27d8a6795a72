// Set algebra on the shapes the sets program uses: a few ranges of 0..255
// combined with singletons and with a range.

#include <benchmark/benchmark.h>

#include "storage/lista_conjuntos.hpp"

namespace lousa::bench {
namespace {

using RangeList = ListaConjuntos::RangeList;

const RangeList kA = {0, 9, 20, 29, 40, 49, 100, 149};

void BM_SetUnite(benchmark::State& state) {
    Word k = 0;
    for (auto _ : state) {
        k = (k + 1) & 255;
        const RangeList singles = {k, k, (k * 7) & 255, (k * 7) & 255};
        RangeList result = ListaConjuntos::unite(kA, singles);
        benchmark::DoNotOptimize(result.data());
    }
    const RangeList check = ListaConjuntos::unite(kA, {10, 10, 200, 200});
    if (check != RangeList{0, 10, 20, 29, 40, 49, 100, 149, 200, 200}) state.SkipWithError("wrong union");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SetUnite);

void BM_SetIntersect(benchmark::State& state) {
    Word k = 0;
    for (auto _ : state) {
        k = (k + 1) & 255;
        const RangeList upper = {k, 255};
        RangeList result = ListaConjuntos::intersect(kA, upper);
        benchmark::DoNotOptimize(result.data());
    }
    if (ListaConjuntos::intersect(kA, {25, 255}) != RangeList{25, 29, 40, 49, 100, 149})
        state.SkipWithError("wrong intersection");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SetIntersect);

void BM_SetSubtract(benchmark::State& state) {
    Word k = 0;
    for (auto _ : state) {
        k = (k + 1) & 255;
        const RangeList holes = {k, k + 3, 45, 46};
        RangeList result = ListaConjuntos::subtract(kA, holes);
        benchmark::DoNotOptimize(result.data());
    }
    if (ListaConjuntos::subtract(kA, {5, 25}) != RangeList{0, 4, 26, 29, 40, 49, 100, 149})
        state.SkipWithError("wrong difference");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SetSubtract);

// 64 singletons in scrambled order (a set built element by element).
void BM_SetNormalizeScattered(benchmark::State& state) {
    RangeList scattered;
    for (Word i = 0; i < 64; ++i) {
        const Word v = (i * 37) % 64 * 3;
        scattered.push_back(v);
        scattered.push_back(v);
    }
    for (auto _ : state) {
        RangeList result = ListaConjuntos::normalize(scattered);
        benchmark::DoNotOptimize(result.data());
    }
    if (ListaConjuntos::normalize(scattered).size() != 128) state.SkipWithError("wrong normal form");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SetNormalizeScattered);

// The table round trip of a set assignment and a set load.
void BM_SetTableReplaceGet(benchmark::State& state) {
    ListaConjuntos table;
    const Word id = table.add(kA);
    for (auto _ : state) {
        table.replace(id, kA);
        RangeList value = table.get(id);
        benchmark::DoNotOptimize(value.data());
    }
    if (table.get(id) != kA) state.SkipWithError("the table lost the value");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SetTableReplaceGet);

}  // namespace
}  // namespace lousa::bench
