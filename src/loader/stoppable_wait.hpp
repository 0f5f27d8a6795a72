#pragma once
// Waits that end at the first stop signal.
//
// A handler cannot cut short a system call that has not begun yet: a signal
// that arrives between "is a stop pending?" and a blocking read would leave
// the read waiting for ever. So every wait checks for a stop with the stop
// signals blocked and then waits in ppoll, which unblocks them for exactly
// the time of the wait: a signal either came before the check (and is seen)
// or interrupts the wait. No descriptor and no state of its own is needed,
// the handlers keep SA_RESTART off, and the read or write that follows a
// successful wait does not block (at most PIPE_BUF bytes are written after
// the descriptor reports room).
//
// Once a stop is pending nothing waits: writes put out what fits without
// waiting and drop the rest, reads report the end.

#include <cstddef>
#include <functional>

namespace lousa {

enum class WaitResult { Ready, TimedOut, Stopped };

// Waits until fd is ready for `events` (POLLIN, POLLOUT), timeoutMs passes
// (negative: no limit) or a stop signal is pending. fd < 0 only pauses.
// An error on the descriptor counts as ready: the read or write reports it.
WaitResult waitUnlessStopped(int fd, short events, int timeoutMs);

// Sleeps for the given time; false when a stop signal cut it short.
bool pauseUnlessStopped(int milliseconds);

// Reads what fd has, waiting for at least one byte; 0 at the end of the
// input, on an error, or once a stop is pending.
std::size_t readUnlessStopped(int fd, char* buffer, std::size_t capacity);

// Writes every byte, waiting while fd is full; once a stop signal is
// pending, writes only what goes without waiting. beforeWait, when given,
// runs before each real wait. Returns the number of bytes written; `error`
// gets the errno value of a failed write, or EAGAIN when a stop left bytes
// unwritten, else 0.
std::size_t writeUnlessStopped(int fd, const char* data, std::size_t size, int& error,
                               const std::function<void()>& beforeWait = {});

// The same, from a signal handler: writes only what goes without waiting.
void writeWithoutWaiting(int fd, const char* data, std::size_t size) noexcept;

}  // namespace lousa
