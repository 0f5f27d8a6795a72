// Fuzz target for the translation tier: arbitrary code words (the machine
// target's byte form) run under a budget once by the reference loop and once
// by the translation tier, over the same console input and an emptied
// scratch directory. Both runs must leave the same registers, line, error
// text, executed count, memory, heap words and console output; any
// difference aborts.
//
// Both runs seed RANDOM alike. A run cut short by its slice of processor
// time (see fuzz_machine.cpp) is not compared.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "console/input_reader.hpp"
#include "console/plain_backend.hpp"
#include "fuzz/machine_harness.hpp"
#include "fuzz/word_codec.hpp"
#include "vm/interpretador.hpp"

namespace {

using namespace lousa::fuzz;

struct Result {
    lousa::Word pc = 0, sp = 0, bp = 0, line = 0;
    bool error = false;
    bool cutShort = false;
    std::string text;
    std::uint64_t executed = 0;
    std::vector<lousa::Word> dense;
    std::vector<lousa::Word> heapWords;
    std::string output;
};

Result runOn(const std::vector<lousa::Word>& code, lousa::Tier tier) {
    Result r;
    {
        lousa::Console console(std::make_unique<lousa::PlainBackend>(r.output),
                               std::make_unique<lousa::MemoryByteSource>(std::string(kConsoleInput)));
        lousa::Interpretador machine(code, scratchDirectory(), &console);
        machine.tier = tier;
        machine.randomSeed = 12345;
        r.executed = runSliced(machine);
        console.finish();
        r.cutShort = machine.stopRequested.load();
        r.pc = machine.pc;
        r.sp = machine.sp;
        r.bp = machine.bp;
        r.line = machine.currentLine;
        r.error = machine.runtimeErrorRaised;
        r.text = machine.runtimeErrorText;
        r.dense.assign(machine.memory.denseData(), machine.memory.denseData() + machine.memory.denseSize());
        for (lousa::Word a = -2; a >= -64; --a) r.heapWords.push_back(machine.heap.read(a));
    }
    emptyScratch();
    return r;
}

void require(bool same, const char* what) {
    if (same) return;
    std::fprintf(stderr, "fuzz_translation: the tiers differ in %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    prepareHarness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<lousa::Word> code = lousa::fuzz::decodeWords(data, size, kMaxCodeWords);
    if (code.empty()) return 0;
    const Result reference = runOn(code, lousa::Tier::reference);
    const Result fast = runOn(code, lousa::Tier::fast);
    if (reference.cutShort || fast.cutShort) return 0;
    require(fast.executed == reference.executed, "the executed count");
    require(fast.error == reference.error && fast.text == reference.text, "the run-time error");
    require(fast.pc == reference.pc && fast.sp == reference.sp && fast.bp == reference.bp, "the registers");
    require(fast.line == reference.line, "the line");
    require(fast.output == reference.output, "the console output");
    require(fast.dense == reference.dense, "the memory");
    require(fast.heapWords == reference.heapWords, "the heap");
    return 0;
}
