#include "grading/grader.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "grading/cache.hpp"
#include "grading/child_run.hpp"
#include "grading/child_sandbox.hpp"
#include "grading/comparator.hpp"
#include "grading/judge.hpp"
#include "grading/problem.hpp"
#include "grading/reports.hpp"
#include "grading/submission.hpp"

namespace lousa::grading {

namespace fs = std::filesystem;

namespace {

// What decides a run's result beyond the program. Bump the first piece when
// the grader's judging changes, so old cached results are not trusted.
constexpr std::string_view kCacheVersion = "lousa-grade 2";

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ProblemError("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string testKey(const Problem& problem, const TestCase& test, std::uint32_t seed) {
    KeyBuilder key;
    key.add(kCacheVersion).add(readBytes(test.input)).add(readBytes(test.answer)).add(test.flagsText);
    key.add(test.files ? "files" : "").add(test.expect ? "expect" : "");
    if (test.files) key.addTree(*test.files);
    if (test.expect) key.addTree(*test.expect);
    fs::path attributes = test.answer;
    attributes.replace_extension(".attr");
    std::error_code ec;
    if (fs::is_regular_file(attributes, ec)) key.add(readBytes(attributes));
    if (problem.outputValidator) key.add(readBytes(*problem.outputValidator));
    const RunLimits& l = problem.limits;
    key.add(std::to_string(l.processorSeconds) + " " + std::to_string(l.wallSeconds) + " " +
            std::to_string(l.memoryBytes) + " " + std::to_string(l.outputBytes) + " " + std::to_string(l.openFiles) +
            " " + std::to_string(seed));
    return key.hex();
}

// A temporary folder that holds the boxes and goes away with everything in it.
class BoxRoot {
public:
    explicit BoxRoot(const fs::path& where) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string base = !where.empty() ? where.string() : std::string(tmp && *tmp ? tmp : "/tmp");
        std::string pattern = base + "/lousa-grade-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder for the boxes in " + pattern);
        path_ = pattern;
    }
    ~BoxRoot() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    BoxRoot(const BoxRoot&) = delete;
    BoxRoot& operator=(const BoxRoot&) = delete;
    [[nodiscard]] const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct Job {
    std::size_t student;
    std::size_t test;
    std::string key;
};

std::map<std::pair<std::string, std::string>, std::string> previousVerdicts(const fs::path& file) {
    std::map<std::pair<std::string, std::string>, std::string> verdicts;
    std::ifstream in(file, std::ios::binary);
    if (!in) return verdicts;
    const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (j.is_discarded()) return verdicts;
    try {
        for (const StudentResult& s : resultsFromJson(j).students)
            for (const RunResult& r : s.runs) verdicts[{s.id, r.test}] = std::string(verdictName(r.verdict));
    } catch (const std::exception&) {
    }
    return verdicts;
}

std::string displayText(const fs::path& file) { return reportText(answerInCodePage(readBytes(file)), kReportOutputLimit); }

}  // namespace

unsigned shardOf(const std::string& studentId, unsigned count) {
    return static_cast<unsigned>(XXH3_64bits(studentId.data(), studentId.size()) % count) + 1;
}

GradeSession grade(const GradeOptions& options, const std::function<void(const Progress&)>& progress) {
    const Problem problem = loadProblem(options.problem);
    std::vector<Submission> submissions = collectSubmissions(options.submissions);
    if (options.shard)
        std::erase_if(submissions, [&](const Submission& s) {
            return shardOf(s.id, options.shard->count) != options.shard->index;
        });
    std::error_code ec;
    fs::create_directories(options.outdir, ec);
    if (!fs::is_directory(options.outdir, ec)) throw std::runtime_error("cannot make the folder " + options.outdir.string());

    GradeSession session;
    GradeResults& results = session.results;
    const SandboxReport sandbox = probeSandbox();
    if (!sandbox.strong && !options.allowWeakSandbox)
        throw std::runtime_error(sandbox.note + "; refusing to run students' programs (--allow-weak-sandbox runs them anyway)");
    results.problem = problem.name;
    results.landlockAbi = sandbox.landlockAbi;
    results.seccomp = sandbox.seccomp;
    results.sandboxNote = sandbox.note;

    std::vector<std::string> testKeys;
    std::vector<std::unique_ptr<Comparator>> comparators;
    for (const TestCase& t : problem.tests) {
        results.tests.push_back({t.name, t.weight, t.sample, displayText(t.input), displayText(t.answer)});
        testKeys.push_back(testKey(problem, t, options.seed));
        comparators.push_back(makeComparator(problem, t));
    }

    ResultCache cache;
    const fs::path cacheFile = options.outdir / "cache.json";
    if (options.useCache) cache.load(cacheFile);
    const auto before = previousVerdicts(options.outdir / "results.json");

    std::vector<Job> jobs;
    Progress state;
    state.total = submissions.size() * problem.tests.size();
    for (std::size_t s = 0; s < submissions.size(); ++s) {
        const Submission& sub = submissions[s];
        StudentResult student;
        student.id = sub.id;
        for (std::size_t t = 0; t < problem.tests.size(); ++t) {
            RunResult run;
            run.test = problem.tests[t].name;
            if (!sub.valid()) {
                run.verdict = Verdict::InvalidProgram;
                run.message = sub.error;
                student.runs.push_back(std::move(run));
                continue;
            }
            const std::string key = KeyBuilder().add(testKeys[t]).add(sub.codeText).hex();
            if (const RunResult* cached = options.useCache ? cache.find(key) : nullptr) {
                run = *cached;
                run.fromCache = true;
                cache.markUsed(key);
                ++session.runsFromCache;
            } else {
                jobs.push_back({s, t, key});
            }
            student.runs.push_back(std::move(run));
        }
        results.students.push_back(std::move(student));
    }
    state.fromCache = session.runsFromCache;
    state.done = state.total - jobs.size();
    if (progress) progress(state);

    const BoxRoot boxes(options.scratch);
    RunPool pool(options.jobs);
    auto boxOf = [&](std::size_t i) { return boxes.path() / ("run-" + std::to_string(i)); };
    pool.run(
        jobs.size(),
        [&](std::size_t i) {
            const Job& job = jobs[i];
            const TestCase& test = problem.tests[job.test];
            const fs::path box = boxOf(i);
            fs::create_directory(box);
            fs::permissions(box, fs::perms::owner_all);
            if (test.files) fs::copy(*test.files, box, fs::copy_options::recursive);
            RunRequest request;
            request.code = &submissions[job.student].code;
            request.box = box;
            request.input = test.input;
            request.limits = problem.limits;
            request.seed = options.seed;
            request.keepScreen = test.flags.screen;
            request.sandbox.allowWeak = options.allowWeakSandbox;
            return request;
        },
        [&](std::size_t i, RunOutcome outcome) {
            const Job& job = jobs[i];
            const TestCase& test = problem.tests[job.test];
            const fs::path box = boxOf(i);
            const fs::path scratch = boxes.path() / ("check-" + std::to_string(i));
            fs::create_directory(scratch);
            RunResult run = judgeRun(test, *comparators[job.test], outcome, box, scratch);
            std::error_code removeError;
            fs::remove_all(box, removeError);
            fs::remove_all(scratch, removeError);
            run.key = job.key;
            cache.store(run);
            cache.markUsed(job.key);
            ++session.runsMade;
            state.student = submissions[job.student].id;
            state.test = test.name;
            state.verdict = run.verdict;
            ++state.done;
            results.students[job.student].runs[job.test] = std::move(run);
            if (progress) progress(state);
        });

    computeScores(results);
    assignClusters(results);
    for (const StudentResult& s : results.students)
        for (const RunResult& r : s.runs) {
            const auto it = before.find({s.id, r.test});
            if (it != before.end() && it->second != verdictName(r.verdict))
                session.changes.push_back({s.id, r.test, it->second, std::string(verdictName(r.verdict))});
        }
    writeReports(results, options.outdir);
    if (options.useCache) cache.save(cacheFile);
    return session;
}

}  // namespace lousa::grading
