#include "console/terminal_session.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "loader/stop_signals.hpp"
#include "unit/terminal/pty.hpp"

namespace lousa {
namespace {

using test::Pty;
using test::sameSettings;

// Answers the cursor query as a terminal does, with `before` typed just
// before the answer and `after` just after it.
std::thread answerQuery(Pty& pty, std::string before, std::string answer, std::string after, std::string* seen) {
    return std::thread([&pty, before, answer, after, seen] {
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (received.find("\x1b[6n") == std::string::npos && std::chrono::steady_clock::now() < deadline)
            received += pty.drain(20);
        *seen = received;
        pty.type(before + answer + after);
    });
}

TEST(TerminalSession, ProgramModeChangesOnlyCanonicalEchoAndFlowControlAndEndRestores) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    {
        TerminalSession session(pty.slave, pty.slave);
        ASSERT_TRUE(session.inputIsTerminal());
        ASSERT_TRUE(session.outputIsTerminal());
        session.enterProgramMode();
        const termios changed = pty.now();
        EXPECT_EQ(changed.c_lflag & (ICANON | ECHO), 0U);
        EXPECT_EQ(changed.c_lflag | ICANON | ECHO, pty.original.c_lflag | ICANON | ECHO) << "other local flags kept";
        EXPECT_NE(changed.c_lflag & ISIG, 0U) << "signals stay enabled";
        EXPECT_EQ(changed.c_oflag, pty.original.c_oflag) << "output processing kept";
        ASSERT_NE(pty.original.c_iflag & IXON, 0U);
        EXPECT_EQ(changed.c_iflag, pty.original.c_iflag & ~static_cast<tcflag_t>(IXON)) << "Ctrl+S is a key";
        EXPECT_EQ(pty.drain(), "\x1b[?1036h") << "Alt+key asked for as ESC and the key";
        TerminalSession::noteColoursChanged(true);
        TerminalSession::noteCursorHidden(true);
        session.end();
        EXPECT_TRUE(sameSettings(pty.now(), pty.original));
        EXPECT_EQ(pty.drain(), "\x1b[0m\x1b[?25h\x1b[?1036l");
        session.end();  // a second end changes and writes nothing
        EXPECT_EQ(pty.drain(50), "");
    }
    EXPECT_TRUE(sameSettings(pty.now(), pty.original));
}

TEST(TerminalSession, KeyModeIsLeftAfterEachKeyRead) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TerminalSession session(pty.slave, pty.slave);
    session.enterKeyMode();
    EXPECT_EQ(pty.now().c_lflag & (ICANON | ECHO), 0U);
    session.leaveKeyMode();
    EXPECT_TRUE(sameSettings(pty.now(), pty.original));
}

TEST(TerminalSession, CursorQueryAnswerIsTakenOutOfTheTypedKeys) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TerminalSession session(pty.slave, pty.slave);
    session.enterProgramMode();
    std::string seen;
    std::thread terminal = answerQuery(pty, "ab", "\x1b[12;7R", "cd", &seen);
    std::string typedAhead;
    const std::optional<CursorPosition> position = session.queryCursor(1000, typedAhead);
    terminal.join();
    EXPECT_NE(seen.find("\x1b[6n"), std::string::npos);
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(*position, (CursorPosition{7, 12}));
    // The keys typed with the answer stay for the program (possibly all read with it).
    typedAhead += pty.drain(0);
    TerminalByteSource source(pty.slave, session, typedAhead);
    std::string input;
    char buffer[16];
    while (input.size() < 4 && source.waitReadable(200)) input.append(buffer, source.read(buffer, sizeof buffer));
    EXPECT_EQ(input, "abcd");
    EXPECT_FALSE(session.lateReportExpected());
    session.end();
}

TEST(TerminalSession, UnansweredQueryGivesNothingAndALateAnswerNeverReachesTheProgram) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TerminalSession session(pty.slave, pty.slave);
    session.enterProgramMode();
    std::string typedAhead;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(session.queryCursor(100, typedAhead), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(session.lateReportExpected());
    pty.type("\x1b[3;4Rx");
    TerminalByteSource source(pty.slave, session, typedAhead);
    char buffer[16];
    ASSERT_TRUE(source.waitReadable(500));
    EXPECT_EQ(std::string(buffer, source.read(buffer, sizeof buffer)), "x");
    EXPECT_FALSE(session.lateReportExpected()) << "one late answer at most";
    session.end();
}

TEST(TerminalSession, QueryWorksWhenStandardInputIsNotTheTerminal) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    {
        TerminalSession session(pipeFds[0], pty.slave);
        EXPECT_FALSE(session.inputIsTerminal());
        std::string seen;
        std::thread terminal = answerQuery(pty, "", "\x1b[5;1R", "", &seen);
        std::string typedAhead;
        const std::optional<CursorPosition> position = session.queryCursor(1000, typedAhead);
        terminal.join();
        EXPECT_EQ(position, (CursorPosition{1, 5}));
        EXPECT_TRUE(typedAhead.empty());
        EXPECT_TRUE(sameSettings(pty.now(), pty.original)) << "the terminal opened for the query is left as found";
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(TerminalSession, DiscardingTypedAheadInputTellsWhoeverHoldsSomeDecoded) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TerminalSession session(pty.slave, pty.slave);
    session.enterProgramMode();
    pty.type("later");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    TerminalByteSource source(pty.slave, session, "typed");
    bool told = false;
    source.setOnDiscard([&told] { told = true; });
    source.discardPending();
    EXPECT_TRUE(told);
    EXPECT_FALSE(source.waitReadable(50)) << "both the bytes held and the terminal's queue are gone";
    session.end();
}

TEST(TerminalSession, CursorReportParsing) {
    CursorPosition position;
    std::string bytes = "x\x1b[1;5A\x1b[24;80Ry";
    ASSERT_TRUE(takeCursorReport(bytes, position));
    EXPECT_EQ(position, (CursorPosition{80, 24}));
    EXPECT_EQ(bytes, "x\x1b[1;5Ay");
    for (std::string notReport : {"\x1b[;5R", "\x1b[5R", "\x1b[5;R", "\x1b[5;5",
                                  "\x1b"
                                  "5;5R",
                                  "\x1b[1234567;1R"}) {
        EXPECT_FALSE(takeCursorReport(notReport, position)) << notReport.substr(1);
    }
}

// Runs body in a child process on the pty and gives its wait status.
template <typename Body>
int inChild(Pty& pty, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    (void)pty;
    return status;
}

// A child with the runner's signal handlers and a terminal session in program
// mode, with colours and a hidden cursor to undo.
TerminalSession& startChildSession(Pty& pty) {
    installStopSignals();
    auto* session = new TerminalSession(pty.slave, pty.slave);  // lives until the child ends
    session->enterProgramMode();
    TerminalSession::noteColoursChanged(true);
    TerminalSession::noteCursorHidden(true);
    return *session;
}

void expectRestoredAndKilled(Pty& pty, int status, int signal, const char* how) {
    const std::string written = pty.drain();
    EXPECT_TRUE(sameSettings(pty.now(), pty.original)) << how << " " << signal;
    EXPECT_NE(written.find("\x1b[0m\x1b[?25h"), std::string::npos) << how << " " << signal;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << how << " " << signal << " status " << status;
}

TEST(TerminalSession, StopSignalEndsTheRunAtABoundaryThenTheProcessWithTheTerminalRestored) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        Pty pty;
        ASSERT_TRUE(pty.ok());
        const int status = inChild(pty, [&] {
            TerminalSession& session = startChildSession(pty);
            ::raise(signal);
            // The machine stops at its next boundary; the terminal is untouched until the run ends.
            if (!stopRequested() || (pty.now().c_lflag & ICANON) != 0) ::_exit(5);
            // The run sequence then finishes the console (the terminal is restored) and
            // the signal ends the process.
            session.end();
            endByPendingStopSignal();
            ::_exit(6);
        });
        expectRestoredAndKilled(pty, status, signal, "one");
    }
}

TEST(TerminalSession, SecondStopSignalRestoresAndEndsAtOnce) {
    for (const int signal : {SIGINT, SIGTERM}) {
        Pty pty;
        ASSERT_TRUE(pty.ok());
        const int status = inChild(pty, [&] {
            startChildSession(pty);
            ::raise(signal);
            ::raise(signal);  // the user does not wait for the boundary
            ::_exit(7);
        });
        expectRestoredAndKilled(pty, status, signal, "two");
    }
}

TEST(TerminalSession, CrashRestoresTheTerminal) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizer builds leave crashes to the sanitizer's report";
#else
    for (const int signal : {SIGSEGV, SIGABRT}) {
        Pty pty;
        ASSERT_TRUE(pty.ok());
        const int status = inChild(pty, [&] {
            startChildSession(pty);
            if (signal == SIGABRT) std::abort();
            volatile int* nowhere = nullptr;
            *nowhere = 1;
            ::_exit(8);
        });
        expectRestoredAndKilled(pty, status, signal, "crash");
    }
#endif
}

TEST(TerminalSession, StopRestoresAndContinueTakesTheRunsModeBack) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);  // a job of its own, so that a stop is not discarded
        TerminalSession session(pty.slave, pty.slave);
        session.enterProgramMode();
        TerminalSession::noteCursorHidden(true);
        char byte = 'r';
        if (::write(fromChild[1], &byte, 1) != 1) ::_exit(3);
        while (::read(toChild[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::_exit(TerminalSession::takeContinued() ? 0 : 4);
    }
    char byte = 0;
    ASSERT_EQ(::read(fromChild[0], &byte, 1), 1);
    pty.drain(20);
    ::kill(child, SIGTSTP);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status));
    EXPECT_TRUE(sameSettings(pty.now(), pty.original)) << "stopped: the shell gets its terminal back";
    EXPECT_NE(pty.drain().find("\x1b[?25h"), std::string::npos);
    ::kill(child, SIGCONT);
    bool reentered = false;
    for (int i = 0; i < 200 && !reentered; ++i) {
        reentered = (pty.now().c_lflag & ICANON) == 0;
        if (!reentered) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(reentered) << "continued: the run's mode is back";
    EXPECT_NE(pty.drain().find("\x1b[?25l"), std::string::npos) << "and the cursor hidden again";
    ASSERT_EQ(::write(toChild[1], "x", 1), 1);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (const int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
}

TEST(TerminalSession, NothingHappensWithoutATerminal) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    {
        TerminalSession session(pipeFds[0], pipeFds[1]);
        session.enterProgramMode();
        std::string typedAhead;
        EXPECT_EQ(session.queryCursor(50, typedAhead), std::nullopt);
        TerminalSession::noteColoursChanged(true);
        session.end();
    }
    ::close(pipeFds[1]);
    char buffer[8];
    EXPECT_EQ(::read(pipeFds[0], buffer, sizeof buffer), 0) << "no escape sequence ever reaches a pipe";
    ::close(pipeFds[0]);
}

}  // namespace
}  // namespace lousa
