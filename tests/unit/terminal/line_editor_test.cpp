#include "console/line_editor.hpp"

#include <gtest/gtest.h>

#include "console/key_decoder.hpp"
#include "console/plain_backend.hpp"

namespace lousa {
namespace {

// A console whose "terminal" input holds the given keystrokes, with the line
// editor and decoded keys as in terminal mode.
struct EditorRig {
    explicit EditorRig(std::string typed, int columns = 20, int rows = 5)
        : console(std::make_unique<PlainBackend>(output), std::make_unique<MemoryByteSource>(std::move(typed), true),
                  columns, rows) {
        console.setKeySource(std::make_unique<DecodedKeySource>(console.input(), true));
        console.setLineSource(std::make_unique<LineEditor>(console));
    }
    std::optional<std::string> line() { return console.input().readLine(100000); }
    std::string row(int r) { return console.screen().rowText(r); }

    std::string output;
    Console console;
};

TEST(LineEditor, EchoesIntoTheScreenAndDeliversTheLine) {
    EditorRig rig("abc\rdef\r");
    EXPECT_EQ(rig.line(), "abc");
    EXPECT_EQ(rig.row(1).substr(0, 4), "abc ");
    EXPECT_EQ(rig.console.screen().cursorRow(), 2);
    EXPECT_EQ(rig.console.screen().cursorColumn(), 1);
    EXPECT_EQ(rig.line(), "def");
    EXPECT_EQ(rig.line(), std::nullopt);  // the keystrokes ran out: end of input
}

TEST(LineEditor, ScanningReadsSeeTheLineFeedAfterTheLine) {
    EditorRig rig("12 34\r");
    EXPECT_EQ(rig.console.input().scanInteger(), 12);
    EXPECT_EQ(rig.console.input().scanInteger(), 34);
    EXPECT_EQ(rig.console.input().get(), '\n');
}

TEST(LineEditor, BackspaceRemovesAndBlanksTheLastCharacter) {
    EditorRig rig(
        "abX\x7f"
        "c\b\bZ\r");
    EXPECT_EQ(rig.line(), "aZ");
    EXPECT_EQ(rig.row(1).substr(0, 4), "aZ  ");
    EditorRig empty("\x7f\x7fq\r");  // nothing to remove: nothing moves
    EXPECT_EQ(empty.line(), "q");
    EXPECT_EQ(empty.row(1).substr(0, 2), "q ");
}

TEST(LineEditor, BackspaceFollowsTheLineAcrossWrapsAndScrolls) {
    // A 4-column, 2-row window in the middle of the screen, cursor at its bottom row.
    EditorRig rig(std::string("abcdefghij") + "\x7f\x7f\x7f\x7f\x7f\x7f" + "XY\r", 20, 5);
    ScreenModel& screen = rig.console.screen();
    screen.setWindow(5, 2, 8, 3);
    screen.gotoXY(1, 2);
    // Typing ten characters wraps twice and scrolls the window twice: "abcd" scrolled away,
    // "efgh" and "ij" remain. Six backspaces erase j, i, h, g, f, e.
    EXPECT_EQ(rig.line(), "abcdXY");
    EXPECT_EQ(rig.row(2).substr(4, 4), "XY  ");
    EXPECT_EQ(rig.row(3).substr(4, 4), "    ");
    // Nothing outside the window was touched.
    EXPECT_EQ(rig.row(2).substr(0, 4), "    ");
    EXPECT_EQ(rig.row(2).substr(8), std::string(12, ' '));
}

TEST(LineEditor, BackspaceAfterACharacterInTheWindowsLastCell) {
    EditorRig rig("abcd\x7fZ\x04", 4, 2);  // Ctrl+D ends the line without a line end
    rig.console.screen().gotoXY(1, 2);
    // d went into the last cell and scrolled the screen; Backspace blanks it where it now is.
    EXPECT_EQ(rig.line(), "abcZ");
    EXPECT_EQ(rig.row(1), "abcZ");
}

TEST(LineEditor, EchoUsesTheCurrentAttribute) {
    EditorRig rig("ok\r");
    rig.console.screen().setAttribute(0x1E);
    EXPECT_EQ(rig.line(), "ok");
    EXPECT_EQ(rig.console.screen().cellAt(1, 1).attribute, 0x1E);
    EXPECT_EQ(rig.console.screen().cellAt(2, 1).attribute, 0x1E);
}

TEST(LineEditor, ControlKeys) {
    EditorRig eraseAll("abc\x15xy\x1b\x1bz\r");  // Ctrl+U, then Escape (the second ESC shows the first was a key)
    EXPECT_EQ(eraseAll.line(), "z");
    EditorRig keysIgnored(
        "a\x1b[A\x1b[15~\x01"
        "b\r");  // an arrow, F5, Ctrl+A
    EXPECT_EQ(keysIgnored.line(), "ab");
    EditorRig endOfInput(
        "\x04"
        "more\r");
    EXPECT_EQ(endOfInput.line(), std::nullopt);
    EditorRig partial(
        "ab\x04"
        "cd\r");  // Ctrl+D on a non-empty line delivers it as typed
    EXPECT_EQ(partial.line(), "abcd");
}

TEST(LineEditor, TypedUtf8BecomesCodePageBytes) {
    EditorRig rig("a\xc3\xa7\xc3\xa3o \xe2\x82\xac\r");
    EXPECT_EQ(rig.line(), "a\x87\xC6o ?");
    EXPECT_EQ(rig.row(1).substr(0, 6), "a\x87\xC6o ?");
}

// Keys as a terminal sends them.
constexpr const char* kLeft = "\x1b[D";
constexpr const char* kRight = "\x1b[C";
constexpr const char* kHome = "\x1b[H";
constexpr const char* kEnd = "\x1b[F";
constexpr const char* kDelete = "\x1b[3~";
constexpr const char* kInsert = "\x1b[2~";
constexpr const char* kCtrlLeft = "\x1b[1;5D";
constexpr const char* kCtrlRight = "\x1b[1;5C";
constexpr const char* kUp = "\x1b[A";
constexpr const char* kDown = "\x1b[B";
constexpr const char* kF1 = "\x1bOP";
constexpr const char* kF3 = "\x1bOR";

std::string keys(std::initializer_list<std::string_view> parts) {
    std::string all;
    for (const std::string_view part : parts) all += part;
    return all;
}

TEST(LineEditor, EditingKeysGiveTheStoredLineAndShowIt) {
    struct Case {
        const char* what;
        std::string typed;
        std::string line;  // delivered, and what the screen's first row starts with
    };
    const Case cases[] = {
        {"left, insert", keys({"abc", kLeft, kLeft, "X"}), "aXbc"},
        {"home, insert", keys({"abc", kHome, "X"}), "Xabc"},
        {"end after home", keys({"abc", kHome, kEnd, "d"}), "abcd"},
        {"right stops at the end", keys({"ab", kHome, kRight, kRight, kRight, "c"}), "abc"},
        {"left stops at the start", keys({"ab", kLeft, kLeft, kLeft, "c"}), "cab"},
        {"delete under the cursor", keys({"abc", kHome, kRight, kDelete}), "ac"},
        {"delete at the end does nothing", keys({"abc", kDelete}), "abc"},
        {"backspace in the middle", keys({"abcd", kLeft, kLeft, "\x7f"}), "acd"},
        {"backspace at the start does nothing", keys({"ab", kHome, "\x7f"}), "ab"},
        {"insert toggles overwrite", keys({"abcd", kHome, kInsert, "XY"}), "XYcd"},
        {"overwrite past the end appends", keys({"ab", kInsert, "cd"}), "abcd"},
        {"insert again", keys({"abcd", kHome, kInsert, "X", kInsert, "Y"}), "XYbcd"},
        {"ctrl+left by word", keys({"one two  three", kCtrlLeft, kCtrlLeft, "X"}), "one Xtwo  three"},
        {"ctrl+right by word", keys({"one two  three", kHome, kCtrlRight, kCtrlRight, "X"}), "one two  Xthree"},
        {"ctrl+right to the end", keys({"one", kHome, kCtrlRight, "!"}), "one!"},
        {"tab is stored and shown as 9", "a\tb", "a\tb"},
        {"accented letter then editing", keys({"\xc3\xa9x", kLeft, kLeft, "a"}), "a\x82x"},
        {"up and F3 with no earlier line", keys({"ab", kUp, kF3, kDown}), "ab"},
    };
    for (const Case& c : cases) {
        EditorRig rig(c.typed + "\r");
        EXPECT_EQ(rig.line(), c.line) << c.what;
        EXPECT_EQ(rig.row(1), c.line + std::string(20 - c.line.size(), ' ')) << c.what;
        EXPECT_EQ(rig.console.screen().cursorRow(), 2) << c.what;  // Enter moved to the next line
    }
}

TEST(LineEditor, EarlierLinesOfTheRunAreRecalled) {
    struct Case {
        const char* what;
        std::string third;  // typed for the third line, after "first" and "second words"
        std::string line;
    };
    const Case cases[] = {
        {"up: the last line", keys({kUp}), "second words"},
        {"up twice: the one before", keys({kUp, kUp}), "first"},
        {"up stops at the oldest", keys({kUp, kUp, kUp}), "first"},
        {"down comes back", keys({kUp, kUp, kDown}), "second words"},
        {"recalled lines can be edited", keys({kUp, kUp, "!", kHome, kDelete}), "irst!"},
        {"a shorter recall blanks the rest", keys({kUp, kUp, "X"}), "firstX"},
        {"F3: the rest of the last line", keys({"ab", kF3}), "abcond words"},
        {"F3 past its end does nothing", keys({"a long line indeed", kF3}), "a long line indeed"},
        {"F1: its next character", keys({kF1, kF1}), "se"},
    };
    for (const Case& c : cases) {
        EditorRig rig("first\rsecond words\r" + c.third + "\r", 20, 5);
        EXPECT_EQ(rig.line(), "first") << c.what;
        EXPECT_EQ(rig.line(), "second words") << c.what;
        EXPECT_EQ(rig.line(), c.line) << c.what;
        EXPECT_EQ(rig.row(3), c.line + std::string(20 - c.line.size(), ' ')) << c.what;
    }
}

TEST(LineEditor, EditingAcrossTheWindowsWrapMovesTheTail) {
    // Four columns: "abcdef" takes two rows; an insertion at the start pushes
    // the tail across the wrap, a deletion pulls it back and blanks the end.
    EditorRig rig(keys({"abcdef", kHome, "X", kEnd, kLeft, kDelete, kHome, kDelete, kDelete}) + "\r", 4, 3);
    EXPECT_EQ(rig.line(), "bcde");
    EXPECT_EQ(rig.row(1), "bcde");
    EXPECT_EQ(rig.row(2), "    ");
    EditorRig grow(keys({"abcd", kHome, "XY"}) + "\r", 4, 3);
    EXPECT_EQ(grow.line(), "XYabcd");
    EXPECT_EQ(grow.row(1), "XYab");
    EXPECT_EQ(grow.row(2), "cd  ");
}

TEST(LineEditor, LinesStopAtTheReadsMaximumWithABell) {
    struct Case {
        std::size_t maxKept;
        std::size_t kept;
    };
    for (const Case c : {Case{100000, LineSource::kDefaultMaxLength}, Case{255, 255}, Case{3, 3}}) {
        EditorRig rig(std::string(300, 'x') + "\r", 80, 25);
        const std::optional<std::string> line = rig.console.input().readLine(c.maxKept);
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->size(), c.kept);
        rig.console.flushOutput();
        EXPECT_NE(rig.output.find('\a'), std::string::npos) << "no bell at " << c.maxKept;
    }
    // Overwriting at the maximum still works; inserting does not.
    EditorRig full(keys({"abcz", kHome, "Q", kInsert, "XY"}) + "\r");
    EXPECT_EQ(full.console.input().readLine(3), "XYc");
}

}  // namespace
}  // namespace lousa
