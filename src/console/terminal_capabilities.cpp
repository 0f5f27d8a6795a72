#include "console/terminal_capabilities.hpp"

#include <cstdlib>

// Last: the terminfo header defines macros with common names (columns, lines).
#include <term.h>

namespace lousa {

namespace {

// Whether the terminfo entry of the type has cursor addressing; nullopt when
// the database has no entry for it.
std::optional<bool> terminfoCanAddressCursor(const std::string& term) {
    int status = 0;
    // The description is read without touching any terminal (fd -1) and
    // released at once: nothing of ncurses stays behind.
    if (::setupterm(term.c_str(), -1, &status) != 0) {
        if (status == 1) return false;  // a hardcopy terminal
        return std::nullopt;            // no entry, or no database
    }
    char* cup = ::tigetstr(const_cast<char*>("cup"));
    const bool can = cup != nullptr && cup != reinterpret_cast<char*>(-1);
    TERMINAL* loaded = ::set_curterm(nullptr);
    if (loaded != nullptr) ::del_curterm(loaded);
    return can;
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace

TerminalCapabilities terminalCapabilities(const std::optional<std::string>& term,
                                          const std::optional<std::string>& noColor) {
    TerminalCapabilities capabilities;
    capabilities.colours = !noColor || noColor->empty();
    if (!term || term->empty() || *term == "dumb") return capabilities;
    capabilities.cursorAddressing = terminfoCanAddressCursor(*term).value_or(true);
    return capabilities;
}

TerminalCapabilities environmentTerminalCapabilities() {
    return terminalCapabilities(environment("TERM"), environment("NO_COLOR"));
}

}  // namespace lousa
