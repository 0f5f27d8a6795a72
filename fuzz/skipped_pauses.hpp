#pragma once
// A program may pause for up to 24 days; the fuzzer cannot wait. Calls from
// the machine resolve to these definitions instead of the C library's (or a
// sanitizer's): a sleep returns at once, and so does a wait on no descriptor,
// which is how DELAY pauses; a wait on descriptors goes to the kernel as usual.
// Include it in exactly one source file of a fuzz target.

#include <csignal>
#include <ctime>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" int nanosleep(const struct timespec*, struct timespec* remaining) {
    if (remaining != nullptr) *remaining = {};
    return 0;
}

extern "C" int ppoll(struct pollfd* fds, nfds_t count, const struct timespec* timeout, const sigset_t* mask) {
    if (count == 0) return 0;  // a pause: its time has passed
    struct timespec left {};
    if (timeout != nullptr) left = *timeout;  // the kernel writes back what is left
    return static_cast<int>(syscall(SYS_ppoll, fds, count, timeout != nullptr ? &left : nullptr, mask, _NSIG / 8));
}
