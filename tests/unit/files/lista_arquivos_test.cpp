#include "storage/lista_arquivos.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "files/io_result.hpp"
#include "unit/files/temp_dir.hpp"

namespace lousa {
namespace {

using test::readBytes;

std::unique_ptr<FluxoArquivo> openStream(const std::string& path, std::string_view mode) {
    int error = 0;
    auto stream = FluxoArquivo::open(path, mode, error);
    EXPECT_NE(stream, nullptr) << path << " errno " << error;
    return stream;
}

TEST(ListaArquivos, LookUpLettersSelectTheMode) {
    test::TempDir dir;
    ListaArquivos table;
    const std::string out = dir.file("out.txt");
    const std::string in = dir.file("in.txt");
    auto outStream = openStream(out, "w+t");
    FluxoArquivo* outRaw = outStream.get();
    ASSERT_TRUE(table.add(out, std::move(outStream), 'w', false));
    ASSERT_TRUE(table.add(in, openStream(in, "w+t"), 'r', false));

    EXPECT_EQ(table.find(out, 'r'), nullptr);
    EXPECT_EQ(table.find(out, 'w'), outRaw);
    EXPECT_EQ(table.find(out, 'a'), outRaw);
    EXPECT_NE(table.find(in, 'r'), nullptr);
    EXPECT_EQ(table.find(in, 'w'), nullptr);
    EXPECT_EQ(table.find(dir.file("OUT.TXT"), 'a'), nullptr) << "paths compare byte for byte";

    table.remove(dir.file("never"));
    EXPECT_EQ(table.size(), 2U);
    table.remove(out);
    EXPECT_EQ(table.find(out, 'a'), nullptr);
    EXPECT_EQ(table.size(), 1U);
    ASSERT_TRUE(table.add(out, openStream(out, "r+t"), 'r', false)) << "reopened in the other mode after removal";
    EXPECT_NE(table.find(out, 'r'), nullptr);
}

// The indexes by path and by stream stay right through removals from the
// middle and appends that replace a stream, with many files open.
TEST(ListaArquivos, IndexesFollowRemovalsAndReopenedStreams) {
    test::TempDir dir;
    ListaArquivos table;
    constexpr int kFiles = 300;
    const auto name = [&dir](int i) {
        std::string file = std::to_string(i);
        file.insert(file.begin(), 'f');
        return dir.file(file);
    };
    std::vector<FluxoArquivo*> streams(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        auto stream = openStream(name(i), "w+t");
        streams[i] = stream.get();
        ASSERT_TRUE(table.add(name(i), std::move(stream), i % 2 ? 'r' : 'w', false));
    }
    for (int i = 0; i < kFiles; i += 3) table.remove(name(i));
    for (int i = 1; i < kFiles; i += 3) {
        int error = 0;
        streams[i] = table.reopenAppend(streams[i], error);
        ASSERT_NE(streams[i], nullptr) << error;
    }
    EXPECT_EQ(table.size(), static_cast<std::size_t>(kFiles - kFiles / 3));
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = name(i);
        SCOPED_TRACE(path);
        EXPECT_EQ(table.find(path, 'a'), i % 3 == 0 ? nullptr : streams[i]);
        EXPECT_EQ(table.find(path, i % 2 ? 'w' : 'r'), nullptr);
    }
}

TEST(ListaArquivos, ASecondEntryForAPathIsRefusedAndItsStreamClosed) {
    test::TempDir dir;
    ListaArquivos table;
    const std::string path = dir.file("f.txt");
    auto first = openStream(path, "w+t");
    FluxoArquivo* firstRaw = first.get();
    ASSERT_TRUE(table.add(path, std::move(first), 'w', false));

    auto second = openStream(dir.file("g.txt"), "w+t");
    second->putText("written by the refused stream");
    EXPECT_FALSE(table.add(path, std::move(second), 'r', true));
    EXPECT_EQ(readBytes(dir.file("g.txt")), "written by the refused stream") << "closed, so written out";
    EXPECT_EQ(table.find(path, 'w'), firstRaw) << "the first entry stays, in its mode";
    EXPECT_EQ(table.find(path, 'r'), nullptr);
}

TEST(ListaArquivos, ReopenAppendUsesTheEntrysKind) {
    test::TempDir dir;
    ListaArquivos table;
    const std::string text = dir.file("t.txt");
    const std::string typed = dir.file("b.dat");
    auto textStream = openStream(text, "w+t");
    FluxoArquivo* oldText = textStream.get();
    oldText->putText("x");
    table.add(text, std::move(textStream), 'w', false);
    table.add(typed, openStream(typed, "wb+t"), 'w', true);

    int error = -1;
    FluxoArquivo* newText = table.reopenAppend(oldText, error);
    ASSERT_NE(newText, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(table.find(text, 'w'), newText);
    EXPECT_TRUE(newText->isText());
    EXPECT_FALSE(newText->canRead()) << "opened with \"a\"";
    EXPECT_EQ(newText->position(), 1) << "at the end of the file";
    newText->putText("\n");

    FluxoArquivo* newTyped = table.reopenAppend(table.find(typed, 'w'), error);
    ASSERT_NE(newTyped, nullptr);
    EXPECT_FALSE(newTyped->isText()) << "opened with \"ab\"";
    newTyped->putText("\n");

    table.closeAll();
    EXPECT_EQ(table.size(), 0U);
    EXPECT_EQ(readBytes(text), "x\r\n");
    EXPECT_EQ(readBytes(typed), "\n");
}

TEST(ListaArquivos, AFailedReopenRemovesTheEntry) {
    test::TempDir dir;
    ListaArquivos table;
    const std::string path = dir.file("sub/f.txt");
    std::filesystem::create_directory(dir.file("sub"));
    table.add(path, openStream(path, "w+t"), 'w', false);
    std::filesystem::remove_all(dir.file("sub"));
    int error = 0;
    EXPECT_EQ(table.reopenAppend(table.find(path, 'w'), error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(table.find(path, 'a'), nullptr);
}

TEST(ListaArquivos, DestroyingTheTableWritesEveryOpenFile) {
    test::TempDir dir;
    {
        ListaArquivos table;
        auto a = openStream(dir.file("a.txt"), "w+t");
        a->putText("one\n");
        auto b = openStream(dir.file("b.dat"), "wb+t");
        b->putText("two");
        table.add(dir.file("a.txt"), std::move(a), 'w', false);
        table.add(dir.file("b.dat"), std::move(b), 'w', true);
        EXPECT_EQ(readBytes(dir.file("a.txt")), "");
    }
    EXPECT_EQ(readBytes(dir.file("a.txt")), "one\r\n");
    EXPECT_EQ(readBytes(dir.file("b.dat")), "two");
}

TEST(IoResult, MapsErrorNumbersToTheResultsProgramsTest) {
    EXPECT_EQ(ioResult(0), 0);
    EXPECT_EQ(ioResult(ENOENT), 2);
    EXPECT_EQ(ioResult(ENOTDIR), 2);
    EXPECT_EQ(ioResult(EMFILE), 4);
    EXPECT_EQ(ioResult(ENFILE), 4);
    for (const int e : {EACCES, EPERM, EROFS, EISDIR}) EXPECT_EQ(ioResult(e), 5) << e;
    EXPECT_EQ(ioResult(ENOSPC), ENOSPC);
    EXPECT_EQ(ioResult(EBADF), EBADF);
}

}  // namespace
}  // namespace lousa
