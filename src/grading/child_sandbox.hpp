#pragma once
// How a child run confines itself once it stands in its box: resource
// limits, then the kernel's sandbox. Throws std::runtime_error when it
// cannot, and nothing of the program runs.

#include <string>

#include "grading/child_run.hpp"

namespace lousa::grading {

void confineChild(const RunRequest& request);

}  // namespace lousa::grading

namespace lousa::grading {

// What the kernel can confine here, said once per session.
struct SandboxReport {
    int landlockAbi = 0;
    bool seccomp = false;
    bool strong = false;  // the file system is confined to the box
    std::string note;     // in words, for the reports
};

SandboxReport probeSandbox();

}  // namespace lousa::grading
