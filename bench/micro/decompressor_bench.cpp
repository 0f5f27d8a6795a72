// The payload decoder: bytes of code text produced per second.

#include <benchmark/benchmark.h>

#include "loader/decompressor.hpp"
#include "micro/lzss_encoder.hpp"

namespace lousa::bench {
namespace {

void decodeBenchmark(benchmark::State& state, const std::string& text) {
    const std::string stream = encodeStream(text);
    // A decoder that is fast but wrong is not measured.
    const DecodeResult check = decodeStream(stream);
    if (check.text != text || check.ranShort) {
        state.SkipWithError("decoded text differs from the encoded one");
        return;
    }
    for (auto _ : state) {
        DecodeResult result = decodeStream(stream);
        benchmark::DoNotOptimize(result.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
    state.counters["ratio"] = static_cast<double>(stream.size()) / static_cast<double>(text.size());
}

// A code text shaped like compiled code: mostly matches. 1 MiB is decoded
// in one pass; 12 MiB could give more than the decoder allocates unseen, so
// it is counted first and then decoded into room for exactly its text.
void BM_DecodeCodeText(benchmark::State& state) {
    decodeBenchmark(state, makeCodeText(static_cast<std::size_t>(state.range(0)), "1 43 "));
}
BENCHMARK(BM_DecodeCodeText)->Arg(1 << 20)->Arg(12 << 20)->Unit(benchmark::kMillisecond);

// Incompressible bytes: every token is a literal (the decoder's slowest path per byte).
void BM_DecodeLiterals(benchmark::State& state) {
    std::string text(static_cast<std::size_t>(state.range(0)), '\0');
    std::uint32_t x = 2463534242U;
    for (char& c : text) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    decodeBenchmark(state, text);
}
BENCHMARK(BM_DecodeLiterals)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lousa::bench
