#include "grading/verdict.hpp"

#include <array>
#include <utility>

namespace lousa::grading {

namespace {

struct VerdictNames {
    Verdict verdict;
    std::string_view name;
    std::string_view code;
};

constexpr std::array<VerdictNames, 11> kNames{{
    {Verdict::Accepted, "accepted", "AC"},
    {Verdict::WrongAnswer, "wrong-answer", "WA"},
    {Verdict::Presentation, "presentation", "PE"},
    {Verdict::TimeLimit, "time-limit", "TLE"},
    {Verdict::WallTimeLimit, "wall-time-limit", "WTL"},
    {Verdict::MemoryLimit, "memory-limit", "MLE"},
    {Verdict::OutputLimit, "output-limit", "OLE"},
    {Verdict::RunTimeError, "run-time-error", "RTE"},
    {Verdict::OutOfInput, "out-of-input", "EOF"},
    {Verdict::InvalidProgram, "invalid-program", "INV"},
    {Verdict::JudgeError, "judge-error", "JE"},
}};

}  // namespace

std::string_view verdictName(Verdict verdict) { return kNames[static_cast<std::size_t>(verdict)].name; }
std::string_view verdictCode(Verdict verdict) { return kNames[static_cast<std::size_t>(verdict)].code; }

std::optional<Verdict> verdictFromName(std::string_view name) {
    for (const VerdictNames& n : kNames)
        if (n.name == name) return n.verdict;
    return std::nullopt;
}

}  // namespace lousa::grading
