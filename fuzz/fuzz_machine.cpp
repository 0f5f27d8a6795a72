// Fuzz target: arbitrary code words run by the machine under an instruction
// budget. Whatever the words, the run must end (by HALT, a run-time error or
// the budget) without a crash, undefined behaviour, a leak or an allocation
// out of proportion (libFuzzer's -rss_limit_mb and -malloc_limit_mb, set by
// fuzz/run, are the memory ceiling).
//
// The console is the real one in plain mode, over an in-memory input (a few
// lines of numbers, words and a key sequence) and an in-memory output; the
// machine's pauses (DELAY) are skipped, see fuzz/skipped_pauses.hpp.
//
// Files the program opens land in a scratch directory that is emptied after
// every input; fuzz/run also drops root privileges, so that an absolute file
// name made up by the fuzzer cannot clobber anything that matters.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <csignal>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "console/console.hpp"
#include "console/input_reader.hpp"
#include "console/plain_backend.hpp"
#include "fuzz/skipped_pauses.hpp"
#include "fuzz/word_codec.hpp"
#include "vm/interpretador.hpp"

namespace {

// Enough for loops, calls and recursion to reach deep states. Some single
// instructions do tens of thousands of steps of work (zeroing a frame of the
// whole memory limit, following 65536 static links or array dimensions), so
// the run also gets a slice of processor time: when it is spent, a timer
// stops the machine at the next instruction boundary, at the next instruction boundary,
// as on a stop signal. A hang inside one instruction still trips libFuzzer's
// own -timeout.
constexpr std::uint64_t kBudget = 5000;
constexpr long kSliceMicroseconds = 250000;
constexpr std::size_t kMaxCodeWords = 4096;

std::string scratchDirectory;
std::atomic<lousa::Interpretador*> sliceTarget{nullptr};
std::string consoleOutput;
constexpr char kConsoleInput[] = "12 34\nabc de\n2.5e1 x\ntrue\n-7\n\x1b[A\x1b[1;5B\x1bOP";

void emptyScratch() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace

static void onSliceSpent(int) {
    if (lousa::Interpretador* machine = sliceTarget.load()) machine->requestStop();
}

static void armSlice(long microseconds) {
    itimerval slice{};
    slice.it_value.tv_sec = microseconds / 1000000;
    slice.it_value.tv_usec = microseconds % 1000000;
    setitimer(ITIMER_VIRTUAL, &slice, nullptr);
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
    std::vector<lousa::Word> code = lousa::fuzz::decodeWords(data, size, kMaxCodeWords);
    if (code.empty()) return 0;
    consoleOutput.clear();
    {
        lousa::Console console(std::make_unique<lousa::PlainBackend>(consoleOutput),
                               std::make_unique<lousa::MemoryByteSource>(std::string(kConsoleInput)));
        lousa::Interpretador machine(std::move(code), scratchDirectory, &console);
        sliceTarget.store(&machine);
        armSlice(kSliceMicroseconds);
        machine.runBudget(kBudget);
        armSlice(0);
        sliceTarget.store(nullptr);
        console.finish();
    }
    emptyScratch();
    return 0;
}
