#pragma once
// A run that shows each instruction before it executes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vm/word.hpp"

namespace lousa {
class Interpretador;
}

namespace lousa::tool {

// One trace line: address, mnemonic, operands and sp, without a line end.
std::string traceLine(const Interpretador& machine);

// Runs the code as the runner does (process console, same end of run and
// final message) and writes a trace line to `trace` before each
// instruction. limit 0 means no limit; otherwise the run stops after that
// many instructions. Returns the number of instructions executed.
std::uint64_t traceProgram(std::vector<Word> code, const std::string& runnerDirectory, std::uint64_t limit,
                           std::FILE* trace);

}  // namespace lousa::tool
