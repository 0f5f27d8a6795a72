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

#include <cstddef>
#include <cstdint>
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
std::string consoleOutput;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    lousa::fuzz::prepareHarness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<lousa::Word> code = lousa::fuzz::decodeWords(data, size, lousa::fuzz::kMaxCodeWords);
    if (code.empty()) return 0;
    consoleOutput.clear();
    {
        lousa::Console console(std::make_unique<lousa::PlainBackend>(consoleOutput),
                               std::make_unique<lousa::MemoryByteSource>(std::string(lousa::fuzz::kConsoleInput)));
        lousa::Interpretador machine(std::move(code), lousa::fuzz::scratchDirectory(), &console);
        lousa::fuzz::runSliced(machine);
        console.finish();
    }
    lousa::fuzz::emptyScratch();
    return 0;
}
