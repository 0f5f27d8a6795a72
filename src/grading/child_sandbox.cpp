#include "grading/child_sandbox.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/resource.h>

#include "sandbox/sandbox.hpp"

namespace lousa::grading {

namespace {

void limit(int resource, rlim_t soft, rlim_t hard, const char* what) {
    const rlimit value{soft, hard};
    if (::setrlimit(resource, &value) != 0)
        throw std::runtime_error(std::string("cannot limit ") + what + ": " + std::strerror(errno));
}

// Limits without the kernel's confinement (runs made with the sandbox off).
void applyLimitsOnly(const sandbox::Limits& l) {
    const auto seconds = static_cast<rlim_t>(std::ceil(l.processorSeconds));
    limit(RLIMIT_CPU, seconds, seconds + 1, "processor time");
    limit(RLIMIT_FSIZE, l.fileSizeBytes, l.fileSizeBytes, "file size");
    limit(RLIMIT_NOFILE, l.openFiles, l.openFiles, "open files");
    limit(RLIMIT_CORE, 0, 0, "core dumps");
    if (l.addressSpaceBytes != 0) limit(RLIMIT_AS, l.addressSpaceBytes, l.addressSpaceBytes, "memory");
}

#if !defined(__SANITIZE_ADDRESS__)
// The address space the grader's own image already holds: the program's
// memory limit comes on top of it.
rlim_t currentAddressSpace() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (statm) {
        if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return static_cast<rlim_t>(pages) * 4096;
}
#endif

}  // namespace

void confineChild(const RunRequest& request) {
    const RunLimits& l = request.limits;
    sandbox::Settings settings;
    settings.box = request.box.string();
    settings.readOnly = request.sandbox.readOnly;
    settings.allowWeak = request.sandbox.allowWeak;
    settings.limits.processorSeconds = l.processorSeconds;
    settings.limits.fileSizeBytes = l.outputBytes;
    settings.limits.openFiles = l.openFiles;
#if !defined(__SANITIZE_ADDRESS__)
    // The machine's own ceiling (the memory limit) ends a hog with the memory
    // message; the address space, with room for the machine's bookkeeping
    // beside it, catches what the ceiling does not count. The address
    // sanitizer reserves terabytes of address space, so its builds rely on
    // the ceiling alone.
    settings.limits.addressSpaceBytes = currentAddressSpace() + l.memoryBytes + l.memoryBytes / 2 + (64ULL << 20);
#endif
    if (!request.sandbox.enabled) {
        applyLimitsOnly(settings.limits);
        return;
    }
    sandbox::apply(settings);
}

}  // namespace lousa::grading

namespace lousa::grading {

SandboxReport probeSandbox() {
    const sandbox::Strength strength = sandbox::probe();
    SandboxReport report;
    report.landlockAbi = strength.landlockAbi;
    report.seccomp = strength.seccomp;
    report.strong = strength.landlockAbi > 0 && strength.seccomp;
    report.note = sandbox::describe(strength);
    if (!report.strong) report.note += ": the kernel cannot confine the runs to their boxes";
    return report;
}

}  // namespace lousa::grading
