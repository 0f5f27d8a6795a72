#include "sandbox/sandbox.hpp"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "sandbox/landlock_rules.hpp"
#include "sandbox/syscall_filter.hpp"

namespace lousa::sandbox {
namespace {

struct LimitValue {
    int resource;
    const char* name;
    rlim_t soft;
    rlim_t hard;
};

// The limits to set, checked and computed before anything changes.
std::vector<LimitValue> limitValues(const Limits& limits) {
    if (!(limits.processorSeconds >= 0) || limits.processorSeconds > 1e9)
        throw SandboxError("the processor limit must be a number of seconds, not negative");
    std::vector<LimitValue> values;
    if (limits.processorSeconds > 0) {
        // The soft limit sends SIGXCPU; the hard one, a second later, SIGKILL
        // for a process that ignores it.
        const auto seconds = static_cast<rlim_t>(std::ceil(limits.processorSeconds));
        values.push_back({RLIMIT_CPU, "processor", seconds, seconds + 1});
    }
    const auto add = [&values](int resource, const char* name, std::uint64_t value) {
        if (value > 0) values.push_back({resource, name, static_cast<rlim_t>(value), static_cast<rlim_t>(value)});
    };
    add(RLIMIT_AS, "address space", limits.addressSpaceBytes);
    add(RLIMIT_FSIZE, "file size", limits.fileSizeBytes);
    add(RLIMIT_NOFILE, "open files", limits.openFiles);
    values.push_back({RLIMIT_CORE, "core size", 0, 0});
    return values;
}

// Lowers one limit. A limit already below the one asked stays (only a
// privileged process could raise it, and it is stricter anyway).
void lower(const LimitValue& value) {
    rlimit current{};
    if (::getrlimit(value.resource, &current) != 0)
        throw SandboxError(std::string("cannot read the ") + value.name + " limit: " + std::strerror(errno));
    const rlimit wanted{std::min(value.soft, current.rlim_max), std::min(value.hard, current.rlim_max)};
    if (::setrlimit(value.resource, &wanted) != 0)
        throw SandboxError(std::string("cannot set the ") + value.name + " limit: " + std::strerror(errno));
}

// A caller running as root keeps root's user id but none of its
// capabilities; for any other caller this changes nothing.
void dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, none) != 0)
        throw SandboxError(std::string("cannot drop capabilities: ") + std::strerror(errno));
}

Strength weaker(Strength a, Strength b) { return {std::min(a.landlockAbi, b.landlockAbi), a.seccomp && b.seccomp}; }

}  // namespace

std::string missingLayers(Strength offered) {
    std::string missing;
    if (offered.landlockAbi == 0) missing = "Landlock";
    if (!offered.seccomp) missing += missing.empty() ? "seccomp filters" : " or seccomp filters";
    return missing;
}

Strength probe() { return {landlock::abiVersion(), filter::available()}; }

Strength apply(const Settings& settings) { return apply(settings, probe()); }

Strength apply(const Settings& settings, Strength offered) {
    offered = weaker(offered, probe());
    const std::vector<LimitValue> limits = limitValues(settings.limits);
    std::vector<landlock::PathGrant> grants = landlock::openGrants(settings.box, settings.readOnly);
    if (const std::string missing = missingLayers(offered); !missing.empty() && !settings.allowWeak)
        throw SandboxError("this kernel offers no " + missing + ", so the sandbox would be weaker than asked");

    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        throw SandboxError(std::string("cannot set no-new-privileges: ") + std::strerror(errno));
    if (offered.landlockAbi > 0) landlock::restrictSelf(grants, offered.landlockAbi);
    grants.clear();
    dropCapabilities();
    std::vector<sock_filter> program;
    if (offered.seccomp) program = filter::compile();

    for (const LimitValue& limit : limits) lower(limit);
    if (offered.seccomp) filter::install(program);
    return offered;
}

std::string describe(Strength strength) {
    std::string text = strength.landlockAbi > 0 ? "Landlock ABI " + std::to_string(strength.landlockAbi) : "no Landlock";
    text += strength.seccomp ? ", seccomp filter" : ", no seccomp filter";
    return text;
}

}  // namespace lousa::sandbox
