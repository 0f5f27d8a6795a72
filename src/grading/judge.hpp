#pragma once
// From what a run did to its verdict: the limits first, then the run-time
// error, then the files the test expects, then the output.

#include <filesystem>

#include "grading/child_run.hpp"
#include "grading/comparator.hpp"
#include "grading/problem.hpp"
#include "grading/result_model.hpp"

namespace lousa::grading {

// What a report keeps of one output.
inline constexpr std::size_t kReportOutputLimit = 16 * 1024;

// `box` is the run's directory after the run (the files it wrote);
// `scratch` a directory the comparator may use.
RunResult judgeRun(const TestCase& test, const Comparator& comparator, const RunOutcome& outcome,
                   const std::filesystem::path& box, const std::filesystem::path& scratch);

}  // namespace lousa::grading
