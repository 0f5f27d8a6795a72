// lousa run --sandbox DIR FILE as a user runs it: relative names land in
// DIR, nothing outside DIR can be opened, and the tool refuses clearly when
// it cannot confine the program.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sandbox/sandbox.hpp"

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Prints the I/O result of: rewrite of a relative name, of a name on drive
// C, of an absolute name outside, of a name through "..", and reset of the
// absolute name.
std::string escapeListing(const fs::path& victim) {
    std::string listing = "        ENTER_JUMP 40 100 start\nstart:  LINE 1\n";
    const auto attempt = [&listing](const std::string& name, const char* operation) {
        listing += "        PUSH_STR \"" + name + "\"\n        " + operation +
                   " 0\n        CRT 6\n        CON_WRITE 1\n        PUSH ' '\n        CON_WRITE 2\n";
    };
    attempt("made.txt", "FILE_REWRITE");
    attempt("C:\\\\drive.txt", "FILE_REWRITE");
    attempt(victim.string(), "FILE_REWRITE");
    attempt("../" + victim.filename().string(), "FILE_REWRITE");
    attempt(victim.string(), "FILE_RESET");
    return listing + "        HALT\n";
}

class SandboxedRun : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("lousa-sandboxed-run-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "box");
        std::ofstream(dir / "victim.txt") << "keep";
        std::ofstream(dir / "escape.lst") << escapeListing(dir / "victim.txt");
    }
    void TearDown() override { fs::remove_all(dir); }

    struct Outcome {
        int status = -1;
        std::string out;
        std::string err;
    };
    // The leak checker of a sanitizer build runs at exit in a new process,
    // which the sandbox forbids: it is switched off for these runs.
    // Drive C of an unconfined run is a folder of the test.
    Outcome lousa(const std::string& arguments) {
        const std::string command = "cd '" + dir.string() + "' && LOUSA_DRIVE_C=drive-c" +
                                    " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" '" +
                                    LOUSA_TOOL_PATH + "' " + arguments + " </dev/null >.out 2>.err";
        const int raw = std::system(command.c_str());
        Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), readAll(dir / ".out"),
                  readAll(dir / ".err")};
        fs::remove(dir / ".out");
        fs::remove(dir / ".err");
        return o;
    }

    fs::path dir;
};

TEST_F(SandboxedRun, NamesLandInTheBoxAndNothingOutsideOpens) {
    const lousa::sandbox::Strength kernel = lousa::sandbox::probe();
    if (kernel.landlockAbi == 0 || !kernel.seccomp) {
        // Refused in one line that names the way on.
        const Outcome o = lousa("run --sandbox box escape.lst");
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find("--allow-weak-sandbox"), std::string::npos) << o.err;
        GTEST_SKIP() << "this kernel offers no " << lousa::sandbox::missingLayers(kernel);
    }
    ASSERT_EQ(lousa("pack escape.lst -o escape.exe").status, 0);
    for (const char* file : {"escape.lst", "escape.exe"}) {
        SCOPED_TRACE(file);
        const Outcome o = lousa(std::string("run --sandbox box ") + file);
        EXPECT_EQ(o.status, 0) << o.err;
        // The relative name and the drive opened in the box; the others failed with result 5.
        EXPECT_EQ(o.out, "0 0 5 5 5 ");
        EXPECT_TRUE(fs::exists(dir / "box/made.txt"));
        EXPECT_TRUE(fs::exists(dir / "box/.drives/c/drive.txt"));
        EXPECT_FALSE(fs::exists(dir / "made.txt"));
        EXPECT_FALSE(fs::exists(dir / "drive-c"));
        EXPECT_EQ(readAll(dir / "victim.txt"), "keep");
        fs::remove_all(dir / "box");
        fs::create_directory(dir / "box");
    }
    // Without the sandbox the same program truncates the file: the test is not vacuous.
    EXPECT_EQ(lousa("run escape.lst").out, "0 0 0 0 0 ");
    EXPECT_EQ(readAll(dir / "victim.txt"), "");
    EXPECT_TRUE(fs::exists(dir / "drive-c/drive.txt"));
}

TEST_F(SandboxedRun, BadUsageIsRefusedBeforeAnythingRuns) {
    struct Case {
        const char* arguments;
        int status;
        const char* reason;
    };
    const Case cases[] = {
        {"run --sandbox nowhere escape.lst", 1, "the sandbox nowhere is not a directory"},
        {"run --sandbox victim.txt escape.lst", 1, "is not a directory"},
        {"run --allow-weak-sandbox escape.lst", 2, "--allow-weak-sandbox goes with --sandbox DIR"},
        {"run --sandbox box missing.lst", 1, "missing.lst"},
    };
    for (const Case& c : cases) {
        const Outcome o = lousa(c.arguments);
        EXPECT_EQ(o.status, c.status) << c.arguments;
        EXPECT_NE(o.err.find(c.reason), std::string::npos) << c.arguments << ": " << o.err;
        EXPECT_EQ(o.out, "") << c.arguments;
    }
    EXPECT_EQ(readAll(dir / "victim.txt"), "keep");
}

}  // namespace
