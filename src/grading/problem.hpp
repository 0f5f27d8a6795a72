#pragma once
// A problem package: problem.yaml, data/sample and data/secret test cases
// (NAME.in, NAME.ans, optional NAME.yaml, NAME.files/, NAME.expect/) and an
// optional custom checker under output_validators/.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lousa::grading {

class ProblemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RunLimits {
    double processorSeconds = 2.0;
    double wallSeconds = 5.0;  // processor limit x 2 + 1 s unless given
    std::uint64_t memoryBytes = 256ULL << 20;
    std::uint64_t outputBytes = 8ULL << 20;  // standard output, and each file written
    std::uint64_t openFiles = 64;
};

// How output is compared, from validator_flags.
struct CompareFlags {
    bool caseSensitive = false;
    bool spaceChangeSensitive = false;
    std::optional<double> floatRelativeTolerance;
    std::optional<double> floatAbsoluteTolerance;
    bool exact = false;             // byte for byte
    bool screen = false;            // the final 80x25 screen instead of the stream
    bool screenAttributes = false;  // ... with its colours
};

// Parses a validator_flags text ("case_sensitive float_tolerance 1e-6").
// Throws ProblemError on an unknown flag or a missing number.
CompareFlags parseFlags(const std::string& text, CompareFlags base = {});

struct TestCase {
    std::string name;  // "sample/01", "secret/02"
    bool sample = false;
    double weight = 1.0;  // 0 for samples
    std::filesystem::path input;
    std::filesystem::path answer;
    std::optional<std::filesystem::path> files;   // copied into the box before the run
    std::optional<std::filesystem::path> expect;  // files that must hold these bytes afterwards
    CompareFlags flags;
    std::string flagsText;  // as written, for the cache key
};

struct Problem {
    std::string name;
    std::filesystem::path root;
    RunLimits limits;
    CompareFlags flags;
    std::string flagsText;
    std::optional<std::filesystem::path> outputValidator;  // an executable checker
    std::vector<TestCase> tests;  // samples first, each group by name

    [[nodiscard]] double maxScore() const;
};

// Reads the package at root. Throws ProblemError naming the file at fault.
Problem loadProblem(const std::filesystem::path& root);

}  // namespace lousa::grading
