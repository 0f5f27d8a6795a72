#include "loader/run_sequence.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <unistd.h>

#include "console/console.hpp"
#include "loader/arquivo_compilado.hpp"
#include "loader/stop_signals.hpp"
#include "storage/lista_arquivos.hpp"
#include "vm/interpretador.hpp"

namespace lousa {

std::optional<RunLimits> runLimitsFromEnvironment() {
    RunLimits limits;
    if (const char* text = std::getenv("LOUSA_MEMORY_LIMIT")) {
        const std::optional<std::size_t> bytes = parseByteSize(text);
        if (!bytes) return std::nullopt;
        limits.memoryCeiling = *bytes;
    }
    return limits;
}

RunOutcome runCode(std::vector<Word> code, const std::string& runnerDirectory, Console* console,
                   const RunLimits& limits, const BeforeRun& beforeRun) {
    if (code.empty()) return {};  // nothing was loaded: nothing runs
    if (stopRequested()) return {};  // stopped while loading: nothing runs
    Interpretador machine(std::move(code), runnerDirectory, console);
    machine.memoryAccount.ceiling = limits.memoryCeiling;
    if (beforeRun) beforeRun(machine);
    {
        const StopTargetScope stops(machine);
        machine.run();
    }
    if (console) console->flushOutput();
    if (machine.runtimeErrorRaised) return {1, machine.runtimeErrorText};
    return {};
}

namespace {

RunOutcome runFrom(const std::string& openPath, const std::string& directorySource, Console* console,
                   const RunLimits& limits) {
    RunOutcome result;
    std::unique_ptr<ArquivoCompilado> file;
    try {
        file = std::make_unique<ArquivoCompilado>(openPath);
        std::vector<Word> code = file->loadCode();
        result = runCode(std::move(code), directoryOf(directorySource), console, limits);
    } catch (...) {
        // Loading failures have printed their own message; anything else ends silently.
    }
    return result;
}

// The end of every run in a process of its own. A stop signal has ended the
// machine at an instruction boundary and the machine is gone, so its files
// are flushed and closed; the console restores the terminal; then the
// process ends by that signal, without the run-time error text (a read cut
// short by the signal may have raised one).
void finishRun(Console& console, const RunOutcome& result) {
    console.finish();
    endByPendingStopSignal();
    if (result.status > 0) console.writeFinalMessage(result.finalMessage);
}

void prepareForSignals() {
    installStopSignals();
    setFileFlush(&ListaArquivos::flushAll);
}

// The limits of the environment, or nothing after saying on standard error
// why LOUSA_MEMORY_LIMIT is not usable.
std::optional<RunLimits> limitsOrComplaint() {
    std::optional<RunLimits> limits = runLimitsFromEnvironment();
    if (!limits)
        std::fprintf(stderr, "LOUSA_MEMORY_LIMIT=%s: not a size (a number of bytes, or of K, M or G)\n",
                     std::getenv("LOUSA_MEMORY_LIMIT"));
    return limits;
}

}  // namespace

RunOutcome runCompiledProgram(const std::string& path, Console* console, const RunLimits& limits) {
    return runFrom(path, path, console, limits);
}

int runnerMain(const std::string& path, const std::string& runnerPathForDirectory) {
    // Started through PATH, the first argument names no file here: use our own image.
    std::string openPath = path;
    if (access(path.c_str(), R_OK) != 0 && access("/proc/self/exe", R_OK) == 0) openPath = "/proc/self/exe";
    const std::optional<RunLimits> limits = limitsOrComplaint();
    if (!limits) return 2;
    prepareForSignals();
    std::unique_ptr<Console> console = makeProcessConsole();
    const RunOutcome result = runFrom(openPath, runnerPathForDirectory, console.get(), *limits);
    finishRun(*console, result);
    return 0;
}

int runnerMainWithCode(std::vector<Word> code, const std::string& runnerDirectory, const BeforeRun& beforeRun) {
    const std::optional<RunLimits> limits = limitsOrComplaint();
    if (!limits) return 2;
    prepareForSignals();
    std::unique_ptr<Console> console = makeProcessConsole();
    RunOutcome result;
    std::exception_ptr refusal;  // from beforeRun: the program never started
    const BeforeRun guarded = [&beforeRun, &refusal](Interpretador& machine) {
        try {
            if (beforeRun) beforeRun(machine);
        } catch (...) {
            refusal = std::current_exception();
            throw;
        }
    };
    try {
        result = runCode(std::move(code), runnerDirectory, console.get(), *limits, guarded);
    } catch (...) {
        // As for a loaded program: anything but a run-time error ends silently.
    }
    if (refusal) {
        console->finish();
        std::rethrow_exception(refusal);
    }
    finishRun(*console, result);
    return 0;
}

}  // namespace lousa
