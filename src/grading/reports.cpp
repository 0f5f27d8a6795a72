#include "grading/reports.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace lousa::grading {

namespace fs = std::filesystem;

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

void writeWhole(const fs::path& file, const std::string& content) {
    const fs::path temporary = file.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        out.flush();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, file);
}

bool isFailure(Verdict v) { return v != Verdict::Accepted && v != Verdict::JudgeError; }

}  // namespace

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                // Control characters are not allowed in XML 1.0 text.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') out += "\xEF\xBF\xBD";
                else out += c;
        }
    }
    return out;
}

std::string gradesCsv(const GradeResults& results) {
    std::string csv = "id,score,max";
    for (const TestInfo& t : results.tests) csv.append(",").append(csvField(t.name));
    csv += "\n";
    for (const StudentResult& s : results.students) {
        csv += csvField(s.id) + "," + number(s.score) + "," + number(s.max);
        for (const RunResult& r : s.runs) csv.append(",").append(verdictName(r.verdict));
        csv += "\n";
    }
    return csv;
}

std::string junitXml(const GradeResults& results) {
    std::size_t tests = 0, failures = 0, errors = 0;
    std::string suites;
    for (const StudentResult& s : results.students) {
        std::size_t f = 0, e = 0;
        double time = 0;
        std::string cases;
        for (const RunResult& r : s.runs) {
            time += r.cpuSeconds;
            cases += "    <testcase classname=\"" + xmlEscaped(results.problem + "." + s.id) + "\" name=\"" +
                     xmlEscaped(r.test) + "\" time=\"" + number(r.cpuSeconds) + "\"";
            if (r.verdict == Verdict::Accepted) {
                cases += "/>\n";
                continue;
            }
            const char* element = isFailure(r.verdict) ? "failure" : "error";
            (isFailure(r.verdict) ? f : e)++;
            cases += ">\n      <" + std::string(element) + " type=\"" + std::string(verdictName(r.verdict)) +
                     "\" message=\"" + xmlEscaped(r.message) + "\">" + xmlEscaped(r.output) + "</" + element +
                     ">\n    </testcase>\n";
        }
        tests += s.runs.size();
        failures += f;
        errors += e;
        suites += "  <testsuite name=\"" + xmlEscaped(s.id) + "\" tests=\"" + std::to_string(s.runs.size()) +
                  "\" failures=\"" + std::to_string(f) + "\" errors=\"" + std::to_string(e) + "\" time=\"" +
                  number(time) + "\">\n    <properties>\n      <property name=\"score\" value=\"" + number(s.score) +
                  "\"/>\n      <property name=\"max\" value=\"" + number(s.max) + "\"/>\n    </properties>\n" + cases +
                  "  </testsuite>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" + xmlEscaped(results.problem) +
           "\" tests=\"" + std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" errors=\"" +
           std::to_string(errors) + "\">\n" + suites + "</testsuites>\n";
}

void writeReports(const GradeResults& results, const fs::path& outdir) {
    writeWhole(outdir / "results.json", toJson(results).dump(1) + "\n");
    writeWhole(outdir / "grades.csv", gradesCsv(results));
    writeWhole(outdir / "junit.xml", junitXml(results));
    writeWhole(outdir / "index.html", htmlReport(results));
}

GradeResults mergeResults(const std::vector<GradeResults>& shards) {
    if (shards.empty()) throw std::runtime_error("nothing to merge");
    GradeResults merged = shards.front();
    merged.students.clear();
    std::set<std::string> seen;
    for (const GradeResults& shard : shards) {
        if (shard.problem != merged.problem)
            throw std::runtime_error("shards of different problems: " + merged.problem + " and " + shard.problem);
        bool sameTests = shard.tests.size() == merged.tests.size();
        for (std::size_t i = 0; sameTests && i < shard.tests.size(); ++i)
            sameTests = shard.tests[i].name == merged.tests[i].name && shard.tests[i].weight == merged.tests[i].weight;
        if (!sameTests) throw std::runtime_error("shards graded with different tests of " + merged.problem);
        if (shard.landlockAbi < merged.landlockAbi || (!shard.seccomp && merged.seccomp)) {
            merged.landlockAbi = shard.landlockAbi;  // the report states the weakest confinement used
            merged.seccomp = shard.seccomp;
            merged.sandboxNote = shard.sandboxNote;
        }
        for (const StudentResult& s : shard.students) {
            if (!seen.insert(s.id).second) throw std::runtime_error("student " + s.id + " is in two shards");
            merged.students.push_back(s);
        }
    }
    std::sort(merged.students.begin(), merged.students.end(),
              [](const StudentResult& a, const StudentResult& b) { return a.id < b.id; });
    computeScores(merged);
    assignClusters(merged);
    return merged;
}

}  // namespace lousa::grading
