// Stop signals end a run at an instruction boundary, cut blocking reads and
// pauses short, and then end the process by the same signal; a second stop
// signal and fatal signals save what they can and end it at once.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "console/console.hpp"
#include "console/input_reader.hpp"
#include "loader/run_sequence.hpp"
#include "loader/stop_signals.hpp"
#include "vm/interpretador.hpp"

namespace lousa {
namespace {

class StopSignals : public ::testing::Test {
protected:
    void SetUp() override { installStopSignals(); }
    void TearDown() override {
        uninstallStopSignals();
        setTerminalRestore(nullptr);
        setFileFlush(nullptr);
        setStopTarget(nullptr);
    }
};

// Sends the signal to the test's own thread after a short while, as a user
// pressing Ctrl+C while that thread is blocked.
std::thread signalLater(int signal, pthread_t target, int afterMs = 150) {
    return std::thread([=] {
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        pthread_kill(target, signal);
    });
}

void sayFlushed() noexcept { (void)!::write(2, "flushed;", 8); }
void sayRestored() noexcept { (void)!::write(2, "restored;", 9); }

TEST_F(StopSignals, StopSignalIsRecordedAndStopsTheTargetRunOnly) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        uninstallStopSignals();
        installStopSignals();
        Interpretador target({43}, "", nullptr);
        Interpretador other({43}, "", nullptr);
        target.running.store(true);
        other.running.store(true);
        const StopTargetScope stops(target);
        raise(signal);
        EXPECT_EQ(pendingStopSignal(), signal);
        EXPECT_FALSE(target.running.load());
        EXPECT_TRUE(other.running.load()) << "a signal stops only the process's current run";
    }
}

TEST_F(StopSignals, SignalBeforeTheRunStartsStillStopsIt) {
    // ENTER_JUMP 1 100 4; word 4: JUMP 4, forever: only the stop can end it.
    Interpretador m({94, 1, 100, 4, 60, 4}, "", nullptr);
    raise(SIGTERM);
    const StopTargetScope stops(m);
    m.run();
    EXPECT_FALSE(m.runtimeErrorRaised);
    EXPECT_EQ(m.pc, 0);
}

TEST_F(StopSignals, MachineStopsAtTheNextInstructionBoundary) {
    // ENTER_JUMP 1 100 4; word 4: JUMP 4, forever.
    Interpretador m({94, 1, 100, 4, 60, 4}, "", nullptr);
    const StopTargetScope stops(m);
    std::thread sender = signalLater(SIGTERM, pthread_self(), 100);
    const auto start = std::chrono::steady_clock::now();
    m.run();
    sender.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(pendingStopSignal(), SIGTERM);
    EXPECT_FALSE(m.runtimeErrorRaised);
    EXPECT_EQ(m.pc, 4);  // between two instructions, at the loop
}

TEST_F(StopSignals, BlockedReadReturnsAsEndOfInput) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);  // the write end stays open: a read would block for ever
    FdByteSource source(fds[0]);
    std::thread sender = signalLater(SIGINT, pthread_self());
    char buffer[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(source.read(buffer, sizeof buffer), 0U);
    EXPECT_TRUE(source.waitReadable(-1));
    sender.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    close(fds[0]);
    close(fds[1]);
}

TEST_F(StopSignals, DelayIsCutShort) {
    const int devNull = open("/dev/null", O_RDWR);
    ASSERT_GE(devNull, 0);
    std::unique_ptr<Console> console = makePlainConsole(devNull, devNull);
    std::thread sender = signalLater(SIGTERM, pthread_self());
    const auto start = std::chrono::steady_clock::now();
    console->delay(20000);
    sender.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    console.reset();
    close(devNull);
}

TEST_F(StopSignals, NothingRunsOnceStopped) {
    raise(SIGHUP);
    const RunOutcome outcome = runCode({4}, "", nullptr);  // the invalid instruction never runs
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.finalMessage.empty());
}

TEST_F(StopSignals, IgnoredSignalStaysIgnored) {
    uninstallStopSignals();
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction before {};
    sigaction(SIGHUP, &ignore, &before);
    installStopSignals();
    raise(SIGHUP);
    EXPECT_EQ(pendingStopSignal(), 0);
    uninstallStopSignals();
    struct sigaction after {};
    sigaction(SIGHUP, &before, &after);
    EXPECT_EQ(after.sa_handler, SIG_IGN);  // uninstall left it as found
}

using StopSignalsDeathTest = StopSignals;

TEST_F(StopSignalsDeathTest, PendingStopEndsTheProcessByThatSignal) {
    EXPECT_EXIT(
        {
            raise(SIGINT);
            endByPendingStopSignal();
            _exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
    // Nothing pending: it returns.
    endByPendingStopSignal();
    SUCCEED();
}

TEST_F(StopSignalsDeathTest, SecondStopSignalSavesFilesAndTerminalThenEnds) {
    EXPECT_EXIT(
        {
            setFileFlush(sayFlushed);
            setTerminalRestore(sayRestored);
            raise(SIGTERM);
            raise(SIGTERM);
            _exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "flushed;restored;");
}

// Sanitizer builds leave fatal signals to the sanitizer's reports.
#if defined(__SANITIZE_ADDRESS__)
#define LOUSA_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOUSA_TEST_SANITIZED 1
#endif
#endif
#ifndef LOUSA_TEST_SANITIZED
TEST_F(StopSignalsDeathTest, FatalSignalRestoresTheTerminalAndEnds) {
    EXPECT_EXIT(
        {
            setTerminalRestore(sayRestored);
            raise(SIGFPE);
            _exit(0);
        },
        ::testing::KilledBySignal(SIGFPE), "restored;");
}
#endif

}  // namespace
}  // namespace lousa
