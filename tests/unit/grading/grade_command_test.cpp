// 'lousa grade' as the teacher runs it: the progress and the summary on a
// terminal and on a pipe, a second run after one test changed, and shards
// graded apart then joined by 'lousa grade merge'.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "unit/terminal/pty.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(LOUSA_SOURCE_DIR) / "examples" / "grading";

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Ran {
    int status = -1;
    std::string out;  // on a terminal: everything the terminal showed
    std::string err;
};

// Submissions that finish at once, every quick verdict among them.
std::vector<std::string> quickClass() {
    std::vector<std::string> files;
    for (const char* id : {"ana.lst", "bruno.lst", "carla.lst", "hugo.lst", "iris.lst", "kiko.lst", "joao.exe"})
        files.push_back((kExamples / "turma-soma" / id).string());
    return files;
}

class GradeCommand : public ::testing::Test {
protected:
    void SetUp() override {
        work_ = fs::temp_directory_path() / ("lousa-grade-cli-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work_);
        fs::create_directories(work_);
    }
    void TearDown() override { fs::remove_all(work_); }

    // Runs 'lousa grade ARGS...' in the work folder. With a terminal, standard
    // output and error are both the terminal; otherwise each goes to a file.
    Ran grade(const std::vector<std::string>& args, lousa::test::Pty* terminal = nullptr) {
        std::vector<std::string> words{LOUSA_TOOL_PATH, "grade"};
        words.insert(words.end(), args.begin(), args.end());
        const fs::path out = work_ / ".out";
        const fs::path err = work_ / ".err";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::unsetenv("NO_COLOR");
            if (::chdir(work_.c_str()) != 0) ::_exit(126);
            const int in = ::open("/dev/null", O_RDONLY);
            const int o = terminal ? terminal->slave : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = terminal ? terminal->slave : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
            std::vector<char*> argv;
            for (std::string& w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        Ran ran;
        int status = 0;
        for (;;) {  // the terminal is read while the tool runs, so it never blocks on a full one
            if (terminal) ran.out += terminal->drain(20);
            const pid_t ended = ::waitpid(pid, &status, terminal ? WNOHANG : 0);
            if (ended == pid) break;
        }
        if (terminal) ran.out += terminal->drain(100);
        else {
            ran.out = readAll(out);
            ran.err = readAll(err);
        }
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return ran;
    }

    std::vector<std::string> withClass(std::vector<std::string> args) {
        std::vector<std::string> all{(kExamples / "soma").string()};
        for (const std::string& f : quickClass()) all.push_back(f);
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    fs::path work_;
};

TEST_F(GradeCommand, OnAPipeNoEscapeCodesAndTheSummaryTable) {
    const Ran ran = grade(withClass({"-o", "notas", "-j2"}));
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out.find('\x1b'), std::string::npos) << ran.out;
    EXPECT_EQ(ran.err.find('\x1b'), std::string::npos) << ran.err;
    EXPECT_EQ(ran.err.find('\r'), std::string::npos) << ran.err;
    // Progress as whole lines, the last one complete: 7 students x 3 tests.
    EXPECT_NE(ran.err.find("lousa grade: 21/21 runs\n"), std::string::npos) << ran.err;
    // The table: a header naming the tests, one row per student with its score and verdict codes.
    EXPECT_TRUE(ran.out.starts_with("student")) << ran.out;
    EXPECT_NE(ran.out.find("(sample/1 secret/1 secret/2)\n"), std::string::npos) << ran.out;
    EXPECT_TRUE(std::regex_search(ran.out, std::regex("\nana +3/3 +AC AC AC\n"))) << ran.out;
    EXPECT_TRUE(std::regex_search(ran.out, std::regex("\nbruno +0/3( +WA){3}\n"))) << ran.out;
    EXPECT_EQ(std::count(ran.out.begin(), ran.out.end(), '\n'), 8) << ran.out;
    EXPECT_NE(ran.err.find("reports in notas/"), std::string::npos) << ran.err;
}

TEST_F(GradeCommand, OnATerminalAProgressBarAndAColouredTable) {
    lousa::test::Pty terminal;
    ASSERT_TRUE(terminal.ok());
    const Ran ran = grade(withClass({"-o", "notas", "-j", "2"}), &terminal);
    ASSERT_EQ(ran.status, 0) << ran.out;
    // The bar is redrawn in place (a carriage return, no new line) and ends full.
    EXPECT_NE(ran.out.find("\r[" + std::string(30, '#') + "] 21/21 runs"), std::string::npos) << ran.out;
    EXPECT_TRUE(std::regex_search(ran.out, std::regex("\r\\[#*\\.+\\] [0-9]+/21 runs\r"))) << ran.out;
    EXPECT_EQ(ran.out.find("lousa grade: 21/21 runs"), std::string::npos) << "the pipe's lines on a terminal";
    // Verdicts in colour: accepted in green, the others in red.
    EXPECT_TRUE(std::regex_search(ran.out, std::regex("ana +3/3 +(\x1b\\[32mAC\x1b\\[0m ?){3}\r\n"))) << ran.out;
    EXPECT_NE(ran.out.find("\x1b[31mWA\x1b[0m"), std::string::npos) << ran.out;
}

TEST_F(GradeCommand, AfterOneTestChangesOnlyItRunsAgainAndTheChangesAreListed) {
    fs::copy(kExamples / "soma", work_ / "soma", fs::copy_options::recursive);
    std::vector<std::string> args = withClass({"-o", "notas", "-j2"});
    args[0] = (work_ / "soma").string();
    const Ran first = grade(args);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err.find("changed:"), std::string::npos) << first.err;

    // secret/2 now wants another sum: those who printed the old one are wrong now.
    std::ofstream(work_ / "soma/data/secret/2.ans", std::ios::binary | std::ios::trunc) << "7\n";
    const Ran second = grade(args);
    ASSERT_EQ(second.status, 0) << second.err;
    // Six programs x one test run again; joao is not a program and runs nothing.
    EXPECT_NE(second.err.find("lousa grade: 6 runs made, 12 taken from the cache\n"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("changed: ana secret/2: accepted -> wrong-answer\n"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("changed: kiko secret/2: accepted -> wrong-answer\n"), std::string::npos) << second.err;
    EXPECT_EQ(second.err.find("secret/1:"), std::string::npos) << "only the changed test can change";
    const nlohmann::json results = nlohmann::json::parse(readAll(work_ / "notas/results.json"));
    EXPECT_EQ(results["students"][0]["id"], "ana");
    EXPECT_EQ(results["students"][0]["score"], 1);
}

// Timings differ from run to run; the rest must not.
nlohmann::json withoutTimings(nlohmann::json results) {
    for (nlohmann::json& student : results["students"])
        for (nlohmann::json& run : student["runs"]) {
            run.erase("cpu_s");
            run.erase("wall_s");
        }
    return results;
}

TEST_F(GradeCommand, ThreeShardsMergedGiveTheReportsOfOneRun) {
    ASSERT_EQ(grade(withClass({"-o", "one", "-j2"})).status, 0);
    std::size_t students = 0;
    for (const char* k : {"1", "2", "3"}) {
        const Ran shard = grade(withClass({"--shard", std::string(k) + "/3", "-o", std::string("shard") + k, "-j2"}));
        ASSERT_EQ(shard.status, 0) << shard.err;
        students += nlohmann::json::parse(readAll(work_ / (std::string("shard") + k) / "results.json"))["students"].size();
    }
    EXPECT_EQ(students, quickClass().size()) << "each student in exactly one shard";
    const Ran merged = grade({"merge", "shard1", "shard2", "shard3", "-o", "merged"});
    ASSERT_EQ(merged.status, 0) << merged.err;

    EXPECT_EQ(withoutTimings(nlohmann::json::parse(readAll(work_ / "merged/results.json"))),
              withoutTimings(nlohmann::json::parse(readAll(work_ / "one/results.json"))));
    EXPECT_EQ(readAll(work_ / "merged/grades.csv"), readAll(work_ / "one/grades.csv"));
    EXPECT_EQ(readAll(work_ / "merged/index.html"), readAll(work_ / "one/index.html"));
    const std::regex time(" time=\"[0-9.e+-]+\"");
    EXPECT_EQ(std::regex_replace(readAll(work_ / "merged/junit.xml"), time, ""),
              std::regex_replace(readAll(work_ / "one/junit.xml"), time, ""));
    // The summary printed by merge is the one a single run prints.
    const Ran one = grade(withClass({"-o", "one", "-j2"}));  // from the cache: the same table
    EXPECT_EQ(merged.out, one.out);

    // A shard given twice is refused, not counted twice.
    std::string fullest = "shard1";
    for (const char* k : {"shard2", "shard3"})
        if (fs::file_size(work_ / k / "results.json") > fs::file_size(work_ / fullest / "results.json")) fullest = k;
    const Ran twice = grade({"merge", fullest, fullest, "-o", "bad"});
    EXPECT_EQ(twice.status, 1);
    EXPECT_FALSE(fs::exists(work_ / "bad/results.json"));
}

}  // namespace
