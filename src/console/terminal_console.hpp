#pragma once
// Terminal mode of the process console, picked by makeProcessConsole when
// standard output is a terminal.

#include <memory>

#include "console/console.hpp"

namespace lousa {

// A console drawing on the terminal at outputFd and reading inputFd: the
// terminal session (modes, signals, start-up cursor query), the terminal
// backend, decoded keys and, when inputFd is a terminal too, the line editor.
// Without colours no colour sequence is written. Null when outputFd is not a
// terminal.
std::unique_ptr<Console> makeTerminalConsole(int inputFd, int outputFd, bool colours = true);

}  // namespace lousa
