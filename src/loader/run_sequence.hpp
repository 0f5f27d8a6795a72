#pragma once
// Entry and run sequence: load the appended program, build the machine, run
// it, and hand back the error text of a run-time error.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "storage/memory_account.hpp"
#include "vm/word.hpp"

namespace lousa {

class Console;
class Interpretador;

// How one run ended: status 1 after a run-time error, else 0, and the text
// the runner prints after the run (empty unless a run-time error ended it).
struct RunOutcome {
    int status = 0;
    std::string finalMessage;
};

// What one run may use. The runner and the tool take it from the
// environment at start (LOUSA_MEMORY_LIMIT); a host running programs itself
// sets it per run.
struct RunLimits {
    // Bytes of heap blocks and their records, scope records, set entries and
    // wild words together (Interpretador::memoryAccount.ceiling).
    std::size_t memoryCeiling = MemoryAccount::kDefaultCeiling;
};

// The limits the environment asks for: LOUSA_MEMORY_LIMIT, a number of
// bytes with an optional K, M or G. Nothing when it is set to anything else.
std::optional<RunLimits> runLimitsFromEnvironment();

// Runs the program appended to the file at path.
RunOutcome runCompiledProgram(const std::string& path, Console* console = nullptr, const RunLimits& limits = {});

// Called with the machine built and the console set up, just before the
// program's first instruction: the tool confines the run there (its file
// names to a box, the process to the sandbox).
using BeforeRun = std::function<void(Interpretador&)>;

// Runs a code vector with the given runner directory, as the runner does
// once it has loaded the code.
RunOutcome runCode(std::vector<Word> code, const std::string& runnerDirectory, Console* console = nullptr,
                   const RunLimits& limits = {}, const BeforeRun& beforeRun = {});

// The runner's whole life for one path: console set up, program run,
// console restored, error text written. Returns the exit status (2, with
// nothing run, when LOUSA_MEMORY_LIMIT is not a size).
int runnerMain(const std::string& path, const std::string& runnerPathForDirectory);

// The same life for a code vector that is already loaded (the tool runs
// listings and code texts this way): process console, run, console
// restored, error text written. Returns the exit status. An exception from
// beforeRun restores the console and reaches the caller: the program has
// not started.
int runnerMainWithCode(std::vector<Word> code, const std::string& runnerDirectory, const BeforeRun& beforeRun = {});

}  // namespace lousa
