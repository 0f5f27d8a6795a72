#pragma once
// The seccomp filter: the system calls a confined runner never needs.
//
// Two answers. Calls that libraries make on harmless paths and cope with
// when refused (a socket for a name-service lookup or syslog, raising a
// resource limit) fail with EPERM. Calls that this runner and its libraries
// never make (starting a process or a program, tracing, reaching into
// another process's memory or descriptors, the kernel's rarer attack
// surface: io_uring, bpf, userfaultfd, keys, mounts and namespaces, modules;
// and what only a privileged caller could do: reboot, swap, the clock, the
// host name, port access, accounting, the kernel log) end the process at
// once with SIGSYS: only code that has taken over the process gets there,
// and it gets no second try, while the parent sees plainly what happened.
// clone3 answers ENOSYS, so that thread creation falls back to clone, whose
// flags the filter can read (a clone without CLONE_THREAD is a new process).

#include <linux/filter.h>

#include <vector>

namespace lousa::sandbox::filter {

// Whether the kernel can install a filter with both answers.
bool available();

// The filter as the kernel's BPF program. Built before the resource limits
// are set, since building it allocates memory.
std::vector<sock_filter> compile();

// Installs a compiled filter for good (one system call, no allocation).
void install(const std::vector<sock_filter>& program);

}  // namespace lousa::sandbox::filter
