#include "sandbox/syscall_filter.hpp"

#include <linux/seccomp.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "sandbox/sandbox.hpp"
#include "sandbox/unique_fd.hpp"

namespace lousa::sandbox::filter {
namespace {

// Calls refused with EPERM: libraries make them on harmless paths.
constexpr int kRefused[] = {
    SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(connect), SCMP_SYS(bind),
    SCMP_SYS(listen), SCMP_SYS(accept),     SCMP_SYS(accept4), SCMP_SYS(setrlimit),
};

// Calls that end the process: nothing legitimate in a confined runner makes them.
constexpr int kFatal[] = {
    SCMP_SYS(fork),          SCMP_SYS(vfork),           SCMP_SYS(execve),         SCMP_SYS(execveat),
    SCMP_SYS(ptrace),        SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(kcmp),
    SCMP_SYS(unshare),       SCMP_SYS(setns),           SCMP_SYS(mount),          SCMP_SYS(umount2),
    SCMP_SYS(pivot_root),    SCMP_SYS(chroot),          SCMP_SYS(fsopen),         SCMP_SYS(fsmount),
    SCMP_SYS(move_mount),    SCMP_SYS(open_tree),       SCMP_SYS(bpf),            SCMP_SYS(perf_event_open),
    SCMP_SYS(userfaultfd),   SCMP_SYS(keyctl),          SCMP_SYS(add_key),        SCMP_SYS(request_key),
    SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register), SCMP_SYS(open_by_handle_at),
    SCMP_SYS(kexec_load),    SCMP_SYS(kexec_file_load), SCMP_SYS(init_module),    SCMP_SYS(finit_module),
    SCMP_SYS(delete_module), SCMP_SYS(pidfd_getfd),     SCMP_SYS(process_madvise),
    // What only a privileged process could do, for a caller that runs as root.
    SCMP_SYS(reboot),        SCMP_SYS(swapon),          SCMP_SYS(swapoff),        SCMP_SYS(settimeofday),
    SCMP_SYS(clock_settime), SCMP_SYS(clock_adjtime),   SCMP_SYS(adjtimex),       SCMP_SYS(sethostname),
    SCMP_SYS(setdomainname), SCMP_SYS(iopl),            SCMP_SYS(ioperm),         SCMP_SYS(acct),
    SCMP_SYS(quotactl),      SCMP_SYS(syslog),          SCMP_SYS(vhangup),
};

struct ContextRelease {
    void operator()(scmp_filter_ctx context) const { seccomp_release(context); }
};
using Context = std::unique_ptr<void, ContextRelease>;

void check(int result, const char* what) {
    if (result < 0) throw SandboxError(std::string("cannot build the system call filter (") + what + "): " +
                                       std::strerror(-result));
}

// One comparison of a call's argument. Written out rather than with the
// library's SCMP_A0..SCMP_A5 macros, whose compound literals are not C++.
scmp_arg_cmp argument(unsigned index, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
    scmp_arg_cmp comparison{};
    comparison.arg = index;
    comparison.op = op;
    comparison.datum_a = a;
    comparison.datum_b = b;
    return comparison;
}

void addRules(scmp_filter_ctx context) {
    for (const int call : kRefused) check(seccomp_rule_add(context, SCMP_ACT_ERRNO(EPERM), call, 0), "refusal");
    for (const int call : kFatal) check(seccomp_rule_add(context, SCMP_ACT_KILL_PROCESS, call, 0), "fatal call");
    // A clone without CLONE_THREAD makes a process; with it, a thread.
    check(seccomp_rule_add(context, SCMP_ACT_KILL_PROCESS, SCMP_SYS(clone), 1,
                           argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)),
          "clone");
    check(seccomp_rule_add(context, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0), "clone3");
    // prlimit64 also reads limits (getrlimit uses it): refuse only setting one.
    check(seccomp_rule_add(context, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(prlimit64), 1, argument(2, SCMP_CMP_NE, 0)),
          "prlimit64");
}

// Asks the kernel whether it knows a filter action, without installing anything.
bool actionKnown(std::uint32_t action) {
    return ::syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
}

}  // namespace

bool available() { return actionKnown(SECCOMP_RET_KILL_PROCESS) && actionKnown(SECCOMP_RET_ERRNO); }

std::vector<sock_filter> compile() {
    const Context context(seccomp_init(SCMP_ACT_ALLOW));
    if (!context) throw SandboxError("cannot build the system call filter: out of memory");
    // Calls made through another architecture's entry (32-bit, x32) would
    // pass rules written for the native one: they end the process.
    check(seccomp_attr_set(context.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS), "architectures");
    addRules(context.get());

    // libseccomp writes the program to a descriptor; a memory file holds it.
    const UniqueFd memory(::memfd_create("lousa-seccomp", MFD_CLOEXEC));
    if (!memory.valid()) throw SandboxError(std::string("cannot build the system call filter: ") + std::strerror(errno));
    check(seccomp_export_bpf(context.get(), memory.get()), "export");
    const off_t size = ::lseek(memory.get(), 0, SEEK_END);
    if (size <= 0 || size % static_cast<off_t>(sizeof(sock_filter)) != 0 ||
        size > static_cast<off_t>(BPF_MAXINSNS * sizeof(sock_filter)))
        throw SandboxError("cannot build the system call filter: bad program size");
    std::vector<sock_filter> program(static_cast<std::size_t>(size) / sizeof(sock_filter));
    if (::pread(memory.get(), program.data(), static_cast<std::size_t>(size), 0) != size)
        throw SandboxError("cannot build the system call filter: program not read back");
    return program;
}

void install(const std::vector<sock_filter>& program) {
    sock_fprog header{};
    header.len = static_cast<unsigned short>(program.size());
    header.filter = const_cast<sock_filter*>(program.data());
    if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &header) != 0)
        throw SandboxError(std::string("cannot install the system call filter: ") + std::strerror(errno));
}

}  // namespace lousa::sandbox::filter
