// Fuzz target: arbitrary code words run by the machine under an instruction
// budget. Whatever the words, the run must end (by HALT, a run-time error or
// the budget) without a crash, undefined behaviour, a leak or an allocation
// out of proportion (libFuzzer's -rss_limit_mb and -malloc_limit_mb, set by
// fuzz/run, are the memory ceiling).
//
// Files the program opens land in a scratch directory that is emptied after
// every input; fuzz/run also drops root privileges, so that an absolute file
// name made up by the fuzzer cannot clobber anything that matters.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "fuzz/word_codec.hpp"
#include "vm/interpretador.hpp"

namespace {

// Enough for loops, calls and recursion to reach deep states, small enough
// that an input whose every instruction does its maximum work (zeroing a
// frame of the whole memory limit, say) still finishes in seconds.
constexpr std::uint64_t kBudget = 10000;
constexpr std::size_t kMaxCodeWords = 4096;

std::string scratchDirectory;

void emptyScratch() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("LOUSA_FUZZ_SCRATCH");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/lousa-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) std::abort();
    scratchDirectory = pattern + "/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<lousa::Word> code = lousa::fuzz::decodeWords(data, size, kMaxCodeWords);
    if (code.empty()) return 0;
    {
        lousa::Interpretador machine(std::move(code), scratchDirectory, nullptr);
        machine.runBudget(kBudget);
    }
    lousa::running.store(false);
    emptyScratch();
    return 0;
}
