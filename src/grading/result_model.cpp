#include "grading/result_model.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "console/code_page.hpp"

namespace lousa::grading {

using nlohmann::json;

json runToJson(const RunResult& r) {
    json j{{"test", r.test},
           {"verdict", verdictName(r.verdict)},
           {"cpu_s", r.cpuSeconds},
           {"wall_s", r.wallSeconds},
           {"message", r.message}};
    if (!r.output.empty()) j["output"] = r.output;
    if (r.outputCut) j["output_cut"] = true;
    if (!r.transcript.empty()) j["transcript"] = r.transcript;
    if (!r.wouldPassIf.empty()) j["would_pass_if"] = r.wouldPassIf;
    if (r.cluster != 0) {
        j["cluster"] = r.cluster;
        j["cluster_size"] = r.clusterSize;
    }
    if (!r.key.empty()) j["key"] = r.key;
    return j;
}

RunResult runFromJson(const json& j) {
    RunResult r;
    r.test = j.at("test").get<std::string>();
    const auto verdict = verdictFromName(j.at("verdict").get<std::string>());
    if (!verdict) throw std::runtime_error("unknown verdict " + j.at("verdict").get<std::string>());
    r.verdict = *verdict;
    r.cpuSeconds = j.value("cpu_s", 0.0);
    r.wallSeconds = j.value("wall_s", 0.0);
    r.message = j.value("message", "");
    r.output = j.value("output", "");
    r.outputCut = j.value("output_cut", false);
    r.transcript = j.value("transcript", "");
    r.wouldPassIf = j.value("would_pass_if", "");
    r.cluster = j.value("cluster", 0);
    r.clusterSize = j.value("cluster_size", 0);
    r.key = j.value("key", "");
    return r;
}

json toJson(const GradeResults& results) {
    json tests = json::array();
    for (const TestInfo& t : results.tests)
        tests.push_back({{"name", t.name}, {"weight", t.weight}, {"sample", t.sample}, {"input", t.input},
                         {"expected", t.expected}});
    json students = json::array();
    for (const StudentResult& s : results.students) {
        json runs = json::array();
        for (const RunResult& r : s.runs) runs.push_back(runToJson(r));
        students.push_back({{"id", s.id}, {"score", s.score}, {"max", s.max}, {"runs", std::move(runs)}});
    }
    return {{"problem", results.problem},
            {"tests", std::move(tests)},
            {"students", std::move(students)},
            {"sandbox", {{"landlock_abi", results.landlockAbi}, {"seccomp", results.seccomp},
                         {"note", results.sandboxNote}}}};
}

GradeResults resultsFromJson(const json& j) {
    try {
        GradeResults results;
        results.problem = j.at("problem").get<std::string>();
        for (const json& t : j.at("tests"))
            results.tests.push_back({t.at("name").get<std::string>(), t.value("weight", 0.0), t.value("sample", false),
                                     t.value("input", ""), t.value("expected", "")});
        for (const json& s : j.at("students")) {
            StudentResult student;
            student.id = s.at("id").get<std::string>();
            student.score = s.value("score", 0.0);
            student.max = s.value("max", 0.0);
            for (const json& r : s.at("runs")) student.runs.push_back(runFromJson(r));
            results.students.push_back(std::move(student));
        }
        const json& sandbox = j.at("sandbox");
        results.landlockAbi = sandbox.value("landlock_abi", 0);
        results.seccomp = sandbox.value("seccomp", false);
        results.sandboxNote = sandbox.value("note", "");
        return results;
    } catch (const json::exception& e) {
        throw std::runtime_error(std::string("not a results file: ") + e.what());
    }
}

void computeScores(GradeResults& results) {
    std::map<std::string, const TestInfo*> byName;
    double max = 0;
    for (const TestInfo& t : results.tests) {
        byName[t.name] = &t;
        if (!t.sample) max += t.weight;
    }
    for (StudentResult& s : results.students) {
        s.max = max;
        s.score = 0;
        for (const RunResult& r : s.runs) {
            const auto it = byName.find(r.test);
            if (it != byName.end() && !it->second->sample && r.verdict == Verdict::Accepted) s.score += it->second->weight;
        }
    }
}

void assignClusters(GradeResults& results) {
    // test -> output -> the runs that wrote it
    std::map<std::string, std::map<std::string, std::vector<RunResult*>>> groups;
    for (StudentResult& s : results.students)
        for (RunResult& r : s.runs) {
            r.cluster = r.clusterSize = 0;
            if (r.verdict == Verdict::WrongAnswer || r.verdict == Verdict::Presentation)
                groups[r.test][r.output].push_back(&r);
        }
    for (auto& [test, outputs] : groups) {
        // Numbered by size (largest mistake first), then by output for a stable order.
        std::vector<std::vector<RunResult*>*> order;
        for (auto& [output, runs] : outputs)
            if (runs.size() > 1) order.push_back(&runs);
        std::stable_sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->size() > b->size(); });
        int number = 0;
        for (auto* runs : order) {
            ++number;
            for (RunResult* r : *runs) {
                r->cluster = number;
                r->clusterSize = static_cast<int>(runs->size());
            }
        }
    }
}

std::string reportText(std::string_view cp850, std::size_t limit, bool* cut) {
    if (cut) *cut = cp850.size() > limit;
    return utf8FromCp850(cp850.substr(0, limit));
}

}  // namespace lousa::grading
