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

TEST(LineEditor, OverlongLinesStopAtTheLimitWithABell) {
    EditorRig rig(std::string(LineEditor::kMaxLine + 10, 'x') + "\r", 80, 25);
    const std::optional<std::string> line = rig.line();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->size(), LineEditor::kMaxLine);
}

}  // namespace
}  // namespace lousa
