#include "loader/standard_descriptors.hpp"

#include <cerrno>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

namespace lousa {

namespace {

bool isClosed(int fd) { return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

// The lowest free number is taken, which is `fd` itself while the lower
// ones are open; dup2 covers any other case.
void fill(int fd) {
    int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened < 0) opened = ::open("/", O_RDONLY | O_DIRECTORY);
    if (opened < 0 || opened == fd) return;
    ::dup2(opened, fd);
    ::close(opened);
}

}  // namespace

int openClosedStandardDescriptors() noexcept {
    int closed = 0;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (!isClosed(fd)) continue;
        ++closed;
        fill(fd);
    }
    return closed;
}

}  // namespace lousa
