#pragma once
// What the terminal on standard output can do, as far as the run cares: move
// the cursor (else the console uses plain mode) and show colours (else no
// colour sequence is written).
//
// The terminal's type comes from TERM and its capabilities from the terminfo
// database (through the ncurses library): an unset or empty TERM, "dumb", and
// a type whose entry has no cursor addressing cannot move the cursor. A type
// the database does not know is taken to be a usual ECMA-48 terminal. Colours
// are off when NO_COLOR is set to anything but the empty string.

#include <optional>
#include <string>

namespace lousa {

struct TerminalCapabilities {
    bool cursorAddressing = false;
    bool colours = false;
};

// For a terminal type (nullopt: TERM unset) and a NO_COLOR value (nullopt: unset).
TerminalCapabilities terminalCapabilities(const std::optional<std::string>& term,
                                          const std::optional<std::string>& noColor);

// The same from the process's environment.
TerminalCapabilities environmentTerminalCapabilities();

}  // namespace lousa
