#pragma once
// The reports of a grading session, all from one result model: results.json,
// grades.csv, junit.xml and index.html in OUTDIR.

#include <filesystem>
#include <string>

#include "grading/result_model.hpp"

namespace lousa::grading {

std::string gradesCsv(const GradeResults& results);
std::string junitXml(const GradeResults& results);
std::string htmlReport(const GradeResults& results);

// Writes the four reports, each whole or not at all.
void writeReports(const GradeResults& results, const std::filesystem::path& outdir);

// Joins the results of shards (each a results.json) into one: same problem
// and tests required, students taken from every shard. Throws on a mismatch
// or a student graded in two shards.
GradeResults mergeResults(const std::vector<GradeResults>& shards);

std::string xmlEscaped(std::string_view text);

}  // namespace lousa::grading
