#pragma once
// 'lousa grade': parses the command line, shows progress and the summary;
// the grading itself lives in src/grading.

#include "tools/command_line.hpp"

namespace lousa::tool {

extern const std::string_view kGradeHelp;
int commandGrade(const Arguments& args);

}  // namespace lousa::tool
