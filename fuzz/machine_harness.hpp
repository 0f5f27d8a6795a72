#pragma once
// What the machine's fuzz targets share: the console input, a scratch
// directory for the files a program opens, and a slice of processor time per
// run. Some single instructions do tens of thousands of steps of work
// (zeroing a frame of the whole memory limit, following long static-link
// chains or array dimensions), so besides its instruction budget a run gets
// a slice: when it is spent, a timer stops the machine at the next
// instruction boundary, as a stop signal would. A hang inside one
// instruction still trips libFuzzer's own -timeout.
// Include it in exactly one source file of a fuzz target.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <csignal>
#include <sys/time.h>
#include <unistd.h>

#include "fuzz/skipped_pauses.hpp"
#include "vm/interpretador.hpp"

namespace lousa::fuzz {

inline constexpr std::uint64_t kBudget = 5000;
inline constexpr long kSliceMicroseconds = 250000;
inline constexpr std::size_t kMaxCodeWords = 4096;
inline constexpr char kConsoleInput[] = "12 34\nabc de\n2.5e1 x\ntrue\n-7\n\x1b[A\x1b[1;5B\x1bOP";

namespace harness {
inline std::string scratchDirectory;
inline std::atomic<Interpretador*> sliceTarget{nullptr};

inline void onSliceSpent(int) {
    if (Interpretador* machine = sliceTarget.load()) machine->requestStop();
}

inline void armSlice(long microseconds) {
    itimerval slice{};
    slice.it_value.tv_sec = microseconds / 1000000;
    slice.it_value.tv_usec = microseconds % 1000000;
    setitimer(ITIMER_VIRTUAL, &slice, nullptr);
}
}  // namespace harness

// Once per fuzzing process: the slice's timer handler and a fresh scratch
// directory (under LOUSA_FUZZ_SCRATCH or /tmp) made the current one.
inline void prepareHarness() {
    struct sigaction action {};
    action.sa_handler = harness::onSliceSpent;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGVTALRM, &action, nullptr);
    const char* base = std::getenv("LOUSA_FUZZ_SCRATCH");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/lousa-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) std::abort();
    harness::scratchDirectory = pattern + "/";
}

inline const std::string& scratchDirectory() { return harness::scratchDirectory; }

// Runs the machine under the budget and one slice; the executed count.
inline std::uint64_t runSliced(Interpretador& machine) {
    harness::sliceTarget.store(&machine);
    harness::armSlice(kSliceMicroseconds);
    const std::uint64_t executed = machine.runBudget(kBudget);
    harness::armSlice(0);
    harness::sliceTarget.store(nullptr);
    return executed;
}

inline void emptyScratch() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(harness::scratchDirectory, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace lousa::fuzz
