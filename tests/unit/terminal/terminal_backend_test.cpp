#include "console/terminal_backend.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "console/code_page.hpp"
#include "unit/terminal/pty.hpp"
#include "unit/terminal/vt_screen.hpp"

namespace lousa {
namespace {

using test::VtScreen;

// The SGR colours an attribute must show with (independent of the backend's
// own arithmetic): DOS colour n is ANSI colour kAnsi[n].
constexpr int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
int expectedForeground(std::uint8_t attribute) {
    if (attribute == 7) return VtScreen::kDefault;
    const int fg = attribute & 15;
    return (fg < 8 ? 30 : 90) + kAnsi[fg & 7];
}
int expectedBackground(std::uint8_t attribute) {
    if (attribute == 7) return VtScreen::kDefault;
    const int bg = attribute >> 4;
    return (bg < 8 ? 40 : 100) + kAnsi[bg & 7];
}

std::string glyph(std::uint8_t byte) {
    std::string text;
    appendUtf8(text, glyphOfCp850(byte));
    return text;
}

// A model drawn by a backend into a string, and a terminal fed with it.
struct Rig {
    explicit Rig(int columns = 20, int rows = 6, TerminalCharset charset = TerminalCharset::utf8(),
                 std::optional<CursorPosition> start = CursorPosition{1, 1})
        : screen(columns, rows), backend(sink, charset, TerminalSize{columns, rows}), vt(columns, rows) {
        backend.attach(screen, start);
        screen.setObserver(&backend);
    }
    // Shows what was done to the model, as the console does after each operation.
    void present() {
        backend.present();
        vt.feed(sink);
        sink.clear();
    }
    void write(std::string_view text) {
        screen.write(text);
        present();
    }
    // Every cell of the terminal shows the model's cell, in its colours.
    void expectSameAsModel(const std::string& context) {
        ASSERT_TRUE(vt.errors().empty()) << context << ": " << vt.errors().front();
        for (int row = 1; row <= screen.rows(); ++row) {
            for (int column = 1; column <= screen.columns(); ++column) {
                const Cell& cell = screen.cellAt(column, row);
                const VtScreen::VtCell& shown = vt.at(column, row);
                ASSERT_EQ(shown.glyph, glyph(cell.character)) << context << " at " << column << "," << row;
                ASSERT_EQ(shown.foreground, expectedForeground(cell.attribute))
                    << context << " at " << column << "," << row;
                ASSERT_EQ(shown.background, expectedBackground(cell.attribute))
                    << context << " at " << column << "," << row;
            }
        }
        ASSERT_EQ(vt.column(), screen.cursorColumn()) << context;
        ASSERT_EQ(vt.row(), screen.cursorRow()) << context;
        ASSERT_EQ(vt.cursorVisible(), screen.cursorVisible()) << context;
    }

    std::string sink;
    ScreenModel screen;
    TerminalBackend backend;
    VtScreen vt;
};

TEST(TerminalBackend, RandomConsoleOperationsLeaveTheTerminalShowingTheModel) {
    for (const auto& size : {std::pair{20, 6}, std::pair{7, 3}, std::pair{1, 1}}) {
        Rig rig(size.first, size.second);
        rig.screen.clearWindow();
        rig.present();
        std::mt19937 random(1234);
        auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
        for (int step = 0; step < 3000; ++step) {
            std::string what;
            switch (pick(0, 11)) {
                case 0:
                case 1:
                case 2: {
                    std::string text;
                    for (int n = pick(1, 30); n > 0; --n) {
                        const int kind = pick(0, 9);
                        text += kind == 0   ? '\r'
                                : kind == 1 ? '\n'
                                : kind == 2 ? '\b'
                                            : static_cast<char>(pick(0, 255));
                    }
                    rig.screen.write(text);
                    what = "write";
                    break;
                }
                case 3:
                    rig.screen.gotoXY(pick(0, size.first + 1), pick(0, size.second + 1));
                    what = "gotoxy";
                    break;
                case 4: {
                    const int left = pick(1, size.first);
                    const int top = pick(1, size.second);
                    rig.screen.setWindow(left, top, pick(left, size.first), pick(top, size.second));
                    what = "window";
                    break;
                }
                case 5:
                    if (pick(0, 3) == 0) rig.screen.setWindow(1, 1, size.first, size.second);
                    what = "whole window";
                    break;
                case 6:
                    rig.screen.clearWindow();
                    what = "clear";
                    break;
                case 7:
                    rig.screen.clearToEndOfLine();
                    what = "clreol";
                    break;
                case 8:
                    rig.screen.insertLine();
                    what = "insline";
                    break;
                case 9:
                    rig.screen.deleteLine();
                    what = "delline";
                    break;
                case 10:
                    rig.screen.setAttribute(pick(0, 3) == 0 ? 7 : static_cast<std::uint8_t>(pick(0, 255)));
                    what = "colour";
                    break;
                case 11:
                    rig.screen.setCursorVisible(pick(0, 1) == 1);
                    what = "cursor";
                    break;
            }
            rig.present();
            rig.expectSameAsModel("step " + std::to_string(step) + " (" + what + ")");
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(TerminalBackend, FullScreenScrollingGoesToTheTerminalsScrollback) {
    Rig rig(20, 5);
    for (int line = 1; line <= 12; ++line) rig.write("line " + std::to_string(line) + "\r\n");
    ASSERT_TRUE(rig.vt.errors().empty()) << rig.vt.errors().front();
    // The terminal scrolled itself: the first lines are in its scrollback, in order.
    ASSERT_EQ(rig.vt.scrollback().size(), 8U);
    EXPECT_EQ(rig.vt.scrollback()[0].substr(0, 6), "line 1");
    EXPECT_EQ(rig.vt.scrollback()[7].substr(0, 6), "line 8");
    EXPECT_EQ(rig.vt.rowText(4).substr(0, 7), "line 12");
    EXPECT_EQ(rig.vt.row(), 5);
}

TEST(TerminalBackend, SubWindowScrollsByRedrawAndKeepsTheRestOfTheScreen) {
    Rig rig(20, 6);
    rig.write("top line");
    rig.screen.setWindow(5, 3, 12, 4);
    for (int line = 1; line <= 5; ++line) rig.write("w" + std::to_string(line) + "\r\n");
    EXPECT_TRUE(rig.vt.scrollback().empty()) << "a sub-window must not scroll the terminal";
    EXPECT_EQ(rig.vt.rowText(1).substr(0, 8), "top line");
    EXPECT_EQ(rig.vt.rowText(3).substr(4, 8), "w5      ");
    // Outside the window nothing was drawn at all: the terminal's old contents stay.
    EXPECT_EQ(rig.vt.rowText(3).substr(0, 4), "~~~~");
    EXPECT_EQ(rig.vt.rowText(6), std::string(20, '~'));
}

TEST(TerminalBackend, ProgramWithoutColoursNeverChangesTheTerminalsColours) {
    Rig rig(10, 3);
    rig.write("plain text that wraps and scrolls\r\n\a");
    rig.screen.clearWindow();
    rig.present();
    rig.backend.finish();
    rig.vt.feed(rig.sink);
    EXPECT_EQ(rig.sink.find("\x1b[0;"), std::string::npos);
    EXPECT_EQ(rig.vt.bells(), 1);
    EXPECT_TRUE(rig.vt.errors().empty());
}

TEST(TerminalBackend, ColoursAndHiddenCursorAreUndoneAtTheEnd) {
    Rig rig(10, 3);
    rig.screen.setAttribute(0x9E);  // yellow on bright blue
    rig.screen.setCursorVisible(false);
    rig.write("hi");
    EXPECT_EQ(rig.vt.at(1, 1).foreground, 93);
    EXPECT_EQ(rig.vt.at(1, 1).background, 104);
    EXPECT_FALSE(rig.vt.cursorVisible());
    rig.backend.finish();
    rig.vt.feed(rig.sink);
    EXPECT_TRUE(rig.vt.cursorVisible());
    EXPECT_EQ(rig.vt.foreground(), VtScreen::kDefault);
    EXPECT_EQ(rig.vt.background(), VtScreen::kDefault);
    // After the end nothing more is drawn.
    rig.sink.clear();
    rig.screen.write("late");
    rig.backend.present();
    EXPECT_TRUE(rig.sink.empty());
}

TEST(TerminalBackend, OnlyChangedCellsAreDrawnAndTheStartingCursorIsUsed) {
    Rig rig(20, 4, TerminalCharset::utf8(), CursorPosition{3, 2});
    rig.vt.feed("\x1b[2;3H");  // where the terminal's cursor really is
    rig.screen.placeCursor(3, 2);
    rig.screen.write("ab");
    rig.backend.present();
    // The terminal's cursor was already there: the text goes out without positioning.
    EXPECT_EQ(rig.sink, "\x1b[0mab");
    rig.vt.feed(rig.sink);
    rig.sink.clear();
    EXPECT_EQ(rig.vt.rowText(2).substr(0, 5), "~~ab~");
    rig.screen.gotoXY(3, 2);
    rig.write("ab");  // the same text again: nothing to draw but the cursor
    EXPECT_EQ(rig.vt.rowText(2).substr(0, 5), "~~ab~");
    rig.screen.gotoXY(3, 2);
    rig.screen.write("ab");
    rig.backend.present();
    EXPECT_EQ(rig.sink.find("ab"), std::string::npos);
}

TEST(TerminalBackend, CharactersAreTranscodedAndNeverSentAsControls) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 7 && b != 8 && b != 10 && b != 13) all += static_cast<char>(b);
    {
        Rig rig(16, 17);
        rig.screen.clearWindow();
        rig.write(all);
        rig.expectSameAsModel("every byte");
        EXPECT_EQ(rig.vt.rowText(1).substr(0, 3 * 3), "☺☻♥");
    }
    {
        std::string sink;
        ScreenModel screen(16, 17);
        TerminalBackend backend(sink, TerminalCharset::forCodeset("ISO-8859-1"), TerminalSize{16, 17});
        backend.attach(screen, CursorPosition{1, 1});
        screen.setObserver(&backend);
        screen.write(all);
        backend.present();
        // Only our own ESC bytes, and no C1 control byte at all.
        for (std::size_t i = 0; i < sink.size(); ++i) {
            const auto c = static_cast<unsigned char>(sink[i]);
            if (c == 0x1B) {
                ASSERT_EQ(sink[i + 1], '[');
                continue;
            }
            ASSERT_FALSE(c >= 0x80 && c < 0xA0) << "C1 byte " << int(c);
        }
        EXPECT_NE(sink.find("\xFE"), std::string::npos);  // þ of code page 850 goes out as Latin-1 þ
    }
}

TEST(TerminalBackend, FinalMessageIsTranscodedForTheTerminal) {
    const std::string message = "\n => Erro de execu\xE7\xE3o na linha 3...\n";
    std::string utf8Sink;
    TerminalBackend utf8(utf8Sink, TerminalCharset::utf8(), TerminalSize{});
    utf8.finish();
    utf8Sink.clear();
    utf8.writeFinalMessage(message);
    EXPECT_EQ(utf8Sink, "\n => Erro de execução na linha 3...\n");
    std::string rawSink;
    TerminalBackend raw(rawSink, TerminalCharset::forCodeset("ISO-8859-1"), TerminalSize{});
    raw.finish();
    rawSink.clear();
    raw.writeFinalMessage(message);
    EXPECT_EQ(rawSink, message);
}

TEST(TerminalBackend, SmallerTerminalIsNeverDrawnOutsideItsEdges) {
    std::string sink;
    ScreenModel screen(20, 6);
    TerminalBackend backend(sink, TerminalCharset::utf8(), TerminalSize{10, 3});
    backend.attach(screen, CursorPosition{1, 1});
    screen.setObserver(&backend);
    VtScreen vt(10, 3);
    for (int i = 0; i < 10; ++i) {
        screen.write("0123456789abcdefghij\r\n");
        backend.present();
    }
    vt.feed(sink);
    EXPECT_TRUE(vt.errors().empty()) << vt.errors().front();
    EXPECT_TRUE(vt.scrollback().empty());
}

// A 20x6 screen drawn on a pseudo-terminal of that size.
struct PtyRig {
    PtyRig() : backend(pty.slave, makeSession(pty), TerminalCharset::utf8()), screen(20, 6) {
        backend.attach(screen, CursorPosition{1, 1});
        screen.setObserver(&backend);
    }
    static std::unique_ptr<TerminalSession> makeSession(test::Pty& pty) {
        pty.resize(20, 6);
        return std::make_unique<TerminalSession>(pty.slave, pty.slave);
    }
    test::Pty pty;
    TerminalBackend backend;
    ScreenModel screen;
};

// A real terminal (a pseudo-terminal) that changes size during the run: after
// SIGWINCH everything drawn is drawn again, within the new edges only, and
// full-screen scrolling no longer relies on the terminal's own scrolling.
TEST(TerminalBackend, ResizedTerminalIsRedrawnWithinItsNewEdges) {
    for (const auto& size : {std::pair{12, 4}, std::pair{30, 9}}) {
        PtyRig rig;
        ASSERT_TRUE(rig.pty.ok());
        test::Pty& pty = rig.pty;
        ScreenModel& screen = rig.screen;
        TerminalBackend& backend = rig.backend;
        screen.setAttribute(0x1F);
        screen.clearWindow();
        screen.write("first line of text\r\nsecond");
        backend.present();
        pty.drain(20);

        pty.resize(size.first, size.second);
        ::raise(SIGWINCH);
        for (int i = 0; i < 8; ++i) {
            screen.write("\r\nmore " + std::to_string(i));
            backend.present();
        }
        VtScreen vt(size.first, size.second);
        vt.feed(pty.drain());
        ASSERT_TRUE(vt.errors().empty()) << vt.errors().front();
        EXPECT_TRUE(vt.scrollback().empty()) << "the terminal's rows no longer match the screen's";
        for (int row = 1; row <= std::min(6, size.second); ++row) {
            for (int column = 1; column <= std::min(20, size.first); ++column) {
                EXPECT_EQ(vt.at(column, row).glyph, glyph(screen.cellAt(column, row).character))
                    << size.first << "x" << size.second << " at " << column << "," << row;
            }
        }
        backend.finish();
    }
}

TEST(TerminalBackend, ColourSequenceOfEachMode) {
    struct Case {
        std::uint8_t attribute;
        ColourMode mode;
        const char* sequence;
    };
    const Case cases[] = {
        {7, ColourMode::kTerminalDefaults, "\x1b[0m"},  // the terminal's own colours
        {7, ColourMode::kExplicit, "\x1b[0;37;40m"},    // grey on black, as chosen
        {0x70, ColourMode::kTerminalDefaults, "\x1b[0;30;47m"},
        {0x1E, ColourMode::kExplicit, "\x1b[0;93;44m"},  // yellow on blue
        {0xCF, ColourMode::kExplicit, "\x1b[0;97;101m"},  // bright background
        {0x1E, ColourMode::kNone, ""},
        {7, ColourMode::kNone, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(colourSequence(c.attribute, c.mode), c.sequence) << int(c.attribute) << " mode " << int(c.mode);
}

TEST(TerminalBackend, RowBelowOutput) {
    struct Case {
        const char* what;
        std::function<void(ScreenModel&)> draw;
        int row;
    };
    const Case cases[] = {
        {"nothing drawn: the cursor's row", [](ScreenModel& s) { s.placeCursor(1, 3); }, 3},
        {"text without a line end", [](ScreenModel& s) { s.write("abc"); }, 2},
        {"text with a line end", [](ScreenModel& s) { s.write("abc\r\n"); }, 2},
        {"blank lines written after the text count",
         [](ScreenModel& s) { s.write("abc\r\n\r\n\r\n"); }, 4},
        {"cursor moved back inside the drawing",
         [](ScreenModel& s) {
             s.gotoXY(1, 5);
             s.write("box");
             s.gotoXY(1, 2);
         },
         6},
        {"a coloured blank counts",
         [](ScreenModel& s) {
             s.setTextBackground(1);
             s.gotoXY(3, 4);
             s.write(" ");
             s.gotoXY(1, 1);
         },
         5},
        {"the bottom row: below the screen",
         [](ScreenModel& s) {
             s.gotoXY(1, 6);
             s.write("end");
         },
         7},
    };
    for (const Case& c : cases) {
        ScreenModel screen(10, 6);
        c.draw(screen);
        EXPECT_EQ(rowBelowOutput(screen), c.row) << c.what;
    }
}

// At the end the colours are reset and the cursor is on a fresh line below
// the output, scrolling when the output reaches the bottom row.
TEST(TerminalBackend, FinishLeavesTheCursorOnAFreshLineBelowTheOutput) {
    {
        Rig rig(20, 6);
        rig.screen.setTextColor(14);
        rig.screen.gotoXY(3, 2);
        rig.write("menu");
        rig.screen.gotoXY(4, 1);
        rig.present();
        rig.backend.finish();
        rig.vt.feed(rig.sink);
        EXPECT_EQ(rig.vt.column(), 1);
        EXPECT_EQ(rig.vt.row(), 3);
        rig.vt.feed("x");
        EXPECT_EQ(rig.vt.at(1, 3).foreground, VtScreen::kDefault) << "colours not reset";
    }
    {
        Rig rig(20, 6);
        rig.screen.gotoXY(1, 6);
        rig.write("last row");
        rig.backend.finish();
        rig.vt.feed(rig.sink);
        EXPECT_EQ(rig.vt.row(), 6);
        EXPECT_EQ(rig.vt.column(), 1);
        EXPECT_EQ(rig.vt.rowText(5).substr(0, 8), "last row") << "the screen scrolled up one line";
    }
}

TEST(TerminalBackend, ColoursChosenByTheProgramAreDrawnExplicitly) {
    Rig rig(20, 6);
    rig.write("plain");
    EXPECT_EQ(rig.vt.at(1, 1).foreground, VtScreen::kDefault);
    rig.screen.setTextBackground(0);
    rig.screen.setTextColor(7);  // grey on black: attribute 7, chosen
    rig.screen.clearWindow();
    rig.write("chosen");
    for (int column = 1; column <= 20; ++column) {
        EXPECT_EQ(rig.vt.at(column, 1).foreground, 37) << column;
        EXPECT_EQ(rig.vt.at(column, 1).background, 40) << column;
        EXPECT_EQ(rig.vt.at(column, 6).background, 40) << column;  // cleared cells too
    }
    // Lines scrolled in at the bottom are grey on black as well.
    rig.screen.gotoXY(1, 6);
    rig.write("bottom\r\n");
    EXPECT_EQ(rig.vt.at(10, 6).background, 40);

    // Without colours nothing about colours is ever written.
    std::string sink;
    ScreenModel screen(20, 6);
    TerminalBackend backend(sink, TerminalCharset::utf8(), TerminalSize{20, 6}, /*colours=*/false);
    backend.attach(screen, CursorPosition{1, 1});
    screen.setObserver(&backend);
    screen.setAttribute(0x1E);
    screen.setTextColor(4);
    screen.clearWindow();
    screen.write("text\r\n\r\n\r\n\r\n\r\n\r\n");
    backend.finish();
    EXPECT_EQ(sink.find("\x1b[0m"), std::string::npos) << sink;
    EXPECT_EQ(sink.find("\x1b[0;"), std::string::npos) << sink;
    EXPECT_NE(sink.find("text"), std::string::npos);
}

// A terminal that shrinks and grows back shows the whole screen again at
// once, cells changed while it was small included.
TEST(TerminalBackend, TerminalGrownBackIsRepaintedWhole) {
    PtyRig rig;
    ASSERT_TRUE(rig.pty.ok());
    test::Pty& pty = rig.pty;
    ScreenModel& screen = rig.screen;
    TerminalBackend& backend = rig.backend;
    for (int row = 1; row <= 5; ++row) screen.write("abcdefghijklmnopqrs" + std::to_string(row) + "\r\n");
    backend.present();
    pty.drain(20);

    pty.resize(12, 4);
    ::raise(SIGWINCH);
    screen.gotoXY(15, 2);
    screen.write("WIDE");  // beyond the small terminal's edge
    screen.gotoXY(1, 6);
    screen.write("low");   // below it
    backend.present();
    pty.drain(20);

    pty.resize(20, 6);
    ::raise(SIGWINCH);
    backend.present();
    VtScreen vt(20, 6);
    vt.feed(pty.drain());
    ASSERT_TRUE(vt.errors().empty()) << vt.errors().front();
    for (int row = 1; row <= 6; ++row) EXPECT_EQ(vt.rowText(row), screen.rowText(row)) << "row " << row;
    backend.finish();
}

}  // namespace
}  // namespace lousa
