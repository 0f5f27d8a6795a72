// The run sequence from a file: what the runner prints when it cannot start,
// and the runner image that compiled programs are appended to.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "loader/compressor.hpp"
#include "loader/run_sequence.hpp"
#include "vm/interpretador.hpp"

namespace lousa {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RunFromFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lousa-run-seq-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }

    fs::path dir_;
};

TEST_F(RunFromFile, MissingProgramFileIsReportedAndNothingRuns) {
    const std::string path = (dir_ / "absent.exe").string();
    testing::internal::CaptureStdout();
    const RunOutcome result = runCompiledProgram(path);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(out, "\nCould not open program file " + path + "... Aborting operation");
    EXPECT_TRUE(result.finalMessage.empty());
}

TEST_F(RunFromFile, ErrorTextOfAPackedProgramBecomesTheFinalMessage) {
    // Word 0 is the unassigned opcode 4.
    const std::string path = write("bad.exe", std::string("stub") + buildPayload("bad.pas", "1 2 4 "));
    testing::internal::CaptureStdout();
    const RunOutcome result = runCompiledProgram(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.finalMessage, " => Erro de execu\xE7\xE3o na linha 0...\nInstru\xE7\xE3o inv\xE1lida");
}

TEST_F(RunFromFile, HaltAloneEndsNormally) {
    const std::string path = write("halt.exe", std::string("stub") + buildPayload("halt.pas", "1 2 43 "));
    testing::internal::CaptureStdout();
    const RunOutcome result = runCompiledProgram(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.finalMessage.empty());
}

TEST_F(RunFromFile, NoMarkerOrShortStreamRunsNothing) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(runCompiledProgram(write("plain", "no payload at all")).status, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // "1 " is two literals, 18 bits; claiming 5 more valid bits leaves a
    // literal without its 9 bits: "Error..", and the text "1 " holds no
    // code word, so nothing runs.
    std::string stream = encodeStream("1 ");
    ASSERT_EQ(stream.size(), 5U);
    stream[3] = 7;
    testing::internal::CaptureStdout();
    EXPECT_EQ(runCompiledProgram(write("cut", std::string("stub\x1A\x1A\x1A\x01", 8) + std::string(1, '\0') + stream)).status, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error..");
}

TEST(RunnerImage, HoldsNoMarkerRunAndDoesNotEndWithIt) {
    const std::string image = readAll(LOUSA_RUNNER_PATH);
    ASSERT_GT(image.size(), 1000U);
    EXPECT_EQ(image.find("\x1A\x1A\x1A"), std::string::npos);
    EXPECT_NE(image.back(), '\x1A');
}

}  // namespace
}  // namespace lousa
