#include "files/file_stream.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>
#include <string>
#include <vector>

#include "unit/files/temp_dir.hpp"

namespace lousa {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

std::unique_ptr<FluxoArquivo> openOk(const std::string& path, std::string_view mode) {
    int error = -1;
    auto stream = FluxoArquivo::open(path, mode, error);
    EXPECT_NE(stream, nullptr) << path << " " << mode << ": errno " << error;
    EXPECT_EQ(error, 0);
    return stream;
}

std::vector<int> readAll(FluxoArquivo& stream) {
    std::vector<int> chars;
    for (int c = stream.getChar(); c != FluxoArquivo::kEnd; c = stream.getChar()) chars.push_back(c);
    return chars;
}

TEST(FileStreamModes, ParsesTheCModesLikeC) {
    FluxoArquivo::Modo m;
    ASSERT_TRUE(FluxoArquivo::parseMode("rb+t", m));
    EXPECT_TRUE(m.read && m.write && !m.text && !m.create && !m.truncate);
    ASSERT_TRUE(FluxoArquivo::parseMode("r+t", m));
    EXPECT_TRUE(m.read && m.write && m.text);
    ASSERT_TRUE(FluxoArquivo::parseMode("wb+t", m));
    EXPECT_TRUE(m.read && m.write && m.create && m.truncate && !m.text);
    ASSERT_TRUE(FluxoArquivo::parseMode("a", m));
    EXPECT_TRUE(!m.read && m.write && m.append && m.create && m.text);
    ASSERT_TRUE(FluxoArquivo::parseMode("ab", m));
    EXPECT_TRUE(m.append && !m.text);
    EXPECT_FALSE(FluxoArquivo::parseMode("", m));
    EXPECT_FALSE(FluxoArquivo::parseMode("x+", m));
    EXPECT_FALSE(FluxoArquivo::parseMode("rq", m));
}

TEST(FileStreamOpen, ReportsWhyAnOpenFailed) {
    TempDir dir;
    int error = 0;
    EXPECT_EQ(FluxoArquivo::open(dir.file("missing"), "r+t", error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(FluxoArquivo::open(dir.file("none/x"), "w+t", error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(FluxoArquivo::open(dir.withSeparator(), "r+t", error), nullptr);
    EXPECT_EQ(error, EISDIR);
    EXPECT_EQ(FluxoArquivo::open(dir.withSeparator(), "rb", error), nullptr) << "a directory is not a file";
    EXPECT_EQ(error, EISDIR);
}

TEST(FileStreamText, LineFeedsAreStoredAsCrLfAndReadBackAsLineFeeds) {
    TempDir dir;
    const std::string path = dir.file("t.txt");
    {
        auto out = openOk(path, "w+t");
        out->putText("ab\ncd\n");
    }
    EXPECT_EQ(readBytes(path), "ab\r\ncd\r\n");

    // A lone CR stays a CR; CR LF becomes LF; a bare LF is a LF.
    writeBytes(path, "a\r\nb\rc\nd\r");
    auto in = openOk(path, "r+t");
    EXPECT_EQ(readAll(*in), (std::vector<int>{'a', '\n', 'b', '\r', 'c', '\n', 'd', '\r'}));
}

TEST(FileStreamText, CtrlZEndsATextFileButNotATypedOne) {
    TempDir dir;
    const std::string path = dir.file("z.txt");
    writeBytes(path, std::string("ab\x1A" "cd", 5));
    auto text = openOk(path, "r+t");
    EXPECT_EQ(readAll(*text), (std::vector<int>{'a', 'b'}));
    EXPECT_EQ(text->getChar(), FluxoArquivo::kEnd) << "the end stays the end";
    EXPECT_EQ(text->position(), 2);
    auto typed = openOk(path, "rb+t");
    EXPECT_EQ(readAll(*typed), (std::vector<int>{'a', 'b', 26, 'c', 'd'}));
}

TEST(FileStreamText, TypedStreamsAreByteExact) {
    TempDir dir;
    const std::string path = dir.file("b.dat");
    {
        auto out = openOk(path, "wb+t");
        out->putText(std::string("\n\r\n\x1A\xFF", 5));
    }
    EXPECT_EQ(readBytes(path), std::string("\n\r\n\x1A\xFF", 5));
    auto in = openOk(path, "rb+t");
    EXPECT_EQ(readAll(*in), (std::vector<int>{'\n', '\r', '\n', 26, 255}));
}

TEST(FileStreamLookAhead, PuttingBackGivesTheSameCharacterAndPosition) {
    TempDir dir;
    const std::string path = dir.file("l.txt");
    writeBytes(path, "x\r\ny");
    auto in = openOk(path, "r+t");
    EXPECT_EQ(in->getChar(), 'x');
    EXPECT_EQ(in->getChar(), '\n');
    EXPECT_EQ(in->position(), 3);
    EXPECT_TRUE(in->justAfterLineFeed());
    in->ungetChar();
    EXPECT_EQ(in->position(), 1) << "back before the whole CR LF pair";
    EXPECT_FALSE(in->justAfterLineFeed());
    EXPECT_EQ(in->getChar(), '\n');
    EXPECT_EQ(in->getChar(), 'y');
    EXPECT_EQ(in->getChar(), FluxoArquivo::kEnd);
    in->ungetChar();  // nothing to put back after the end
    EXPECT_EQ(in->getChar(), FluxoArquivo::kEnd);
}

TEST(FileStreamLookAhead, CrLfSplitAcrossTheBufferEdgeIsOneLineFeed) {
    TempDir dir;
    const std::string path = dir.file("edge.txt");
    std::string bytes(FluxoArquivo::kBufferSize - 1, 'a');
    bytes += "\r\nz";
    writeBytes(path, bytes);
    auto in = openOk(path, "r+t");
    for (std::size_t i = 0; i + 1 < FluxoArquivo::kBufferSize; ++i) ASSERT_EQ(in->getChar(), 'a');
    EXPECT_EQ(in->getChar(), '\n');
    in->ungetChar();
    EXPECT_EQ(in->getChar(), '\n');
    EXPECT_EQ(in->getChar(), 'z');
    EXPECT_EQ(in->position(), static_cast<std::int64_t>(bytes.size()));
}

TEST(FileStreamPositions, CountBytesAndSeeUnflushedWrites) {
    TempDir dir;
    const std::string path = dir.file("p.txt");
    auto s = openOk(path, "w+t");
    s->putText("ab\n");
    EXPECT_EQ(s->position(), 4);
    EXPECT_EQ(s->size(), 4) << "the size counts what is still buffered";
    ASSERT_TRUE(s->seek(1));
    EXPECT_EQ(s->getChar(), 'b');
    EXPECT_EQ(s->getChar(), '\n');
    // Writing after reading continues at the position, overwriting.
    ASSERT_TRUE(s->seek(0));
    s->putChar('X');
    EXPECT_EQ(s->getChar(), 'b');
    EXPECT_FALSE(s->seek(-1));
    EXPECT_EQ(s->takeError(), EINVAL);
    EXPECT_EQ(s->position(), 2) << "a failed seek leaves the position";
    ASSERT_TRUE(s->close());
    EXPECT_EQ(readBytes(path), "Xb\r\n");
}

TEST(FileStreamPositions, SeekingPastTheEndReadsNothingAndWritingThereFillsWithZeros) {
    TempDir dir;
    const std::string path = dir.file("far.dat");
    auto s = openOk(path, "wb+t");
    ASSERT_TRUE(s->seek(3));
    EXPECT_EQ(s->getChar(), FluxoArquivo::kEnd);
    s->putChar('x');
    s->close();
    EXPECT_EQ(readBytes(path), std::string("\0\0\0x", 4));
}

TEST(FileStreamAppend, WritesGoToTheEndAndCannotBeRead) {
    TempDir dir;
    const std::string path = dir.file("a.txt");
    writeBytes(path, "old");
    auto s = openOk(path, "a");
    EXPECT_EQ(s->position(), 3);
    s->seek(0);
    s->putText("\nnew");
    EXPECT_EQ(s->getChar(), FluxoArquivo::kEnd);
    EXPECT_EQ(s->takeError(), EBADF);
    s->close();
    EXPECT_EQ(readBytes(path), "old\r\nnew");
    auto b = openOk(path, "ab");
    b->putChar('\n');
    b->close();
    EXPECT_EQ(readBytes(path), "old\r\nnew\n");
}

TEST(FileStreamLargeData, SurvivesManyBufferFills) {
    TempDir dir;
    const std::string path = dir.file("big.txt");
    std::string line = "0123456789\n";
    {
        auto out = openOk(path, "w+t");
        for (int i = 0; i < 2000; ++i) out->putText(line);
    }
    EXPECT_EQ(readBytes(path).size(), 2000U * 12U);
    auto in = openOk(path, "r+t");
    const auto chars = readAll(*in);
    ASSERT_EQ(chars.size(), 2000U * 11U);
    EXPECT_EQ(chars[10], '\n');
    EXPECT_EQ(chars[chars.size() - 1], '\n');
    EXPECT_EQ(in->position(), 2000 * 12);
}

TEST(FileStreamPipes, AreReadAndWrittenInOrderWithTextTranslation) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        auto out = openOk("/dev/fd/" + std::to_string(fds[1]), "wb");
        out->putText("a\r");
        out->flush();
        out->putText("\nb\n");
    }
    close(fds[1]);
    auto in = openOk("/dev/fd/" + std::to_string(fds[0]), "r");
    close(fds[0]);
    EXPECT_EQ(in->getChar(), 'a');
    EXPECT_EQ(in->getChar(), '\n');
    in->ungetChar();
    EXPECT_EQ(in->getChar(), '\n') << "put back without positioning the pipe";
    EXPECT_EQ(in->getChar(), 'b');
    EXPECT_EQ(in->getChar(), '\n');
    EXPECT_EQ(in->getChar(), FluxoArquivo::kEnd);
    EXPECT_FALSE(in->seek(0));
    EXPECT_EQ(in->takeError(), ESPIPE);
}

TEST(FileStreamFlush, SignalFlushWritesPendingBytesOnceAndTheStreamGoesOn) {
    TempDir dir;
    const std::string path = dir.file("s.txt");
    auto s = openOk(path, "w+t");
    s->putText("one\n");
    EXPECT_EQ(readBytes(path), "") << "still buffered";
    flushAllFileStreams();
    EXPECT_EQ(readBytes(path), "one\r\n");
    flushAllFileStreams();  // again: same bytes, same place
    s->putText("two");
    s->close();
    EXPECT_EQ(readBytes(path), "one\r\ntwo");
    flushAllFileStreams();  // a closed stream is no longer listed
    EXPECT_EQ(readBytes(path), "one\r\ntwo");
}

TEST(FileStreamFlush, DestroyingAStreamWritesItOut) {
    TempDir dir;
    const std::string path = dir.file("d.txt");
    openOk(path, "wb+t")->putText("kept");
    EXPECT_EQ(readBytes(path), "kept");
}

}  // namespace
}  // namespace lousa
