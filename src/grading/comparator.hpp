#pragma once
// Comparators: one interface, four ways to judge a finished run's output
// against the test's answer (bytes, the default validator's rules, the final
// screen, an external checker). Text is compared in the program's code page
// (850): answers written as UTF-8 are converted first.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "grading/problem.hpp"

namespace lousa::grading {

struct Judgement {
    enum class Kind { Accepted, Wrong, JudgeError } kind = Kind::Accepted;
    std::string message;  // UTF-8, for the report
};

struct CompareInput {
    const TestCase& test;
    std::string_view output;  // what the program wrote (code page 850)
    std::string_view answer;  // the answer, already in code page 850
    std::string_view screen;  // the final screen, 25 lines (screen mode)
    std::string_view screenAttributes;
    std::filesystem::path scratch;  // a directory the comparator may use
};

class Comparator {
public:
    virtual ~Comparator() = default;
    [[nodiscard]] virtual Judgement judge(const CompareInput& input) const = 0;
};

// The comparator for a test: the external checker when the problem has one,
// else by the test's flags.
std::unique_ptr<Comparator> makeComparator(const Problem& problem, const TestCase& test);

// Kattis's default rules on their own, for tests and for the relaxations.
Judgement compareTokens(std::string_view output, std::string_view answer, const CompareFlags& flags);

// An answer file's bytes in code page 850: valid UTF-8 with non-ASCII text is
// converted, anything else is taken as code page 850 already.
std::string answerInCodePage(std::string_view bytes);

// For a wrong answer: the smallest relaxation that would accept the output
// ("a missing final line end", "CR LF line ends", "trailing spaces",
// "letter case", "spacing", "float rounding (up to 0.01)"), or empty when
// none does. `presentationOnly` tells whether it is one of the relaxations
// that make the verdict a presentation error (case and spacing).
struct Relaxation {
    std::string name;
    bool presentationOnly = false;
};
Relaxation wouldPassIf(std::string_view output, std::string_view answer);

// Byte offset of the first difference, or npos when equal.
std::size_t firstDifference(std::string_view a, std::string_view b);

}  // namespace lousa::grading
