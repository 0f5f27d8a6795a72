#include "loader/stoppable_wait.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>

#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "loader/stop_signals.hpp"

namespace lousa {

namespace {

constexpr long kNanosPerMs = 1000000L;

timespec now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

// What is left of a wait of timeoutMs begun at `start`; false when nothing.
bool remainingOf(const timespec& start, int timeoutMs, timespec& left) {
    const timespec t = now();
    const long long elapsedNs =
        (static_cast<long long>(t.tv_sec) - start.tv_sec) * 1000000000LL + (t.tv_nsec - start.tv_nsec);
    const long long leftNs = static_cast<long long>(timeoutMs) * kNanosPerMs - elapsedNs;
    if (leftNs <= 0) return false;
    left.tv_sec = static_cast<time_t>(leftNs / 1000000000LL);
    left.tv_nsec = static_cast<long>(leftNs % 1000000000LL);
    return true;
}

bool readyNow(int fd, short events) {
    pollfd p{fd, events, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n != 0;  // an error counts as ready: the write reports it
}

// Regular files and block devices never make a write wait.
bool neverWaits(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

}  // namespace

WaitResult waitUnlessStopped(int fd, short events, int timeoutMs) {
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &stopSignalSet(), &before);
    const timespec start = now();
    WaitResult result = WaitResult::Ready;
    for (bool first = true;; first = false) {
        if (stopRequested()) {
            result = WaitResult::Stopped;
            break;
        }
        timespec left{};  // a timeout of 0 still looks once
        if (timeoutMs >= 0 && !remainingOf(start, timeoutMs, left) && !first) {
            result = WaitResult::TimedOut;
            break;
        }
        pollfd p{fd, events, 0};
        const int n = ::ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, timeoutMs >= 0 ? &left : nullptr, &before);
        if (n > 0) break;
        if (n == 0) {
            result = WaitResult::TimedOut;
            break;
        }
        if (errno != EINTR) break;  // the read or write that follows reports it
        // Interrupted: by a stop signal (seen at the top) or another one
        // (a resize, a continue), after which the wait goes on.
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return result;
}

bool pauseUnlessStopped(int milliseconds) {
    if (milliseconds <= 0) return !stopRequested();
    return waitUnlessStopped(-1, 0, milliseconds) != WaitResult::Stopped;
}

std::size_t readUnlessStopped(int fd, char* buffer, std::size_t capacity) {
    for (;;) {
        if (waitUnlessStopped(fd, POLLIN, -1) == WaitResult::Stopped) return 0;
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR && errno != EAGAIN) return 0;
    }
}

std::size_t writeUnlessStopped(int fd, const char* data, std::size_t size, int& error,
                               const std::function<void()>& beforeWait) {
    error = 0;
    std::size_t done = 0;
    const bool mayWait = !neverWaits(fd);
    while (done < size) {
        std::size_t chunk = size - done;
        if (mayWait) {
            if (!readyNow(fd, POLLOUT)) {
                if (stopRequested()) {
                    error = EAGAIN;
                    break;
                }
                if (beforeWait) beforeWait();
                if (waitUnlessStopped(fd, POLLOUT, -1) == WaitResult::Stopped) continue;  // one more look, no wait
            }
            chunk = std::min<std::size_t>(chunk, PIPE_BUF);  // what room for one write guarantees
        }
        const ssize_t n = ::write(fd, data + done, chunk);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            error = errno;
            break;
        }
        if (n == 0) {
            error = EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void writeWithoutWaiting(int fd, const char* data, std::size_t size) noexcept {
    const int savedErrno = errno;
    std::size_t done = 0;
    while (done < size) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) <= 0) break;
        const ssize_t n = ::write(fd, data + done, std::min<std::size_t>(size - done, PIPE_BUF));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    errno = savedErrno;
}

}  // namespace lousa
