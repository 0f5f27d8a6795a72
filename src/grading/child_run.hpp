#pragma once
// A pool of child runs. Each run is a fork of the grader that confines
// itself (its box as working and runner directory, resource limits, the
// sandbox) and runs the machine in-process on one test's input. The parent
// keeps the clock and the output count: it reads standard output through a
// pipe up to the output limit and kills a run that passes it or its wall
// time. The child reports what only it knows (the run-time error and its
// line, a read past the end of the input, the final screen) through a second
// pipe when it ends; the transcript goes into a page shared with the parent
// as the run goes, so a run killed at a limit keeps it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "grading/problem.hpp"
#include "vm/word.hpp"

namespace lousa::grading {

struct SandboxPolicy {
    bool enabled = true;
    bool allowWeak = false;  // run even where the kernel cannot confine
    std::vector<std::string> readOnly;  // paths the program may read beside its box
};

struct RunRequest {
    const std::vector<Word>* code = nullptr;
    std::filesystem::path box;    // absolute; the program's directory
    std::filesystem::path input;  // standard input
    RunLimits limits;
    std::uint32_t seed = 0;  // RANDOM starts from it, so runs repeat
    bool keepScreen = false;
    SandboxPolicy sandbox;
};

enum class RunEnd {
    Finished,        // the machine stopped by itself (normal end or run-time error)
    ProcessorLimit,
    WallLimit,
    OutputLimit,     // standard output passed the limit
    FileLimit,       // a file passed the size limit
    OutOfMemory,     // an allocation failed under the memory limit
    SandboxFailed,   // the child could not confine itself: nothing ran
    Crashed,         // ended by a signal nobody sent
};

// What the child reports about the run.
struct RunFacts {
    bool received = false;
    std::string errorText;  // the run-time error text (Latin-1), empty if none
    int errorLine = 0;
    bool readPastEnd = false;  // the program asked for input after the end
    std::string transcript;    // output with each input line where it was read
    bool transcriptCut = false;
    std::string screenText;        // 25 lines of 80 code page 850 bytes
    std::string screenAttributes;  // 2000 attribute bytes as hex pairs, row by row
    std::string problem;           // SandboxFailed: why
};

struct RunOutcome {
    RunEnd end = RunEnd::Finished;
    int signal = 0;
    std::string output;  // standard output, at most the limit
    double cpuSeconds = 0;
    double wallSeconds = 0;
    long maxResidentKiB = 0;
    RunFacts facts;
};

class RunPool {
public:
    explicit RunPool(unsigned parallel) : parallel_(parallel == 0 ? 1 : parallel) {}

    // Runs `count` runs, at most `parallel` at once, in index order of start.
    // prepare(i) builds run i just before it starts (its box is made then);
    // done(i, outcome) is called as each ends, in the order they end.
    void run(std::size_t count, const std::function<RunRequest(std::size_t)>& prepare,
             const std::function<void(std::size_t, RunOutcome)>& done);

private:
    unsigned parallel_;
};

// The child's exit statuses that carry a meaning of their own.
inline constexpr int kOutOfMemoryStatus = 86;
inline constexpr int kSandboxFailedStatus = 87;

}  // namespace lousa::grading
