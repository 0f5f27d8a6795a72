#include "console/terminal_capabilities.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace lousa {
namespace {

TEST(TerminalCapabilities, CursorAddressingFromTermAndTerminfo) {
    struct Case {
        std::optional<std::string> term;
        bool cursorAddressing;
    };
    const Case cases[] = {
        {std::nullopt, false},           // TERM unset
        {"", false},
        {"dumb", false},
        {"xterm", true},
        {"linux", true},
        {"screen", true},
        {"no-such-terminal-type", true},  // unknown to terminfo: taken as a usual terminal
    };
    for (const Case& c : cases) {
        EXPECT_EQ(terminalCapabilities(c.term, std::nullopt).cursorAddressing, c.cursorAddressing)
            << c.term.value_or("(unset)");
    }
}

// Two descriptions of our own, compiled by tic into a database of the test's
// own: the entry, not the name, decides.
TEST(TerminalCapabilities, TerminfoEntryWithoutCursorAddressingMeansNoCursor) {
    char directory[] = "/tmp/lousa-terminfo-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string base = directory;
    {
        std::ofstream source(base + "/entries.src");
        source << "lousa-nocup|no cursor addressing,\n\tcols#80, lines#24, bel=^G, cr=\\r,\n"
               << "lousa-cup|cursor addressing,\n\tcols#80, lines#24, bel=^G, cr=\\r, cup=\\E[%i%p1%d;%p2%dH,\n";
    }
    const std::string compile = "tic -x -o '" + base + "' '" + base + "/entries.src' 2>/dev/null";
    if (std::system(compile.c_str()) != 0) GTEST_SKIP() << "tic could not compile the test entries";
    const char* previous = std::getenv("TERMINFO");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("TERMINFO", base.c_str(), 1);
    EXPECT_FALSE(terminalCapabilities("lousa-nocup", std::nullopt).cursorAddressing);
    EXPECT_TRUE(terminalCapabilities("lousa-cup", std::nullopt).cursorAddressing);
    if (previous != nullptr) {
        ::setenv("TERMINFO", saved.c_str(), 1);
    } else {
        ::unsetenv("TERMINFO");
    }
    std::filesystem::remove_all(base);
}

TEST(TerminalCapabilities, NoColorTurnsColoursOffWhenNotEmpty) {
    struct Case {
        std::optional<std::string> noColor;
        bool colours;
    };
    for (const Case& c : {Case{std::nullopt, true}, Case{"", true}, Case{"1", false}, Case{"0", false}}) {
        const TerminalCapabilities capabilities = terminalCapabilities("xterm", c.noColor);
        EXPECT_EQ(capabilities.colours, c.colours) << c.noColor.value_or("(unset)");
        EXPECT_TRUE(capabilities.cursorAddressing) << "NO_COLOR changes nothing else";
    }
}

}  // namespace
}  // namespace lousa
