#pragma once
// How the runner ends on a signal without losing anything.
//
// Stop signals are every signal whose default action ends the process
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE from a closed output pipe,
// SIGXCPU from a CPU-time limit, SIGALRM, SIGUSR1, the real-time signals...;
// endingSignals() lists them): the handler only records the signal and
// clears the `running` flag of the current run (its stop target), so the
// machine stops at the next instruction boundary. Every wait (a read, a
// write into a full pipe, a pause) ends at once: see stoppable_wait.hpp.
// The run sequence then unwinds as after HALT: the program's files are flushed and
// closed, the terminal is restored, and endByPendingStopSignal() re-raises
// the signal with its default disposition, so the process ends as that
// signal dictates (a shell sees "killed by SIGINT", not status 0). The
// run-time error text is not written after a stop.
//
// A second stop signal while the first is still pending does not wait for
// the boundary any more: it flushes the files' buffers, restores the
// terminal and ends the process at once. A signal that was ignored when the
// runner started (nohup, a background job) stays ignored.
//
// Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT) raised
// by the runner's own code: the terminal is restored and the signal
// re-raised at once; nothing else is trusted after a fault. The same signals
// sent by another process are stop signals. Sanitizer builds leave SIGSEGV,
// SIGBUS, SIGFPE, SIGILL and SIGABRT to the sanitizer's own reports.
//
// SIGKILL cannot be caught: the runner writes out the program's files before
// every wait instead, so a run killed while it waits has them on disk.
//
// This is the one set of handlers for these signals in the process: the
// terminal session does not install its own, it registers its
// async-signal-safe restore with setTerminalRestore() while it has the
// terminal changed (job control, SIGTSTP/SIGCONT and SIGWINCH, stay with it).

#include <csignal>
#include <vector>

namespace lousa {

class Interpretador;

// Every signal whose default action ends the process and that a process can
// catch: the set the handlers cover.
[[nodiscard]] std::vector<int> endingSignals();
// The stop signals among them (all but the faults), for blocking around a wait.
[[nodiscard]] const sigset_t& stopSignalSet();

using SignalSafeAction = void (*)() noexcept;

// Installs the handlers (once; later calls do nothing until uninstall).
void installStopSignals();
// Puts back the dispositions found at install time, clears any pending stop.
void uninstallStopSignals();

// The stop signal received and not yet acted on, or 0.
[[nodiscard]] int pendingStopSignal() noexcept;
[[nodiscard]] inline bool stopRequested() noexcept { return pendingStopSignal() != 0; }

// The machine a stop signal stops: the one this process runs now, or
// nullptr between runs. One run at a time per process receives signals;
// other runs (a grader's, a test's) are stopped through requestStop().
void setStopTarget(Interpretador* machine) noexcept;

// Makes a machine the stop target for a scope, then puts back the previous
// one. A signal received before the scope began stops the machine too.
class StopTargetScope {
public:
    explicit StopTargetScope(Interpretador& machine) noexcept;
    ~StopTargetScope();
    StopTargetScope(const StopTargetScope&) = delete;
    StopTargetScope& operator=(const StopTargetScope&) = delete;

private:
    Interpretador* previous_;
};

// Restores the terminal (async-signal-safe); nullptr when nothing to restore.
void setTerminalRestore(SignalSafeAction restore) noexcept;
// Writes out the program's buffered file data (async-signal-safe); used only
// on the second-signal and emergency paths. nullptr for none.
void setFileFlush(SignalSafeAction flush) noexcept;

// With a stop signal pending: restores its default disposition and raises
// it, ending the process. Returns only when no stop signal is pending.
void endByPendingStopSignal();

}  // namespace lousa
