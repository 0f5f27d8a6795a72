#include "loader/stop_signals.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <unistd.h>
#include <vector>

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

// Faults the kernel raises for the runner's own code (a bad address, an
// illegal instruction, a breakpoint trap, a refused system call, our own
// abort): nothing is trusted after them. The same signals sent by another
// process (kill -TRAP, a grader's SIGSYS) are requests to stop like any other.
bool isFault(int signal) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
        case SIGFPE:
        case SIGILL:
        case SIGTRAP:
        case SIGSYS:
        case SIGABRT:
            return true;
        default:
            return false;
    }
}

// Sanitizer builds leave these to the sanitizer's own reports.
bool leftToSanitizer([[maybe_unused]] int signal) {
#ifdef LOUSA_SANITIZED
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL || signal == SIGABRT;
#else
    return false;
#endif
}

std::atomic<int> pendingSignal{0};
std::atomic<SignalSafeAction> terminalRestore{nullptr};
std::atomic<SignalSafeAction> fileFlush{nullptr};
std::atomic<Interpretador*> stopTarget{nullptr};

bool installed = false;
// Indexed by signal number: what was there before install, and whether ours replaced it.
std::array<struct sigaction, NSIG> previous{};
std::array<bool, NSIG> handled{};

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

void onSignal(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    const bool sentByAnother = info != nullptr && info->si_code <= 0 && info->si_pid != getpid();
    if (isFault(signal) && !sentByAnother) {
        restoreTerminal();
        dieBy(signal);
    }
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
// Handlers run here, so that a fault caused by a stack overflow can still
// restore the terminal.
alignas(16) std::array<char, 64 * 1024> alternateStack;
#endif

}  // namespace

std::vector<int> endingSignals() {
    std::vector<int> signals{SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS, SIGFPE,
                             SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,   SIGTERM, SIGXCPU, SIGXFSZ,
                             SIGVTALRM, SIGPROF, SIGIO, SIGSYS};
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
    return signals;
}

const sigset_t& stopSignalSet() {
    // Built once: every wait blocks these, and the list does not change.
    static const sigset_t set = [] {
        sigset_t stops;
        sigemptyset(&stops);
        for (const int signal : endingSignals())
            if (!isFault(signal)) sigaddset(&stops, signal);
        return stops;
    }();
    return set;
}

void installStopSignals() {
    if (installed) return;
    installed = true;
    pendingSignal.store(0);
#ifndef LOUSA_SANITIZED
    stack_t stack{};
    stack.ss_sp = alternateStack.data();
    stack.ss_size = alternateStack.size();
    sigaltstack(&stack, nullptr);
#endif
    for (const int signal : endingSignals()) {
        handled[signal] = false;
        if (leftToSanitizer(signal)) continue;
        if (sigaction(signal, nullptr, &previous[signal]) != 0) continue;
        if (previous[signal].sa_handler == SIG_IGN) continue;  // nohup and background jobs keep ignoring
        struct sigaction action {};
        action.sa_sigaction = onSignal;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a blocked system call returns with EINTR. No
        // SA_NODEFER: a fault inside the handler ends the process at once.
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        handled[signal] = sigaction(signal, &action, nullptr) == 0;
    }
}

void uninstallStopSignals() {
    if (!installed) return;
    installed = false;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (handled[signal]) sigaction(signal, &previous[signal], nullptr);
        handled[signal] = false;
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
