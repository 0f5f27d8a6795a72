// Fuzz target for the translation tier: arbitrary code words (the machine
// target's byte form) run under a budget once by the reference loop and once
// by the translation tier, over the same console input and an emptied
// scratch directory. Both runs must leave the same registers, line, error
// text, executed count, memory, heap words and console output; any
// difference aborts.
//
// Both runs seed RANDOM alike. A run cut short by its slice of processor
// time (see fuzz_machine.cpp) is not compared.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <csignal>
#include <sys/time.h>
#include <unistd.h>

#include "console/console.hpp"
#include "console/input_reader.hpp"
#include "console/plain_backend.hpp"
#include "fuzz/skipped_pauses.hpp"
#include "fuzz/word_codec.hpp"
#include "vm/interpretador.hpp"

namespace {

constexpr std::uint64_t kBudget = 5000;
constexpr long kSliceMicroseconds = 250000;
constexpr std::size_t kMaxCodeWords = 4096;
constexpr char kConsoleInput[] = "12 34\nabc de\n2.5e1 x\ntrue\n-7\n\x1b[A\x1b[1;5B\x1bOP";

std::string scratchDirectory;
std::atomic<lousa::Interpretador*> sliceTarget{nullptr};

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

void emptyScratch() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

void armSlice(long microseconds) {
    itimerval slice{};
    slice.it_value.tv_sec = microseconds / 1000000;
    slice.it_value.tv_usec = microseconds % 1000000;
    setitimer(ITIMER_VIRTUAL, &slice, nullptr);
}

Result runOn(const std::vector<lousa::Word>& code, lousa::Tier tier) {
    Result r;
    {
        lousa::Console console(std::make_unique<lousa::PlainBackend>(r.output),
                               std::make_unique<lousa::MemoryByteSource>(std::string(kConsoleInput)));
        lousa::Interpretador machine(code, scratchDirectory, &console);
        machine.tier = tier;
        machine.randomSeed = 12345;
        sliceTarget.store(&machine);
        armSlice(kSliceMicroseconds);
        r.executed = machine.runBudget(kBudget);
        armSlice(0);
        sliceTarget.store(nullptr);
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

static void onSliceSpent(int) {
    if (lousa::Interpretador* machine = sliceTarget.load()) machine->requestStop();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    struct sigaction action {};
    action.sa_handler = onSliceSpent;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGVTALRM, &action, nullptr);
    const char* base = std::getenv("LOUSA_FUZZ_SCRATCH");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/lousa-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) std::abort();
    scratchDirectory = pattern + "/";
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
