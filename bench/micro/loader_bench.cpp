// The loader: parsing the code text, and the whole start-up of a packed
// program (read the file, find the payload, decode, parse, build the
// machine, execute the first instruction).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "loader/arquivo_compilado.hpp"
#include "micro/lzss_encoder.hpp"
#include "vm/interpretador.hpp"

namespace lousa::bench {
namespace {

void BM_ParseCodeText(benchmark::State& state) {
    const std::string text = makeCodeText(static_cast<std::size_t>(state.range(0)), "43 ");
    const std::vector<Word> check = parseCodeText(text);
    if (check.empty() || check[0] != 43) {
        state.SkipWithError("the code text did not parse");
        return;
    }
    for (auto _ : state) {
        std::vector<Word> code = parseCodeText(text);
        benchmark::DoNotOptimize(code.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
    state.counters["words"] = static_cast<double>(check.size());
}
BENCHMARK(BM_ParseCodeText)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// A packed program whose code text is about 1 MB and whose first instruction
// is HALT: the time from opening the file to the end of that instruction.
void BM_StartUpToFirstInstruction(benchmark::State& state) {
    const std::string text = makeCodeText(static_cast<std::size_t>(state.range(0)), "43 ");
    char path[] = "/tmp/lousa-bench-startup-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("cannot create a temporary file");
        return;
    }
    close(fd);
    {
        std::ofstream out(path, std::ios::binary);
        const std::string container = makeContainer(text, 512 * 1024);
        out.write(container.data(), static_cast<std::streamsize>(container.size()));
    }
    std::size_t words = 0;
    for (auto _ : state) {
        ArquivoCompilado file(path);
        std::vector<Word> code = file.loadCode();
        words = code.size();
        Interpretador machine(std::move(code), "", nullptr);
        machine.runBudget(1);
        benchmark::DoNotOptimize(machine.pc);
    }
    std::remove(path);
    if (words == 0) state.SkipWithError("nothing was loaded");
    state.counters["words"] = static_cast<double>(words);
}
BENCHMARK(BM_StartUpToFirstInstruction)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lousa::bench
