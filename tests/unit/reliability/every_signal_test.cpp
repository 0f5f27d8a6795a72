// Every signal whose default action ends the process, sent while a run in a
// terminal computes or waits: the program's files are on disk, the terminal
// is restored (settings, cursor, colours) and the process ends by that
// signal.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "loader/run_sequence.hpp"
#include "loader/stop_signals.hpp"
#include "tools/assembler.hpp"
#include "unit/files/temp_dir.hpp"
#include "unit/terminal/pty.hpp"

namespace lousa {
namespace {

// Counted independently of the runner's list: every signal but those whose
// default is to be ignored or to stop the process, SIGKILL, and the two the
// C library keeps below SIGRTMIN.
std::set<int> signalsThatEndAProcess() {
    const std::set<int> notEnding{SIGKILL, SIGSTOP, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT, SIGCHLD, SIGURG, SIGWINCH};
    std::set<int> ending;
    for (int s = 1; s <= SIGRTMAX; ++s)
        if (notEnding.count(s) == 0 && (s < 32 || s >= SIGRTMIN)) ending.insert(s);
    return ending;
}

bool leftToSanitizer([[maybe_unused]] int signal) {
#if defined(__SANITIZE_ADDRESS__)
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL || signal == SIGABRT;
#else
    return false;
#endif
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The program of tests/hostile/ways_out: a text file and a typed file with a
// few buffered bytes each; then a hidden cursor and a colour to undo, and
// "pronto"; then a long DELAY or an endless loop.
std::vector<Word> program(bool busy) {
    std::string listing = readFile(LOUSA_SOURCE_DIR "/tests/hostile/ways_out/files.inc");
    listing += "    CURSOR 1\n    PUSH 14\n    TEXT_COLOR\n    PUSH_STR \"pronto\"\n    CON_WRITE 6\n    PUSH 0\n    DELAY\n";
    listing += busy ? "loop:\n    JUMP loop\n" : "    PUSH 600000\n    DELAY\n    HALT\n";
    tool::AsmResult assembled = tool::assemble(listing);
    EXPECT_TRUE(assembled.ok());
    return assembled.code;
}

struct Outcome {
    int status = 0;
    std::string screen;  // everything the run wrote to the terminal
};

// Runs the program in a child on the pty, answers its cursor query, sends
// the signal once "pronto" shows, and collects what follows.
Outcome runAndSignal(test::Pty& pty, const std::vector<Word>& code, const std::string& directory, int signal) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::dup2(pty.slave, STDIN_FILENO);
        ::dup2(pty.slave, STDOUT_FILENO);
        runnerMainWithCode(code, directory);
        ::_exit(0);
    }
    Outcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (outcome.screen.find("pronto") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        const std::size_t before = outcome.screen.size();
        outcome.screen += pty.drain(20);
        if (outcome.screen.find("\x1b[6n", before) != std::string::npos) pty.type("\x1b[1;1R");
    }
    ::kill(child, signal);
    int waited = 0;
    while (::waitpid(child, &outcome.status, WNOHANG) == 0) {
        if (++waited > 500) {  // 5 s: it did not end
            ::kill(child, SIGKILL);
            ::waitpid(child, &outcome.status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    outcome.screen += pty.drain(20);
    return outcome;
}

TEST(EverySignal, TheHandlersCoverExactlyTheSignalsThatEndAProcess) {
    const std::vector<int> handled = endingSignals();
    EXPECT_EQ(std::set<int>(handled.begin(), handled.end()), signalsThatEndAProcess());
}

TEST(EverySignal, FilesOnDiskTerminalRestoredAndEndedByThatSignal) {
    const std::vector<Word> asleep = program(false);
    const std::vector<Word> busy = program(true);
    bool alternate = false;
    for (const int signal : signalsThatEndAProcess()) {
        if (leftToSanitizer(signal)) continue;
        alternate = !alternate;
        test::TempDir dir;
        test::Pty pty;
        ASSERT_TRUE(pty.ok());
        const Outcome outcome = runAndSignal(pty, alternate ? asleep : busy, dir.withSeparator(), signal);
        const std::string what = std::string(alternate ? "asleep, " : "busy, ") + strsignal(signal);
        EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == signal)
            << what << ": status " << outcome.status;
        EXPECT_EQ(readFile(dir.file("t.txt")), "12345\r\nfim") << what;
        EXPECT_EQ(readFile(dir.file("d.bin")), "\x78\x56\x34\x12") << what;
        EXPECT_TRUE(test::sameSettings(pty.now(), pty.original)) << what << ": terminal settings";
        const std::size_t shown = outcome.screen.find("pronto");
        EXPECT_NE(outcome.screen.find("\x1b[?25h", shown), std::string::npos) << what << ": cursor";
        EXPECT_NE(outcome.screen.find("\x1b[0m", shown), std::string::npos) << what << ": colours";
    }
}

}  // namespace
}  // namespace lousa
