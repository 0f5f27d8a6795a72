// The sandbox's real effect: a child process confines itself, then tries
// something; what the kernel answered (or the signal that ended the child)
// comes back through a pipe.

#include "sandbox/sandbox.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace lousa::sandbox {
namespace {

namespace fs = std::filesystem;

// What happened in the child: apply refused, or the attempt's errno (0 when
// it succeeded), or the signal that ended the child.
struct Outcome {
    bool refused = false;
    int error = 0;
    int signal = 0;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    if (o.refused) return out << "apply refused";
    if (o.signal) return out << "killed by " << strsignal(o.signal);
    return out << (o.error ? std::strerror(o.error) : "succeeded");
}

Outcome succeeded() { return {}; }
Outcome failedWith(int error) { return {false, error, 0}; }
Outcome killedBy(int signal) { return {false, 0, signal}; }
Outcome refused() { return {true, 0, 0}; }

// An attempt returns 0 on success or the errno it met.
using Attempt = std::function<int()>;

int result(long value) { return value < 0 ? errno : 0; }
int openResult(const fs::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

Outcome inConfinedChild(const Settings& settings, Strength offered, const Attempt& attempt) {
    int channel[2];
    if (::pipe(channel) != 0) throw std::runtime_error("pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        int report[2] = {1, 0};
        try {
            apply(settings, offered);
            report[1] = attempt();
        } catch (const SandboxError&) {
            report[0] = 0;
        }
        (void)!::write(channel[1], report, sizeof report);
        ::_exit(0);  // no exit handlers: they belong to the parent
    }
    ::close(channel[1]);
    int report[2] = {-1, 0};
    const ssize_t got = ::read(channel[0], report, sizeof report);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return killedBy(WTERMSIG(status));
    if (got != static_cast<ssize_t>(sizeof report)) throw std::runtime_error("the child reported nothing");
    return report[0] == 0 ? refused() : failedWith(report[1]);
}

// A box with a file, a folder and a link out; beside it a folder outside
// the box and one granted for reading only.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("lousa-sandbox-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        box = root / "box";
        outside = root / "outside";
        shelf = root / "shelf";
        fs::remove_all(root);
        fs::create_directories(box / "folder");
        fs::create_directories(outside);
        fs::create_directories(shelf);
        write(box / "inside.txt", "inside");
        write(outside / "secret.ans", "42");
        write(shelf / "table.txt", "table");
        write(outside / "granted.txt", "granted");
        fs::create_symlink("../outside/secret.ans", box / "link.txt");
        settings.box = box;
        settings.readOnly = {shelf, outside / "granted.txt"};
        settings.allowWeak = true;  // each test skips when the layer it checks is missing
    }
    void TearDown() override { fs::remove_all(root); }

    static void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string read(const fs::path& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path root;
    fs::path box;
    fs::path outside;
    fs::path shelf;
    Settings settings;
};

struct Case {
    const char* what;
    Attempt attempt;
    Outcome expected;
};

TEST_F(SandboxTest, FilesOnlyInsideTheBox) {
    const std::vector<Case> cases = {
        {"read inside", [&] { return openResult(box / "inside.txt", O_RDONLY); }, succeeded()},
        {"create inside", [&] { return openResult(box / "new.txt", O_CREAT | O_WRONLY); },
         succeeded()},
        {"create a folder inside", [&] { return result(::mkdir((box / "sub").c_str(), 0755)); },
         succeeded()},
        {"move between folders inside",
         [&] { return result(::rename((box / "inside.txt").c_str(), (box / "folder/moved.txt").c_str())); },
         succeeded()},
        {"remove inside", [&] { return result(::unlink((box / "inside.txt").c_str())); },
         succeeded()},
        {"read outside", [&] { return openResult(outside / "secret.ans", O_RDONLY); },
         failedWith(EACCES)},
        {"write outside", [&] { return openResult(outside / "secret.ans", O_WRONLY); },
         failedWith(EACCES)},
        {"create outside", [&] { return openResult(outside / "new.txt", O_CREAT | O_WRONLY); },
         failedWith(EACCES)},
        {"truncate outside", [&] { return result(::truncate((outside / "secret.ans").c_str(), 0)); },
         failedWith(EACCES)},
        {"list outside", [&] { return openResult(outside, O_RDONLY | O_DIRECTORY); },
         failedWith(EACCES)},
        {"up and out", [&] { return openResult(box / "../outside/secret.ans", O_RDONLY); },
         failedWith(EACCES)},
        {"symbolic link out", [&] { return openResult(box / "link.txt", O_RDONLY); },
         failedWith(EACCES)},
        {"move out of the box",
         [&] { return result(::rename((box / "inside.txt").c_str(), (outside / "taken.txt").c_str())); },
         failedWith(EACCES)},
        {"make a link inside",
         [&] { return result(::symlink("/etc/passwd", (box / "new-link").c_str())); }, failedWith(EACCES)},
        {"read the read-only shelf", [&] { return openResult(shelf / "table.txt", O_RDONLY); },
         succeeded()},
        {"write the read-only shelf", [&] { return openResult(shelf / "table.txt", O_WRONLY); },
         failedWith(EACCES)},
        {"read a file granted alone", [&] { return openResult(outside / "granted.txt", O_RDONLY); }, succeeded()},
        {"write a file granted alone", [&] { return openResult(outside / "granted.txt", O_WRONLY); },
         failedWith(EACCES)},
        {"system files", [&] { return openResult("/etc/passwd", O_RDONLY); }, failedWith(EACCES)},
    };
    const Strength kernel = probe();
    if (kernel.landlockAbi == 0) GTEST_SKIP() << "this kernel has no Landlock";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();  // a fresh box for each case
        SetUp();
        EXPECT_EQ(inConfinedChild(settings, kernel, c.attempt), c.expected);
    }
    EXPECT_EQ(read(outside / "secret.ans"), "42");
}

TEST_F(SandboxTest, NoSocketsProcessesOrTracing) {
    const std::vector<Case> cases = {
        {"internet socket", [] { return result(::socket(AF_INET, SOCK_STREAM, 0)); },
         failedWith(EPERM)},
        {"local socket", [] { return result(::socket(AF_UNIX, SOCK_STREAM, 0)); }, failedWith(EPERM)},
        {"socket pair",
         [] {
             int pair[2];
             return result(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
         },
         failedWith(EPERM)},
        {"fork",
         [] {
             const pid_t pid = ::fork();
             if (pid == 0) ::_exit(0);
             return result(pid);
         },
         killedBy(SIGSYS)},
        {"run a program",
         [] {
             char* const argv[] = {const_cast<char*>("true"), nullptr};
             return result(::execve("/bin/true", argv, environ));
         },
         killedBy(SIGSYS)},
        {"trace", [] { return result(::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr)); },
         killedBy(SIGSYS)},
        {"socket through the x32 entry",
         [] { return result(::syscall(0x40000000 | SYS_socket, AF_INET, SOCK_STREAM, 0)); }, killedBy(SIGSYS)},
        {"raise a limit back",
         [] {
             const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
             return result(::setrlimit(RLIMIT_CORE, &unlimited));
         },
         failedWith(EPERM)},
        {"read a limit",
         [] {
             rlimit current{};
             return result(::getrlimit(RLIMIT_CORE, &current));
         },
         succeeded()},
        {"a privileged call", [] { return result(::sethostname("x", 1)); }, killedBy(SIGSYS)},
        {"capabilities kept", [] {
             __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
             __user_cap_data_struct held[_LINUX_CAPABILITY_U32S_3] = {};
             if (::syscall(SYS_capget, &header, held) != 0) return errno;
             return held[0].effective | held[1].effective | held[0].permitted | held[1].permitted ? EPERM : 0;
         },
         succeeded()},
        {"a thread",
         [] {
             int value = 0;
             std::thread([&value] { value = 1; }).join();
             return value == 1 ? 0 : EINVAL;
         },
         succeeded()},
    };
    const Strength kernel = probe();
    if (!kernel.seccomp) GTEST_SKIP() << "this kernel does not allow seccomp filters";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(inConfinedChild(settings, kernel, c.attempt), c.expected);
    }
}

TEST_F(SandboxTest, ResourceLimits) {
    struct LimitCase {
        const char* what;
        Limits limits;
        Attempt attempt;
        Outcome expected;
    };
    const std::vector<LimitCase> cases = {
        {"file size", {0, 0, 1000, 0},
         [&] {
             const int fd = ::open((box / "big").c_str(), O_CREAT | O_WRONLY, 0644);
             const std::string block(600, 'x');
             for (int i = 0; i < 4; ++i)  // the first write fits, the second is cut short, the third fails
                 if (::write(fd, block.data(), block.size()) < 0) return errno;
             return 0;
         },
         killedBy(SIGXFSZ)},
        {"open files", {0, 0, 0, 16},
         [&] {
             for (int i = 0; i < 32; ++i)
                 if (::open((box / "inside.txt").c_str(), O_RDONLY) < 0) return errno;
             return 0;
         },
         failedWith(EMFILE)},
        {"processor", {0.2, 0, 0, 0},
         [] {
             while (true) {  // spins (a volatile store each turn) until the limit ends it
                 volatile int spin = 0;
                 (void)spin;
             }
             return 0;
         },
         killedBy(SIGXCPU)},
        {"no core dumps", {},
         [] {
             rlimit core{};
             ::getrlimit(RLIMIT_CORE, &core);
             return core.rlim_cur == 0 && core.rlim_max == 0 ? 0 : EINVAL;
         },
         succeeded()},
#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer reserves terabytes of address space at start
        {"address space", {0, 64u << 20, 0, 0},
         [] {
             // Kept in a volatile: clang removes an allocation that is only freed.
             void* volatile block = std::malloc(256u << 20);
             std::free(block);
             return block ? 0 : ENOMEM;
         },
         failedWith(ENOMEM)},
#endif
    };
    const Strength kernel = probe();
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.what);
        settings.limits = c.limits;
        EXPECT_EQ(inConfinedChild(settings, kernel, c.attempt), c.expected);
    }
}

// An older kernel (told to apply() as what it offers) gives what its version can.
TEST_F(SandboxTest, WeakerKernels) {
    const Strength kernel = probe();
    if (kernel.landlockAbi == 0) GTEST_SKIP() << "this kernel has no Landlock";
    const Attempt readOutside = [&] { return openResult(outside / "secret.ans", O_RDONLY); };
    const Attempt writeInside = [&] { return openResult(box / "new.txt", O_CREAT | O_WRONLY); };
    // Every version up to the kernel's builds a working ruleset.
    for (int abi = 1; abi <= kernel.landlockAbi; ++abi) {
        SCOPED_TRACE("Landlock ABI " + std::to_string(abi));
        settings.allowWeak = !kernel.seccomp;
        EXPECT_EQ(inConfinedChild(settings, {abi, kernel.seccomp}, readOutside), failedWith(EACCES));
        EXPECT_EQ(inConfinedChild(settings, {abi, kernel.seccomp}, writeInside), succeeded());
    }
    // Version 1 never allows moving a file to another folder.
    EXPECT_EQ(inConfinedChild(settings, {1, kernel.seccomp},
                              [&] {
                                  return result(
                                      ::rename((box / "inside.txt").c_str(), (box / "folder/moved.txt").c_str()));
                              }),
              failedWith(EXDEV));

    // Landlock's own network and signal rules, seen with the filter left out.
    settings.allowWeak = true;
    const Attempt connectTcp = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(1);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return result(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    };
    const Attempt signalParent = [] { return result(::kill(::getppid(), 0)); };
    for (int abi = 1; abi <= kernel.landlockAbi; ++abi) {
        SCOPED_TRACE("Landlock ABI " + std::to_string(abi));
        EXPECT_EQ(inConfinedChild(settings, {abi, false}, connectTcp),
                  failedWith(abi >= 4 ? EACCES : ECONNREFUSED));
        EXPECT_EQ(inConfinedChild(settings, {abi, false}, signalParent), failedWith(abi >= 6 ? EPERM : 0));
    }

    // Without Landlock: refused, unless a weak sandbox is allowed, which then
    // keeps no file out of reach.
    settings.allowWeak = false;
    EXPECT_EQ(inConfinedChild(settings, {0, kernel.seccomp}, readOutside), refused());
    EXPECT_EQ(inConfinedChild(settings, {kernel.landlockAbi, false}, readOutside), refused());
    settings.allowWeak = true;
    EXPECT_EQ(inConfinedChild(settings, {0, kernel.seccomp}, readOutside), succeeded());
}

TEST_F(SandboxTest, BadSettingsRefusedBeforeAnythingChanges) {
    const Strength kernel = probe();
    settings.allowWeak = true;
    const auto refusal = [&](const Settings& s) {
        try {
            apply(s, kernel);
        } catch (const SandboxError& e) {
            return std::string(e.what());
        }
        return std::string("applied");
    };
    // These throw before changing anything, so the test process stays free.
    Settings missingBox = settings;
    missingBox.box = (root / "nowhere").string();
    EXPECT_NE(refusal(missingBox).find("nowhere"), std::string::npos);
    Settings fileBox = settings;
    fileBox.box = (box / "inside.txt").string();
    EXPECT_NE(refusal(fileBox).find("not a directory"), std::string::npos);
    Settings missingShelf = settings;
    missingShelf.readOnly.push_back((root / "no-shelf").string());
    EXPECT_NE(refusal(missingShelf).find("no-shelf"), std::string::npos);
    Settings negative = settings;
    negative.limits.processorSeconds = -1;
    EXPECT_NE(refusal(negative).find("processor"), std::string::npos);
    // Still unconfined: a file outside every box opens.
    EXPECT_EQ(openResult(outside / "secret.ans", O_RDONLY), 0);
}

}  // namespace
}  // namespace lousa::sandbox
