#include "tools/grade_command.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "grading/grader.hpp"
#include "grading/problem.hpp"
#include "grading/reports.hpp"
#include "tools/program_files.hpp"

namespace lousa::tool {

using namespace lousa::grading;

const std::string_view kGradeHelp =
    "usage: lousa grade PROBLEM SUBMISSION... [-o OUTDIR] [-j N] [--shard K/N] [--seed S]\n"
    "       lousa grade merge OUTDIR... [-o OUTDIR]\n"
    "\n"
    "Runs every submission against the tests of the problem package PROBLEM\n"
    "(problem.yaml, data/sample/*.in|*.ans, data/secret/*.in|*.ans, optional\n"
    "NAME.yaml, NAME.files/, NAME.expect/, output_validators/), each run in a box\n"
    "of its own, and writes results.json, grades.csv, junit.xml and index.html.\n"
    "A submission is a packed executable, a listing or code text; a folder grades\n"
    "each file in it. The student id is the file name without its extension.\n"
    "\n"
    "  -o OUTDIR              where the reports go. Default: grades\n"
    "  -j N                   runs at once. Default: the number of processors\n"
    "  --shard K/N            grade only the students of shard K of N (by a stable\n"
    "                         hash of the id); join shards with 'lousa grade merge'\n"
    "  --seed S               where RANDOM starts (default 0): runs repeat exactly\n"
    "  --allow-weak-sandbox   run even where the kernel cannot confine the programs\n"
    "  --no-cache             run everything again (results are otherwise reused\n"
    "                         from OUTDIR/cache.json when program, test and limits\n"
    "                         are unchanged)\n"
    "\n"
    "Verdicts: accepted, wrong-answer, presentation, time-limit, wall-time-limit,\n"
    "memory-limit, output-limit, run-time-error, out-of-input, invalid-program,\n"
    "judge-error. Exit status 0 when the reports were written, whatever the verdicts.\n";

namespace {

unsigned parseCount(const std::string& option, const std::string& text) {
    const std::uint64_t n = parsePositiveCount(option, text);
    if (n > 100000) throw UsageError(option + " " + text + " is too large");
    return static_cast<unsigned>(n);
}

Shard parseShard(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) throw UsageError("--shard needs K/N, not '" + text + "'");
    Shard shard{parseCount("--shard", text.substr(0, slash)), parseCount("--shard", text.substr(slash + 1))};
    if (shard.index > shard.count) throw UsageError("--shard " + text + ": K must be between 1 and N");
    return shard;
}

std::uint32_t parseSeed(const std::string& text) {
    if (text == "0") return 0;
    const std::uint64_t n = parsePositiveCount("--seed", text);
    if (n > 0xFFFFFFFFULL) throw UsageError("--seed " + text + " does not fit in 32 bits");
    return static_cast<std::uint32_t>(n);
}

// The progress line: redrawn in place on a terminal, a line now and then on a pipe.
class ProgressDisplay {
public:
    ProgressDisplay() : terminal_(::isatty(STDERR_FILENO) == 1) {}

    void show(const Progress& p) {
        if (p.total == 0) return;
        if (terminal_) {
            const std::size_t width = 30;
            const std::size_t filled = p.done * width / p.total;
            std::fprintf(stderr, "\r[%s%s] %zu/%zu runs", std::string(filled, '#').c_str(),
                         std::string(width - filled, '.').c_str(), p.done, p.total);
            if (p.fromCache) std::fprintf(stderr, " (%zu cached)", p.fromCache);
            std::fputs(p.done == p.total ? "\n" : "", stderr);
            std::fflush(stderr);
            return;
        }
        const std::size_t tenth = p.done * 10 / p.total;
        if (tenth != lastTenth_ || p.done == p.total) {
            lastTenth_ = tenth;
            std::fprintf(stderr, "lousa grade: %zu/%zu runs\n", p.done, p.total);
        }
    }

private:
    bool terminal_;
    std::size_t lastTenth_ = static_cast<std::size_t>(-1);
};

void printSummary(const GradeResults& results) {
    const bool colour = ::isatty(STDOUT_FILENO) == 1 && std::getenv("NO_COLOR") == nullptr;
    std::size_t width = 7;
    for (const StudentResult& s : results.students) width = std::max(width, s.id.size());
    std::printf("%-*s  %9s  verdicts (", static_cast<int>(width), "student", "score");
    for (std::size_t i = 0; i < results.tests.size(); ++i)
        std::printf("%s%s", i ? " " : "", results.tests[i].name.c_str());
    std::printf(")\n");
    for (const StudentResult& s : results.students) {
        char score[32];
        std::snprintf(score, sizeof score, "%g/%g", s.score, s.max);
        std::printf("%-*s  %9s ", static_cast<int>(width), s.id.c_str(), score);
        for (const RunResult& r : s.runs) {
            const bool good = r.verdict == Verdict::Accepted;
            if (colour) std::printf(good ? " \x1b[32m%s\x1b[0m" : " \x1b[31m%s\x1b[0m", std::string(verdictCode(r.verdict)).c_str());
            else std::printf(" %s", std::string(verdictCode(r.verdict)).c_str());
        }
        std::printf("\n");
    }
}

int commandMerge(const Arguments& args) {
    if (args.files.size() < 2) throw UsageError("merge needs at least one OUTDIR of a shard");
    std::vector<GradeResults> shards;
    for (std::size_t i = 1; i < args.files.size(); ++i) {
        const std::string file = args.files[i] + "/results.json";
        std::ifstream in(file, std::ios::binary);
        if (!in) throw ToolError("cannot read " + file);
        const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
        if (j.is_discarded()) throw ToolError(file + " is not JSON");
        shards.push_back(resultsFromJson(j));
    }
    const GradeResults merged = mergeResults(shards);
    const std::string outdir = args.option("-o").value_or("grades");
    std::error_code ec;
    std::filesystem::create_directories(outdir, ec);
    writeReports(merged, outdir);
    printSummary(merged);
    std::fprintf(stderr, "lousa grade: reports in %s/ (index.html, results.json, grades.csv, junit.xml)\n",
                 outdir.c_str());
    return 0;
}

}  // namespace

int commandGrade(const Arguments& args) {
    if (args.file == "merge") return commandMerge(args);
    if (args.files.size() < 2) throw UsageError("give the PROBLEM folder and at least one SUBMISSION");
    GradeOptions options;
    options.problem = args.files.front();
    options.submissions.assign(args.files.begin() + 1, args.files.end());
    options.outdir = args.option("-o").value_or("grades");
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    options.jobs = args.option("-j") ? parseCount("-j", *args.option("-j")) : static_cast<unsigned>(cores > 0 ? cores : 1);
    if (args.option("--shard")) options.shard = parseShard(*args.option("--shard"));
    if (args.option("--seed")) options.seed = parseSeed(*args.option("--seed"));
    options.allowWeakSandbox = args.flag("--allow-weak-sandbox");
    options.useCache = !args.flag("--no-cache");
    ProgressDisplay display;
    GradeSession session;
    try {
        session = grade(options, [&](const Progress& p) { display.show(p); });
    } catch (const ProblemError& e) {
        throw ToolError(e.what());
    }
    printSummary(session.results);
    if (session.runsFromCache)
        std::fprintf(stderr, "lousa grade: %zu runs made, %zu taken from the cache\n", session.runsMade,
                     session.runsFromCache);
    for (const Change& c : session.changes)
        std::fprintf(stderr, "changed: %s %s: %s -> %s\n", c.student.c_str(), c.test.c_str(), c.before.c_str(),
                     c.after.c_str());
    std::fprintf(stderr, "lousa grade: reports in %s/ (index.html, results.json, grades.csv, junit.xml)\n",
                 options.outdir.c_str());
    return 0;
}

}  // namespace lousa::tool
