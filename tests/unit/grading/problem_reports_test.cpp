// The problem package reader and the reports written from the result model.

#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "grading/problem.hpp"
#include "grading/reports.hpp"

namespace lousa::grading {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(LOUSA_SOURCE_DIR) / "examples" / "grading";

TEST(Problem, ReadsTheExamplePackage) {
    const Problem p = loadProblem(kExamples / "soma");
    EXPECT_EQ(p.name, "soma");
    EXPECT_DOUBLE_EQ(p.limits.processorSeconds, 0.5);
    EXPECT_DOUBLE_EQ(p.limits.wallSeconds, 6);
    EXPECT_EQ(p.limits.memoryBytes, 4ULL << 20);
    EXPECT_EQ(p.limits.outputBytes, 64ULL << 10);
    EXPECT_TRUE(p.flags.spaceChangeSensitive);
    ASSERT_EQ(p.tests.size(), 3U);
    EXPECT_EQ(p.tests[0].name, "sample/1");
    EXPECT_TRUE(p.tests[0].sample);
    EXPECT_EQ(p.tests[0].weight, 0);
    EXPECT_EQ(p.tests[2].name, "secret/2");
    EXPECT_EQ(p.tests[2].weight, 2);  // from 2.yaml
    EXPECT_EQ(p.maxScore(), 3);

    const Problem files = loadProblem(kExamples / "arquivo");
    ASSERT_TRUE(files.tests[0].files && files.tests[0].expect);
    EXPECT_DOUBLE_EQ(files.limits.wallSeconds, 3);  // twice the processor limit plus one
}

class BrokenPackage : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("lousa-problem-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "data" / "secret");
        write("data/secret/1.in", "1\n");
        write("data/secret/1.ans", "1\n");
    }
    void TearDown() override { fs::remove_all(root_); }
    void write(const std::string& name, const std::string& text) { std::ofstream(root_ / name) << text; }
    std::string error() {
        try {
            loadProblem(root_);
        } catch (const ProblemError& e) {
            return e.what();
        }
        return "no error";
    }
    fs::path root_;
};

TEST_F(BrokenPackage, EachFaultIsNamed) {
    EXPECT_EQ(error(), "no error");
    const struct {
        const char* file;
        const char* text;
        const char* says;
    } cases[] = {
        {"problem.yaml", "limits: {time_limit: -1}\n", "time_limit must be positive"},
        {"problem.yaml", "limits: {memory: lots}\n", "memory must be a number"},
        {"problem.yaml", "limits: [1, 2]\n", "limits must be a mapping"},
        {"problem.yaml", "validator_flags: case_insensitive\n", "unknown validator flag 'case_insensitive'"},
        {"problem.yaml", "name: [unclosed\n", "problem.yaml"},
        {"data/secret/1.yaml", "weight: -2\n", "weight must not be negative"},
    };
    for (const auto& c : cases) {
        write(c.file, c.text);
        EXPECT_NE(error().find(c.says), std::string::npos) << c.file << ": " << c.text << " -> " << error();
        fs::remove(root_ / c.file);
    }
    write("data/secret/2.in", "2\n");  // no 2.ans
    EXPECT_NE(error().find("2.ans: missing answer file"), std::string::npos);
    fs::remove_all(root_ / "data");
    EXPECT_NE(error().find("no tests"), std::string::npos);
}

RunResult run(const char* test, Verdict verdict = Verdict::Accepted, const char* message = "") {
    RunResult r;
    r.test = test;
    r.verdict = verdict;
    r.message = message;
    return r;
}

GradeResults sampleResults() {
    GradeResults r;
    r.problem = "soma";
    r.sandboxNote = "Landlock ABI 7, seccomp filter";
    r.tests = {{"sample/1", 0, true, "3\n1 2 3\n", "6\n"}, {"secret/1", 2, false, "1 <2>\n", "3\n"}};
    StudentResult a;
    a.id = "ana, \"a\"";
    a.runs = {run("sample/1"), run("secret/1")};
    StudentResult b;
    b.id = "bruno";
    RunResult wrong = run("secret/1", Verdict::WrongAnswer, "token 1: expected '3', got '4'");
    wrong.output = "4 \xC3\xA7<b>\n";
    wrong.wouldPassIf = "float rounding (differences up to 1)";
    b.runs = {run("sample/1", Verdict::RunTimeError, "Divisão por Zero, linha 12"), wrong};
    r.students = {a, b};
    computeScores(r);
    return r;
}

TEST(Reports, CsvJunitAndJsonFromOneModel) {
    const GradeResults r = sampleResults();
    EXPECT_EQ(gradesCsv(r),
              "id,score,max,sample/1,secret/1\n"
              "\"ana, \"\"a\"\"\",2,2,accepted,accepted\n"
              "bruno,0,2,run-time-error,wrong-answer\n");
    const std::string junit = junitXml(r);
    EXPECT_NE(junit.find("<testsuites name=\"soma\" tests=\"4\" failures=\"2\" errors=\"0\">"), std::string::npos);
    EXPECT_NE(junit.find("<testsuite name=\"ana, &quot;a&quot;\" tests=\"2\" failures=\"0\""), std::string::npos);
    EXPECT_NE(junit.find("<failure type=\"wrong-answer\" message=\"token 1: expected &#39;3&#39;, got &#39;4&#39;\">"
                         "4 \xC3\xA7&lt;b&gt;\n</failure>"),
              std::string::npos);
    // results.json reads back into the same model.
    const nlohmann::json j = toJson(r);
    EXPECT_EQ(j["students"][1]["runs"][1]["verdict"], "wrong-answer");
    EXPECT_EQ(j["sandbox"]["landlock_abi"], 0);
    EXPECT_EQ(toJson(resultsFromJson(j)), j);
    EXPECT_THROW(resultsFromJson(nlohmann::json{{"problem", "x"}}), std::runtime_error);
}

TEST(Reports, ClustersGroupIdenticalWrongOutputs) {
    GradeResults r = sampleResults();
    for (const char* id : {"carla", "daniel", "eva"}) {
        StudentResult s = r.students[1];
        s.id = id;
        if (std::string(id) == "eva") s.runs[1].output = "5\n";
        r.students.push_back(s);
    }
    assignClusters(r);
    EXPECT_EQ(r.students[1].runs[1].cluster, 1);
    EXPECT_EQ(r.students[1].runs[1].clusterSize, 3);  // bruno, carla, daniel
    EXPECT_EQ(r.students[4].runs[1].cluster, 0);      // eva's mistake is her own
    EXPECT_EQ(r.students[1].runs[0].cluster, 0);      // run-time errors are not grouped
}

TEST(Reports, HtmlShowsTheMatrixAndMarksTheFirstDifference) {
    const std::string html = htmlReport(sampleResults());
    EXPECT_EQ(html.find("http"), std::string::npos) << "the page must not reach the network";
    EXPECT_NE(html.find("data-verdict=\"wrong-answer\""), std::string::npos);
    EXPECT_NE(html.find("2 / 2"), std::string::npos);
    // expected "3↵", actual "4·ç<b>↵": the first character differs and is marked in both.
    EXPECT_NE(html.find("<mark class=\"first-diff\">3</mark>"), std::string::npos);
    EXPECT_NE(html.find("<mark class=\"first-diff\">4</mark><span class=\"ws\">&#xB7;</span>\xC3\xA7&lt;b&gt;"),
              std::string::npos);
    EXPECT_NE(html.find("would pass if: float rounding"), std::string::npos);
    EXPECT_NE(html.find("Divisão por Zero, linha 12"), std::string::npos);
}

}  // namespace
}  // namespace lousa::grading
