#pragma once
// Confines the calling process for good: it may read and write only inside
// one directory (Landlock), may not open sockets, start processes, run other
// programs or trace anyone (a seccomp filter), and runs under resource limits
// (setrlimit). No privileges are needed. Nothing here knows what the confined
// process is for; whoever calls apply() decides the box and the limits.
//
// Call apply() from a process with one thread (Landlock and the filter bind
// the calling thread and the threads it starts afterwards), after it has
// opened or read everything it needs from outside the box. The layers, in
// the order they are applied:
//   - no new privileges (PR_SET_NO_NEW_PRIVS): a set-user-id program could
//     not be gained anyway, and both kernel layers need it without privilege;
//   - Landlock: every file-system access the kernel's Landlock version can
//     handle is handled; the box gets read, write, create, remove, rename and
//     truncate beneath it, the read-only paths get reading; nothing else is
//     reachable by name (already open descriptors stay usable). TCP bind and
//     connect, abstract Unix sockets and signals to processes outside the
//     domain are handled too where the kernel knows them;
//   - no capabilities (a caller running as root keeps its user id only);
//   - resource limits: processor seconds (soft; the hard limit one second
//     above, so SIGXCPU comes before SIGKILL), address space, file size,
//     open files, and core dumps of size 0;
//   - the seccomp filter, last, since it also forbids raising those limits.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace lousa::sandbox {

struct Limits {                              // 0 = no limit
    double processorSeconds = 0;             // RLIMIT_CPU, rounded up to whole seconds
    std::uint64_t addressSpaceBytes = 0;     // RLIMIT_AS
    std::uint64_t fileSizeBytes = 0;         // RLIMIT_FSIZE
    std::uint64_t openFiles = 0;             // RLIMIT_NOFILE
};

struct Settings {
    std::string box;                    // the only directory the process may read and write
    std::vector<std::string> readOnly;  // further paths it may read (files or directories)
    Limits limits;
    bool allowWeak = false;  // go on without Landlock or without seccomp when the kernel lacks it
};

// What the kernel offers, or what apply() put in place.
struct Strength {
    int landlockAbi = 0;  // 0: no Landlock
    bool seccomp = false;
};

class SandboxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What this kernel offers; changes nothing.
Strength probe();

// Confines the calling process for good and returns what was put in place.
// Throws SandboxError, before changing anything, when the box is not a
// directory, a read-only path cannot be opened, or the kernel lacks Landlock
// or seccomp and !allowWeak. Throws SandboxError after a partial change when
// the kernel refuses a layer it claims to offer: the process must then end
// without running what it meant to confine.
Strength apply(const Settings& settings);

// apply() on a kernel that offers no more than `offered` (at most what
// probe() reports): tests use it to see what an older kernel would give.
Strength apply(const Settings& settings, Strength offered);

// The layers `offered` lacks, named for messages: empty when it has them
// all, else "Landlock", "seccomp filters" or "Landlock or seccomp filters".
std::string missingLayers(Strength offered);

// One line saying what apply() would give here, for reports and messages:
// "Landlock ABI 7, seccomp filter" or "no Landlock, seccomp filter".
std::string describe(Strength strength);

}  // namespace lousa::sandbox
