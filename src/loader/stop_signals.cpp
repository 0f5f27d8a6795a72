#include "loader/stop_signals.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <unistd.h>

#include "vm/interpretador.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define LOUSA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOUSA_SANITIZED 1
#endif
#endif

namespace lousa {

namespace {

constexpr std::array kStopSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
constexpr std::array kFatalSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

std::atomic<int> pendingSignal{0};
std::atomic<SignalSafeAction> terminalRestore{nullptr};
std::atomic<SignalSafeAction> fileFlush{nullptr};
std::atomic<Interpretador*> stopTarget{nullptr};

bool installed = false;
std::array<struct sigaction, kStopSignals.size()> previousStop{};
std::array<bool, kStopSignals.size()> handledStop{};
std::array<struct sigaction, kFatalSignals.size()> previousFatal{};
bool handledFatal = false;


void restoreTerminal() noexcept {
    if (const SignalSafeAction restore = terminalRestore.load()) restore();
}

// Default disposition, unblocked, raised: the process ends as the signal says.
void dieBy(int signal) noexcept {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);  // only if the default action did not end the process
}

void onStopSignal(int signal) {
    const int savedErrno = errno;
    int expected = 0;
    if (pendingSignal.compare_exchange_strong(expected, signal)) {
        if (Interpretador* target = stopTarget.load()) target->requestStop();
        errno = savedErrno;
        return;
    }
    // A second signal: the machine did not reach a boundary (or the user
    // will not wait for it). Save what can be saved and go.
    if (const SignalSafeAction flush = fileFlush.load()) flush();
    restoreTerminal();
    dieBy(signal);
}

#ifndef LOUSA_SANITIZED
// The fatal handler runs here, so that a fault caused by a stack overflow
// can still restore the terminal.
alignas(16) std::array<char, 64 * 1024> alternateStack;

void onFatalSignal(int signal) {
    restoreTerminal();
    dieBy(signal);
}
#endif

}  // namespace

void installStopSignals() {
    if (installed) return;
    installed = true;
    pendingSignal.store(0);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        handledStop[i] = false;
        if (sigaction(kStopSignals[i], nullptr, &previousStop[i]) != 0) continue;
        if (previousStop[i].sa_handler == SIG_IGN) continue;  // nohup and background jobs keep ignoring
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: a blocked read returns with EINTR
        handledStop[i] = sigaction(kStopSignals[i], &action, nullptr) == 0;
    }
#ifndef LOUSA_SANITIZED
    stack_t stack{};
    stack.ss_sp = alternateStack.data();
    stack.ss_size = alternateStack.size();
    sigaltstack(&stack, nullptr);
    for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
        struct sigaction action {};
        action.sa_handler = onFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
        sigaction(kFatalSignals[i], &action, &previousFatal[i]);
    }
    handledFatal = true;
#endif
}

void uninstallStopSignals() {
    if (!installed) return;
    installed = false;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        if (handledStop[i]) sigaction(kStopSignals[i], &previousStop[i], nullptr);
    if (handledFatal) {
        for (std::size_t i = 0; i < kFatalSignals.size(); ++i) sigaction(kFatalSignals[i], &previousFatal[i], nullptr);
        handledFatal = false;
    }
    pendingSignal.store(0);
}

int pendingStopSignal() noexcept { return pendingSignal.load(); }

void setTerminalRestore(SignalSafeAction restore) noexcept { terminalRestore.store(restore); }

void setFileFlush(SignalSafeAction flush) noexcept { fileFlush.store(flush); }

void setStopTarget(Interpretador* machine) noexcept { stopTarget.store(machine); }

StopTargetScope::StopTargetScope(Interpretador& machine) noexcept : previous_(stopTarget.exchange(&machine)) {
    if (pendingSignal.load() != 0) machine.requestStop();
}

StopTargetScope::~StopTargetScope() { stopTarget.store(previous_); }

void endByPendingStopSignal() {
    const int signal = pendingSignal.load();
    if (signal == 0) return;
    dieBy(signal);
}

}  // namespace lousa
