#pragma once
// The verdict of one run of one submission on one test.

#include <optional>
#include <string>
#include <string_view>

namespace lousa::grading {

enum class Verdict {
    Accepted,
    WrongAnswer,
    Presentation,   // accepted once case and spacing are ignored
    TimeLimit,      // processor time
    WallTimeLimit,  // waited too long (input never comes, sleeps)
    MemoryLimit,
    OutputLimit,    // standard output or a file grew past its limit
    RunTimeError,
    OutOfInput,     // ended reading past the end of the test's input
    InvalidProgram,
    JudgeError,     // the checker failed: never the student's fault
};

// The report name: "accepted", "wrong-answer", ...
std::string_view verdictName(Verdict verdict);
std::optional<Verdict> verdictFromName(std::string_view name);
// A short code for narrow tables: AC, WA, PE, TLE, WTL, MLE, OLE, RTE, EOF, INV, JE.
std::string_view verdictCode(Verdict verdict);

}  // namespace lousa::grading
