#pragma once
// A pseudo-terminal for tests: the test plays the terminal on the master side
// while the code under test uses the slave side as its terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

namespace lousa::test {

inline bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

struct Pty {
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        if (slave >= 0) ::tcgetattr(slave, &original);
    }
    ~Pty() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    bool ok() const { return slave >= 0; }
    void resize(int columns, int rows) const {
        winsize size{};
        size.ws_col = static_cast<unsigned short>(columns);
        size.ws_row = static_cast<unsigned short>(rows);
        ::ioctl(master, TIOCSWINSZ, &size);
    }
    termios now() const {
        termios settings{};
        ::tcgetattr(slave, &settings);
        return settings;
    }
    // What the program wrote to the terminal, read until it stays quiet for quietMs.
    std::string drain(int quietMs = 100) {
        std::string out;
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) return out;
            char buffer[512];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) return out;
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }
    void type(std::string_view bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    int master = -1;
    int slave = -1;
    termios original{};
};

}  // namespace lousa::test
