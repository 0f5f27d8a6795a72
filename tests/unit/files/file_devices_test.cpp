#include "files/file_devices.hpp"

#include <gtest/gtest.h>

#include <string>

#include "console/console.hpp"
#include "console/plain_backend.hpp"

namespace lousa {
namespace {

struct PlainConsole {
    explicit PlainConsole(std::string input)
        : console(std::make_unique<PlainBackend>(out), std::make_unique<MemoryByteSource>(std::move(input))) {}
    std::string out;
    Console console;
};

std::string readAll(FluxoArquivo& stream) {
    std::string text;
    for (int c = stream.getChar(); c != FluxoArquivo::kEnd; c = stream.getChar()) text.push_back(static_cast<char>(c));
    return text;
}

TEST(ConsoleDevice, WritesShowInOrderWithConsoleOutputAndReadsComeFromTheReader) {
    PlainConsole plain("12\r\nxy\x1Aignored");
    int error = -1;
    auto stream = FluxoArquivo::openDevice(consoleDevice(&plain.console), "r+t", error);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(error, 0);
    plain.console.write("A");
    stream->putText("B\n");  // a text stream: CR LF, which the plain console writes as LF
    plain.console.write("C");
    EXPECT_TRUE(stream->flush());
    plain.console.flushOutput();
    EXPECT_EQ(plain.out, "AB\nC") << "nothing waits in the stream's buffer";
    EXPECT_EQ(readAll(*stream), "12\nxy") << "CR LF is one line end; Ctrl+Z ends the text";
    EXPECT_EQ(stream->size(), 0);
    EXPECT_TRUE(stream->close());
}

TEST(ConsoleDevice, ABinaryStreamPassesBytesAndDropsOnlyNul) {
    PlainConsole plain("");
    int error = -1;
    auto stream = FluxoArquivo::openDevice(consoleDevice(&plain.console), "wb", error);
    ASSERT_NE(stream, nullptr);
    stream->putText(std::string("a\0b\nc", 5));
    plain.console.flushOutput();
    EXPECT_EQ(plain.out, "ab\nc");
}

TEST(DiscardDevice, SwallowsWritesAndReadsAsEmptyAsDoesAConsoleDeviceWithoutAConsole) {
    for (auto* make : {+[] { return discardDevice(); }, +[] { return consoleDevice(nullptr); }}) {
        int error = -1;
        auto stream = FluxoArquivo::openDevice(make(), "r+t", error);
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(stream->putText(std::string(10000, 'x')));
        EXPECT_TRUE(stream->flush());
        EXPECT_EQ(stream->getChar(), FluxoArquivo::kEnd);
        EXPECT_EQ(stream->takeError(), 0);
        EXPECT_FALSE(stream->seek(5)) << "a device has no positions";
    }
}

}  // namespace
}  // namespace lousa
