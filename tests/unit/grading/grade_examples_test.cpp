// The example class graded end to end: every verdict from the submissions in
// examples/grading, hostile ones included, with nothing outside the boxes
// touched; then the cache, -j, shards and merging give the same results.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "grading/grader.hpp"
#include "grading/reports.hpp"
#include "tools/packer.hpp"
#include "tools/program_files.hpp"

namespace lousa::grading {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(LOUSA_SOURCE_DIR) / "examples" / "grading";

// Every file under a folder with its size and modification time.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> snapshot(const fs::path& dir) {
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir))
        files[e.path().string()] = {e.is_regular_file() ? e.file_size() : 0, e.last_write_time()};
    return files;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class GradeExamples : public ::testing::Test {
protected:
    void SetUp() override {
        work_ = fs::temp_directory_path() / ("lousa-grade-test-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work_);
        fs::create_directories(work_ / "scratch");
        fs::create_directories(work_ / "extra");
    }
    void TearDown() override { fs::remove_all(work_); }

    GradeOptions options(std::vector<std::string> submissions, const std::string& out, unsigned jobs) {
        GradeOptions o;
        o.problem = kExamples / "soma";
        o.submissions = std::move(submissions);
        o.outdir = work_ / out;
        o.jobs = jobs;
        o.scratch = work_ / "scratch";
        return o;
    }

    static std::map<std::string, std::vector<std::string>> verdicts(const GradeResults& results) {
        std::map<std::string, std::vector<std::string>> table;
        for (const StudentResult& s : results.students)
            for (const RunResult& r : s.runs) table[s.id].emplace_back(verdictName(r.verdict));
        return table;
    }

    fs::path work_;
};

// Reads the secret answer by its absolute name: the box must not let it.
std::string answerThief() {
    const std::string answer = (kExamples / "soma" / "data" / "secret" / "1.ans").string();
    return "        ENTER_JUMP 300 100 main\n"
           "main:   LINE 1\n"
           "        ADDR_UP 0 10\n"
           "        PUSH_STR \"" + answer + "\"\n"
           "        STORE_STR 255\n"
           "        ADDR_UP 0 10\n"
           "        LOAD_STR 255\n"
           "        FILE_RESET 0\n"
           "        CRT 6\n"
           "        CON_WRITE 1\n"
           "        CON_WRITE 5\n"
           "        HALT\n";
}

TEST_F(GradeExamples, EveryVerdictAndNothingOutsideTheBoxesChanges) {
    // A classroom executable: a foreign stub carrying the reference's payload.
    const tool::ProgramInput reference = tool::loadProgram((kExamples / "soma/submissions/accepted/referencia.lst").string());
    writeFile(work_ / "extra" / "mila.exe",
              tool::packExecutable(std::string("MZ\x90\0\x03\0\0\0This program cannot be run in DOS mode.", 47),
                                   "SOMA.PAS", reference.codeText));
    writeFile(work_ / "extra" / "otto.lst", answerThief());
    writeFile(work_ / "extra" / "pia.lst", "        ENTER_JUMP 2 100 main\nmain: NOT_AN_INSTRUCTION\n");

    const auto before = snapshot(kExamples);
    const GradeSession session =
        grade(options({(kExamples / "turma-soma").string(), (work_ / "extra").string()}, "out", 4), nullptr);
    const auto table = verdicts(session.results);

    const std::map<std::string, std::string> expected = {
        {"ana", "accepted"},          {"bruno", "wrong-answer"},   {"carla", "presentation"},
        {"daniel", "time-limit"},     {"eva", "wall-time-limit"},  {"fabio", "memory-limit"},
        {"gabi", "output-limit"},     {"hugo", "run-time-error"},  {"iris", "out-of-input"},
        {"joao", "invalid-program"},  {"kiko", "accepted"},        {"lara", "accepted"},
        {"mila", "accepted"},         {"nina", "output-limit"},    {"otto", "wrong-answer"},
        {"pia", "invalid-program"},   {"rafa", "time-limit"},
    };
    ASSERT_EQ(table.size(), expected.size());
    for (const auto& [id, verdict] : expected) {
        ASSERT_TRUE(table.contains(id)) << id;
        for (const std::string& got : table.at(id)) EXPECT_EQ(got, verdict) << id;
    }
    // The thief's open was refused (I/O result 5), not served.
    const StudentResult& otto = session.results.students[14];
    ASSERT_EQ(otto.id, "otto");
    EXPECT_EQ(otto.runs[1].output, "5\n");
    // The run-time error names its message and line; the reading one says what was missing.
    EXPECT_EQ(session.results.students[7].runs[1].message, "Divisão por Zero, linha 12");
    EXPECT_NE(session.results.students[8].runs[1].message.find("Inteiro inválido, linha 2"), std::string::npos);
    // A run killed at a limit keeps its transcript up to the kill, each input
    // line where it was read, line ends as standard output has them; a flood
    // keeps the first part, marked as cut.
    const StudentResult& rafa = session.results.students[16];
    ASSERT_EQ(rafa.id, "rafa");
    EXPECT_EQ(rafa.runs[1].transcript, "quantos? 5\nvou somar 5\n");
    const StudentResult& gabi = session.results.students[6];
    ASSERT_EQ(gabi.id, "gabi");
    EXPECT_TRUE(gabi.runs[1].transcript.starts_with("soma soma")) << gabi.runs[1].transcript.substr(0, 40);
    EXPECT_TRUE(gabi.runs[1].transcript.ends_with("\n[...]"));
    // Scores are the weights of accepted secret tests (secret/2 weighs 2).
    EXPECT_EQ(session.results.students[0].score, 3);
    EXPECT_EQ(session.results.students[0].max, 3);

    EXPECT_EQ(snapshot(kExamples), before);
    EXPECT_FALSE(fs::exists("/tmp/lousa-grade-escape.txt"));
    EXPECT_FALSE(fs::exists(work_ / "lousa-grade-escape.txt"));
    EXPECT_TRUE(fs::is_empty(work_ / "scratch")) << "boxes left behind";
    for (const char* report : {"results.json", "grades.csv", "junit.xml", "index.html"})
        EXPECT_GT(fs::file_size(work_ / "out" / report), 100U) << report;

    // Again: everything comes from the cache, with the same verdicts.
    const GradeSession again =
        grade(options({(kExamples / "turma-soma").string(), (work_ / "extra").string()}, "out", 4), nullptr);
    EXPECT_EQ(again.runsMade, 0U);
    EXPECT_EQ(verdicts(again.results), table);
    EXPECT_TRUE(again.changes.empty());
}

// Submissions that finish quickly, for the runs that are repeated.
std::vector<std::string> quickClass() {
    std::vector<std::string> files;
    for (const char* id : {"ana", "bruno", "carla", "fabio", "gabi", "hugo", "iris", "joao", "kiko", "nina"})
        files.push_back((kExamples / "turma-soma" / id).string() + (std::string(id) == "joao" ? ".exe" : ".lst"));
    return files;
}

TEST_F(GradeExamples, ParallelShardedAndMergedRunsAgree) {
    const GradeSession one = grade(options(quickClass(), "one", 1), nullptr);
    GradeOptions parallel = options(quickClass(), "three", 3);
    parallel.useCache = false;
    const GradeSession three = grade(parallel, nullptr);
    EXPECT_EQ(verdicts(three.results), verdicts(one.results));

    std::vector<GradeResults> shards;
    std::set<std::string> seen;
    for (unsigned k = 1; k <= 3; ++k) {
        GradeOptions o = options(quickClass(), "shard" + std::to_string(k), 2);
        o.shard = Shard{k, 3};
        const GradeSession s = grade(o, nullptr);
        for (const StudentResult& student : s.results.students) {
            EXPECT_EQ(shardOf(student.id, 3), k);
            EXPECT_TRUE(seen.insert(student.id).second) << student.id << " in two shards";
        }
        std::ifstream in(work_ / ("shard" + std::to_string(k)) / "results.json");
        shards.push_back(resultsFromJson(nlohmann::json::parse(in)));
    }
    const GradeResults merged = mergeResults(shards);
    EXPECT_EQ(verdicts(merged), verdicts(one.results));
    EXPECT_EQ(gradesCsv(merged), gradesCsv(one.results));
    EXPECT_THROW(mergeResults({shards[0], shards[0]}), std::runtime_error);
}

TEST_F(GradeExamples, TheFileExerciseChecksTheFilesLeftBehind) {
    GradeOptions o = options({(kExamples / "turma-arquivo").string()}, "out", 2);
    o.problem = kExamples / "arquivo";
    const GradeSession session = grade(o, nullptr);
    EXPECT_EQ(verdicts(session.results), (std::map<std::string, std::vector<std::string>>{
                                             {"bia", {"accepted", "accepted"}},
                                             {"rui", {"wrong-answer", "wrong-answer"}},
                                             {"sara", {"wrong-answer", "wrong-answer"}},
                                             {"tito", {"run-time-error", "run-time-error"}},
                                         }));
    EXPECT_EQ(session.results.students[1].runs[0].message, "the file soma.txt was not written");
    EXPECT_FALSE(fs::exists(work_ / "soma.txt"));
}

TEST_F(GradeExamples, TheScreenExerciseComparesTextAndColours) {
    GradeOptions o = options({(kExamples / "turma-tela").string(), (kExamples / "tela/submissions/accepted").string()},
                             "out", 2);
    o.problem = kExamples / "tela";
    const GradeSession session = grade(o, nullptr);
    std::map<std::string, std::pair<std::string, std::string>> got;
    for (const StudentResult& s : session.results.students)
        got[s.id] = {std::string(verdictName(s.runs.at(0).verdict)), s.runs.at(0).message};
    EXPECT_EQ(got.at("referencia").first, "accepted");
    EXPECT_EQ(got.at("lia").first, "accepted");
    // The text is right, the colour is not: only the attributes tell.
    EXPECT_EQ(got.at("leo"), std::make_pair(std::string("wrong-answer"),
                                            std::string("screen colours differ at row 5, column 10")));
    EXPECT_EQ(got.at("max").first, "wrong-answer");
    EXPECT_NE(got.at("max").second.find("screen row 5"), std::string::npos) << got.at("max").second;
}

}  // namespace
}  // namespace lousa::grading

namespace lousa::grading {
namespace {

// A package written by the test: one secret test, the given flags, maybe a checker.
class SmallPackage : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("lousa-grade-small-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "p" / "data" / "secret");
        fs::create_directories(root_ / "class");
        fs::create_directories(root_ / "scratch");
        writeFile(root_ / "p" / "data" / "secret" / "1.in", "");
    }
    void TearDown() override { fs::remove_all(root_); }

    void student(const std::string& id, const std::string& listing) { writeFile(root_ / "class" / (id + ".lst"), listing); }

    std::map<std::string, std::pair<std::string, std::string>> grade(std::uint32_t seed = 0) {
        GradeOptions o;
        o.seed = seed;
        o.problem = root_ / "p";
        o.submissions = {(root_ / "class").string()};
        o.outdir = root_ / "out";
        o.scratch = root_ / "scratch";
        o.useCache = false;
        o.jobs = 2;
        std::map<std::string, std::pair<std::string, std::string>> got;
        for (const StudentResult& s : grading::grade(o, nullptr).results.students)
            got[s.id] = {std::string(verdictName(s.runs[0].verdict)), s.runs[0].message};
        return got;
    }

    fs::path root_;
};

std::string writesAt(int column, int row, const char* text) {
    return "        ENTER_JUMP 2 100 main\n"
           "main:   LINE 1\n"
           "        PUSH " + std::to_string(column) + "\n"
           "        PUSH " + std::to_string(row) + "\n"
           "        GOTOXY\n"
           "        PUSH_STR \"" + text + "\"\n"
           "        CON_WRITE 6\n"
           "        HALT\n";
}

TEST_F(SmallPackage, ScreenModeComparesTheFinalScreen) {
    writeFile(root_ / "p" / "problem.yaml", "validator_flags: screen\n");
    writeFile(root_ / "p" / "data" / "secret" / "1.ans", "\n\n\n\n         X\n");
    student("certo", writesAt(10, 5, "X"));
    student("torto", writesAt(11, 5, "X"));
    const auto got = grade();
    EXPECT_EQ(got.at("certo").first, "accepted");
    EXPECT_EQ(got.at("torto").first, "wrong-answer");
    EXPECT_NE(got.at("torto").second.find("screen row 5"), std::string::npos) << got.at("torto").second;
}

// An attribute file: `rows` lines of 80 copies of `pair`.
std::string attributeRows(int rows, const std::string& pair, const std::string& lineEnd = "\n") {
    std::string text;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < 80; ++c) text += pair;
        text += lineEnd;
    }
    return text;
}

TEST_F(SmallPackage, AMalformedColourFileIsTheJudgesError) {
    writeFile(root_ / "p" / "problem.yaml", "validator_flags: screen_attributes\n");
    writeFile(root_ / "p" / "data" / "secret" / "1.ans", "X\n");
    student("certo", writesAt(1, 1, "X"));
    const struct {
        std::string attr;
        std::string verdict;
    } cases[] = {
        {std::string(79, '.'), "judge-error"},             // not hexadecimal
        {attributeRows(25, "0x"), "judge-error"},          // a letter past f
        {attributeRows(24, "07"), "judge-error"},          // a row short
        {attributeRows(25, "07") + "07", "judge-error"},   // a cell too many
        {attributeRows(25, "07"), "accepted"},             // the default grey everywhere
        {attributeRows(25, "0F", " \r\n"), "wrong-answer"},  // read in any case and spacing, and white differs
    };
    for (const auto& c : cases) {
        writeFile(root_ / "p" / "data" / "secret" / "1.attr", c.attr);
        EXPECT_EQ(grade().at("certo").first, c.verdict) << c.attr.substr(0, 20);
    }
}

TEST_F(SmallPackage, AnExternalCheckerDecidesAndItsFailureIsTheJudges) {
    writeFile(root_ / "p" / "data" / "secret" / "1.ans", "ok\n");
    fs::create_directories(root_ / "p" / "output_validators" / "check");
    const fs::path checker = root_ / "p" / "output_validators" / "check" / "check.sh";
    // Accepts any output holding "ok" in any case; a "crash" output makes it fail.
    writeFile(checker,
              "#!/bin/sh\n"
              "out=$(cat)\n"
              "case \"$out\" in *crash*) exit 3;; esac\n"
              "if echo \"$out\" | grep -qi ok; then exit 42; fi\n"
              "echo \"no ok in the output\" > \"$3/judgemessage.txt\"; exit 43\n");
    fs::permissions(checker, fs::perms::owner_all);
    student("sim", writesAt(1, 1, "tudo OK"));
    student("nao", writesAt(1, 1, "nada"));
    student("quebra", writesAt(1, 1, "crash"));
    const auto got = grade();
    EXPECT_EQ(got.at("sim").first, "accepted");
    EXPECT_EQ(got.at("nao"), std::make_pair(std::string("wrong-answer"), std::string("no ok in the output")));
    EXPECT_EQ(got.at("quebra").first, "judge-error");
}

TEST_F(SmallPackage, TheSeedFixesRandom) {
    // Three draws of random(1000000) from seed 7, by the generator's rule.
    writeFile(root_ / "p" / "data" / "secret" / "1.ans", "31604 10557 7276\n");
    std::string listing = "        ENTER_JUMP 2 100 main\nmain:   LINE 1\n";
    for (int i = 0; i < 3; ++i)
        listing += "        PUSH 1000000\n        RANDOM\n        CON_WRITE 1\n        PUSH ' '\n        CON_WRITE 2\n";
    student("sorte", listing + "        HALT\n");
    EXPECT_EQ(grade(7).at("sorte").first, "accepted");
    EXPECT_EQ(grade(7).at("sorte").first, "accepted");  // and again
    EXPECT_EQ(grade(8).at("sorte").first, "wrong-answer");
}

}  // namespace
}  // namespace lousa::grading
