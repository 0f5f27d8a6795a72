#pragma once
// Landlock through its raw system calls: which version the kernel speaks,
// and a ruleset that leaves the process one writable box and a few
// read-only paths.

#include <string>
#include <vector>

#include "sandbox/unique_fd.hpp"

namespace lousa::sandbox::landlock {

// The kernel's Landlock ABI version; 0 when Landlock is missing or disabled.
int abiVersion();

// A path the ruleset grants, held open (O_PATH) from before the process is
// confined until the rules are in the kernel.
struct PathGrant {
    std::string path;
    UniqueFd fd;
    bool directory = false;
    bool writable = false;
};

// Opens the box (which must be a directory) and the read-only paths;
// throws SandboxError naming the first path that cannot be granted.
std::vector<PathGrant> openGrants(const std::string& box, const std::vector<std::string>& readOnly);

// Confines the calling thread to the grants, handling every access right
// that ABI version `abi` knows. Needs no-new-privileges set first.
void restrictSelf(const std::vector<PathGrant>& grants, int abi);

}  // namespace lousa::sandbox::landlock
