#pragma once
// A grading session: the problem and the submissions in, every run through
// the pool (or the cache), one result model out.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "grading/result_model.hpp"

namespace lousa::grading {

struct Shard {
    unsigned index = 1;  // 1..count
    unsigned count = 1;
};

struct GradeOptions {
    std::filesystem::path problem;
    std::vector<std::string> submissions;
    std::filesystem::path outdir;
    unsigned jobs = 1;
    std::optional<Shard> shard;
    std::uint32_t seed = 0;
    bool allowWeakSandbox = false;
    bool useCache = true;
    // Where the boxes are made (each run's folder, removed after it); empty:
    // $TMPDIR, else /tmp.
    std::filesystem::path scratch;
};

struct Progress {
    std::size_t done = 0;
    std::size_t total = 0;
    std::size_t fromCache = 0;
    std::string student;  // of the run that just ended
    std::string test;
    Verdict verdict = Verdict::Accepted;
};

// A verdict that differs from the previous results in OUTDIR.
struct Change {
    std::string student;
    std::string test;
    std::string before;
    std::string after;
};

struct GradeSession {
    GradeResults results;
    std::vector<Change> changes;
    std::size_t runsMade = 0;
    std::size_t runsFromCache = 0;
};

// The shard (1..N) a student falls in: a stable hash of the id.
unsigned shardOf(const std::string& studentId, unsigned count);

// Grades and writes the reports into options.outdir. Throws ProblemError or
// std::runtime_error for what stops the whole session (a bad package, an
// unusable output folder, a sandbox that cannot confine without
// --allow-weak-sandbox).
GradeSession grade(const GradeOptions& options, const std::function<void(const Progress&)>& progress);

}  // namespace lousa::grading
