#pragma once
// The one model every report is written from: the problem's tests, each
// student's runs and score, the sandbox that held them. It reads back from
// results.json, so shards graded apart merge into the same reports.

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "grading/verdict.hpp"

namespace lousa::grading {

struct RunResult {
    std::string test;
    Verdict verdict = Verdict::Accepted;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::string message;      // UTF-8: the run-time error, the difference, the limit
    // Kept for runs that were not accepted (UTF-8, shown as the program's code page showed it):
    std::string output;       // standard output, cut to a report's size
    bool outputCut = false;
    std::string transcript;   // the console with each input line where it was read
    std::string wouldPassIf;  // the smallest relaxation that accepts a wrong answer
    int cluster = 0;          // wrong outputs of a test that are identical share a number (0: alone)
    int clusterSize = 0;
    std::string key;          // the cache key (program, test, limits)
    bool fromCache = false;
};

struct StudentResult {
    std::string id;
    double score = 0;
    double max = 0;
    std::vector<RunResult> runs;  // one per test, in the tests' order
};

struct TestInfo {
    std::string name;
    double weight = 0;
    bool sample = false;
    std::string input;     // UTF-8, cut
    std::string expected;  // UTF-8, cut
};

struct GradeResults {
    std::string problem;
    std::vector<TestInfo> tests;
    std::vector<StudentResult> students;  // sorted by id
    int landlockAbi = 0;
    bool seccomp = false;
    std::string sandboxNote;  // how the runs were confined, in words
};

nlohmann::json toJson(const GradeResults& results);
// Throws std::runtime_error for a document that is not a results file.
GradeResults resultsFromJson(const nlohmann::json& document);
nlohmann::json runToJson(const RunResult& run);
RunResult runFromJson(const nlohmann::json& run);

// Scores from the runs: the weights of accepted tests that are not samples.
void computeScores(GradeResults& results);
// Numbers identical wrong outputs within each test.
void assignClusters(GradeResults& results);

// The text of the program's code page 850 bytes for a report, at most
// `limit` bytes of it; `cut` tells whether some was left out.
std::string reportText(std::string_view cp850, std::size_t limit, bool* cut = nullptr);

}  // namespace lousa::grading
