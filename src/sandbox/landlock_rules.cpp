#include "sandbox/landlock_rules.hpp"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "sandbox/sandbox.hpp"

// Rights of later Landlock versions, for system headers older than the
// running kernel. The values are the kernel's ABI and never change.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif

namespace lousa::sandbox::landlock {
namespace {

constexpr std::uint64_t kNetBindTcp = 1ULL << 0;
constexpr std::uint64_t kNetConnectTcp = 1ULL << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ULL << 0;
constexpr std::uint64_t kScopeSignal = 1ULL << 1;

// The ruleset attribute as the newest kernels read it; older ones are given
// the prefix they know (its size tells the kernel which fields follow).
struct RulesetAttr {
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0;  // version 4
    std::uint64_t scoped = 0;            // version 6
};

std::size_t attrSizeFor(int abi) {
    if (abi >= 6) return sizeof(RulesetAttr);
    if (abi >= 4) return offsetof(RulesetAttr, scoped);
    return offsetof(RulesetAttr, handledAccessNet);
}

// Every file-system right the version can handle: what is not handled is
// allowed everywhere, so the set is as wide as the kernel permits.
std::uint64_t handledFsAccess(int abi) {
    std::uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // versions 1: execute .. make symlink
    if (abi >= 2) rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5) rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return rights;
}

// What the box allows: ordinary files and directories, read, written,
// made, removed and renamed inside it. Not execution, devices, pipes,
// sockets or symbolic links.
constexpr std::uint64_t kBoxAccess = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                     LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                                     LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_DIR |
                                     LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_REFER |
                                     LANDLOCK_ACCESS_FS_TRUNCATE;
constexpr std::uint64_t kReadDirectoryAccess = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
// Rules on a file may carry file rights only.
constexpr std::uint64_t kFileRights =
    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
    LANDLOCK_ACCESS_FS_TRUNCATE | LANDLOCK_ACCESS_FS_IOCTL_DEV;

[[noreturn]] void fail(const std::string& what) {
    throw SandboxError(what + ": " + std::strerror(errno));
}

PathGrant openGrant(const std::string& path, bool writable) {
    PathGrant grant{path, UniqueFd(::open(path.c_str(), O_PATH | O_CLOEXEC)), false, writable};
    if (!grant.fd.valid()) fail("cannot open " + path + " for the sandbox");
    struct stat info {};
    if (::fstat(grant.fd.get(), &info) != 0) fail("cannot examine " + path);
    grant.directory = S_ISDIR(info.st_mode);
    if (writable && !grant.directory) throw SandboxError("the sandbox box " + path + " is not a directory");
    return grant;
}

}  // namespace

int abiVersion() {
    const long version = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return version > 0 ? static_cast<int>(version) : 0;
}

std::vector<PathGrant> openGrants(const std::string& box, const std::vector<std::string>& readOnly) {
    if (box.empty()) throw SandboxError("the sandbox needs a box directory");
    std::vector<PathGrant> grants;
    grants.push_back(openGrant(box, true));
    for (const std::string& path : readOnly) grants.push_back(openGrant(path, false));
    return grants;
}

void restrictSelf(const std::vector<PathGrant>& grants, int abi) {
    RulesetAttr attr;
    attr.handledAccessFs = handledFsAccess(abi);
    if (abi >= 4) attr.handledAccessNet = kNetBindTcp | kNetConnectTcp;  // no rule: no TCP at all
    if (abi >= 6) attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    const UniqueFd ruleset(static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, attrSizeFor(abi), 0)));
    if (!ruleset.valid()) fail("cannot create the Landlock ruleset");

    for (const PathGrant& grant : grants) {
        std::uint64_t access = grant.writable ? kBoxAccess : kReadDirectoryAccess;
        if (!grant.directory) access &= kFileRights;
        landlock_path_beneath_attr rule{};
        rule.allowed_access = access & attr.handledAccessFs;
        rule.parent_fd = grant.fd.get();
        if (::syscall(SYS_landlock_add_rule, ruleset.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0)
            fail("cannot add the Landlock rule for " + grant.path);
    }
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) fail("cannot enforce the Landlock ruleset");
}

}  // namespace lousa::sandbox::landlock
