// A write whose bytes cannot be stored (a full device, a file-size limit, a
// position beyond what the file system allows) is reported by that write or
// the next file operation, never left as success, and the bytes written
// before the failure stay in the file.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

#include "files/file_stream.hpp"
#include "files/io_result.hpp"
#include "unit/files/temp_dir.hpp"
#include "vm/interpretador.hpp"
#include "vm/opcode_table.hpp"

namespace lousa {
namespace {

const std::string kLine = "0123456789012345678901234567890123456789";  // 40 bytes

// Writes `count` lines, each ended as a write instruction ends (settled,
// its error taken): the error number each write reports.
std::vector<int> errorsOfWrites(FluxoArquivo& stream, int count) {
    std::vector<int> errors;
    for (int i = 0; i < count; ++i) {
        stream.putText(kLine);
        stream.settleWrites();
        errors.push_back(stream.takeError());
    }
    return errors;
}

// The first failure is reported by write `latestFirst` at the latest, and
// every write after it reports one too (none is taken for stored).
::testing::AssertionResult reportedFromThenOn(const std::vector<int>& errors, std::size_t latestFirst) {
    std::size_t first = 0;
    while (first < errors.size() && errors[first] == 0) ++first;
    if (first > latestFirst) return ::testing::AssertionFailure() << "first failure reported by write " << first;
    for (std::size_t i = first; i < errors.size(); ++i)
        if (errors[i] == 0) return ::testing::AssertionFailure() << "write " << i << " after a failure reported 0";
    return ::testing::AssertionSuccess();
}

TEST(WriteFailures, FullDeviceAndImpossiblePositionFailTheFirstWriteAndEveryOneAfter) {
    int error = 0;
    auto full = FluxoArquivo::open("/dev/full", "w", error);
    ASSERT_NE(full, nullptr) << error;
    EXPECT_TRUE(reportedFromThenOn(errorsOfWrites(*full, 300), 0));

    test::TempDir dir;
    auto farAway = FluxoArquivo::open(dir.file("far.bin"), "wb+t", error);
    ASSERT_NE(farAway, nullptr);
    ASSERT_TRUE(farAway->seek(std::numeric_limits<std::int64_t>::max() - 100));
    EXPECT_TRUE(reportedFromThenOn(errorsOfWrites(*farAway, 20), 0));
}

constexpr rlim_t kLimit = 10000;

// In a child process: the limit and the ignored SIGXFSZ are the process's.
[[noreturn]] void writePastTheLimit(const std::string& path) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kLimit, kLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    int error = 0;
    auto stream = FluxoArquivo::open(path, "wb+t", error);
    if (!stream) _exit(3);
    const std::vector<int> errors = errorsOfWrites(*stream, 1000);
    // The bytes up to the limit are accepted; past it, a buffer's worth may wait.
    const ::testing::AssertionResult reported =
        reportedFromThenOn(errors, (kLimit + FluxoArquivo::kBufferSize) / kLine.size() + 1);
    if (!reported) {
        fprintf(stderr, "%s\n", reported.message());
        _exit(4);
    }
    _exit(errors.back() == EFBIG ? 0 : 5);
}

TEST(WriteFailures, AFileSizeLimitFailsTheWritesPastItAndKeepsTheBytesBefore) {
    test::TempDir dir;
    const std::string path = dir.file("limited.txt");
    EXPECT_EXIT(writePastTheLimit(path), ::testing::ExitedWithCode(0), "");
    std::string expected;
    while (expected.size() < kLimit) expected += kLine;
    EXPECT_EQ(test::readBytes(path), expected.substr(0, kLimit)) << "what fitted is kept";
}

// The machine's I/O result (what CRT 6 gives) after each FILE_WRITE_STR to
// a file that is /dev/full.
TEST(WriteFailures, EachWriteInstructionToAFullDeviceSetsTheIoResult) {
    test::TempDir dir;
    ASSERT_EQ(symlink("/dev/full", dir.file("f").c_str()), 0);
    std::vector<Word> code{static_cast<Word>(Opcode::FILE_REWRITE), 0};
    code.insert(code.end(), 50, static_cast<Word>(Opcode::FILE_WRITE_STR));
    Interpretador m(code, dir.withSeparator(), nullptr);
    m.start();
    m.sp = 1000;
    m.writeWord(500, 'f');
    m.writeWord(501, -1);
    m.pushString("f");
    m.step();
    ASSERT_EQ(ioResult(m.ioErrorNumber), 0) << "opening /dev/full succeeds";
    for (int i = 0; i < 50; ++i) {
        m.push(500);
        m.pushString(kLine);
        m.step();
        m.pop();
        EXPECT_EQ(ioResult(m.ioErrorNumber), ENOSPC) << "write " << i;
    }
}

}  // namespace
}  // namespace lousa
