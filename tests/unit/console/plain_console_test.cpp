#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "console/console.hpp"
#include "console/plain_backend.hpp"

namespace lousa {
namespace {

TEST(PlainBackend, CrLfBecomesLfWhereverThePairIsSplit) {
    std::string out;
    {
        PlainBackend plain(out);
        plain.programText("a\r\nb\rc\r");
        plain.programText("\nd\r");
        plain.programText("e\a\b\r\r\n");
        plain.programText("\r");
        plain.flush();
        EXPECT_EQ(out, "a\nb\rc\nd\re\a\b\r\n");  // the last CR waits for its next byte
        plain.programText("\r\n");
        plain.programText("\r");
    }  // the end lets a waiting CR go as itself
    EXPECT_EQ(out, "a\nb\rc\nd\re\a\b\r\n\r\n\r");
}

TEST(PlainBackend, BuffersUntilFlushAndPutsTheFinalMessageLast) {
    std::string out;
    PlainBackend plain(out);
    plain.programText("partial");
    EXPECT_EQ(out, "");
    plain.programText(std::string(70000, 'x'));  // a large amount goes out without waiting
    EXPECT_GE(out.size(), 70007U);
    plain.programText("tail\r");
    plain.writeFinalMessage("\n => Erro\xe7");
    EXPECT_EQ(out.substr(out.size() - 16), "xtail\r\n => Erro\xe7");
}

TEST(PlainConsole, WritesThroughAFileDescriptor) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(write(in[1], "17\n", 3), 3);
    close(in[1]);
    {
        std::unique_ptr<Console> console = makePlainConsole(in[0], fds[1]);
        console->write("x = ");
        console->screen().clearWindow();  // screen control writes nothing in plain mode
        EXPECT_EQ(console->input().scanInteger(), 17);  // the prompt goes out before the read
        char buffer[16] = {};
        EXPECT_EQ(read(fds[0], buffer, sizeof buffer), 4);
        EXPECT_EQ(std::string(buffer), "x = ");
        console->write(std::string("ab\0cd", 5));  // up to the 0 byte
        console->finish();
        console->writeFinalMessage("!");
        EXPECT_EQ(read(fds[0], buffer, sizeof buffer), 3);
        EXPECT_EQ(std::string(buffer, 3), "ab!");
        EXPECT_EQ(console->input().scanInteger(), std::nullopt);
        EXPECT_FALSE(console->keys().keyWaiting());
    }
    close(fds[0]);
    close(fds[1]);
    close(in[0]);
}

}  // namespace
}  // namespace lousa
