#include "console/screen_model.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lousa {
namespace {

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::vector<std::string> screenLines(const ScreenModel& screen) {
    std::vector<std::string> lines;
    for (int row = 1; row <= screen.rows(); ++row) lines.push_back(trimmed(screen.rowText(row)));
    return lines;
}

// Records what the model reports, with the row contents seen at each scroll.
struct Recorder : ScreenObserver {
    explicit Recorder(const ScreenModel& s) : screen(s) {}
    void cellsChanged(int row, int first, int last) override {
        events.push_back("cells " + std::to_string(row) + " " + std::to_string(first) + "-" + std::to_string(last));
    }
    void scrolling(const ScreenRect& r, int lines) override {
        events.push_back("scroll " + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                         std::to_string(r.right) + "," + std::to_string(r.bottom) + " by " + std::to_string(lines) +
                         " top=" + trimmed(screen.rowText(r.top)));
    }
    void cursorMoved(int column, int row) override {
        events.push_back("cursor " + std::to_string(column) + "," + std::to_string(row));
    }
    void bell() override { events.push_back("bell"); }
    void cursorVisibilityChanged(bool visible) override { events.push_back(visible ? "shown" : "hidden"); }
    const ScreenModel& screen;
    std::vector<std::string> events;
};

// Whatever size a terminal reports, the model holds at most 1000 x 1000
// cells (65535 x 65535 once made the runner allocate past 1 GiB).
TEST(ScreenModel, ReportedSizesAreTakenWithinBounds) {
    struct Size {
        int columns, rows, takenColumns, takenRows;
    };
    for (const Size s : {Size{80, 25, 80, 25}, Size{65535, 65535, 1000, 1000}, Size{1001, 40, 1000, 40},
                         Size{1000, 1000, 1000, 1000}, Size{0, -5, 1, 1}, Size{120, 65535, 120, 1000}}) {
        ScreenModel screen(s.columns, s.rows);
        EXPECT_EQ(screen.columns(), s.takenColumns) << s.columns << "x" << s.rows;
        EXPECT_EQ(screen.rows(), s.takenRows) << s.columns << "x" << s.rows;
        EXPECT_EQ(screen.rowText(screen.rows()).size(), static_cast<std::size_t>(s.takenColumns));
    }
}

TEST(ScreenModel, TextWrapsAtTheRightEdgeAtOnce) {
    ScreenModel screen(10, 4);
    screen.write("abcdefghij");  // exactly one row: the cursor is already on the next
    EXPECT_EQ(screen.cursorColumn(), 1);
    EXPECT_EQ(screen.cursorRow(), 2);
    screen.write("kl");
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("abcdefghij", "kl", "", ""));
    EXPECT_EQ(screen.whereX(), 3);
    EXPECT_EQ(screen.whereY(), 2);
}

TEST(ScreenModel, WritingTheLastCellScrollsImmediately) {
    ScreenModel screen(5, 3);
    screen.write("11111222223333");
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("11111", "22222", "3333"));
    screen.write("3");
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("22222", "33333", ""));
    EXPECT_EQ(screen.cursorColumn(), 1);
    EXPECT_EQ(screen.cursorRow(), 3);
}

TEST(ScreenModel, ControlCharactersMoveInsteadOfShowing) {
    ScreenModel screen(10, 4);
    Recorder recorder(screen);
    screen.setObserver(&recorder);
    screen.write("ab\b\bX\b\b\bY");  // backspace stops at the left edge
    EXPECT_EQ(screen.rowText(1).substr(0, 2), "Yb");
    screen.write("\rZ\n\nQ");  // 13 to the left column, 10 straight down
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("Zb", "", " Q", ""));
    screen.write("\a");
    EXPECT_EQ(recorder.events.back(), "bell");
    EXPECT_EQ(screen.cursorColumn(), 3);
    EXPECT_EQ(screen.cursorRow(), 3);
    screen.write(std::string("\x01\x1b\xc9", 3));  // other bytes below 32 and CP850 glyphs are cells
    EXPECT_EQ(screen.rowText(3).substr(2, 3), std::string("\x01\x1b\xc9", 3));
}

TEST(ScreenModel, SubWindowScrollsOnlyItsOwnCells) {
    ScreenModel screen(8, 5);
    for (int row = 0; row < 5; ++row) screen.write("xxxxxxxx");  // the last one scrolled the screen once
    ASSERT_TRUE(screen.setWindow(3, 2, 5, 4));
    EXPECT_EQ(screen.cursorColumn(), 3);
    EXPECT_EQ(screen.cursorRow(), 2);
    screen.clearWindow();
    screen.write("1\r\n2\r\n3\r\n4");
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("xxxxxxxx", "xx2  xxx", "xx3  xxx", "xx4  xxx", ""));
    screen.write("56789");  // wraps within the window, scrolling it twice
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("xxxxxxxx", "xx456xxx", "xx789xxx", "xx   xxx", ""));
    EXPECT_EQ(screen.whereX(), 1);
    EXPECT_EQ(screen.whereY(), 3);
}

TEST(ScreenModel, ClearingUsesTheCurrentAttribute) {
    ScreenModel screen(6, 3);
    screen.write("abcdef" "ghijkl");
    ASSERT_TRUE(screen.gotoXY(3, 1));
    screen.setTextBackground(1);
    screen.clearToEndOfLine();
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("ab", "ghijkl", ""));
    EXPECT_EQ(screen.cellAt(3, 1).attribute, 0x17);
    EXPECT_EQ(screen.cellAt(2, 1).attribute, 7);
    EXPECT_EQ(screen.whereX(), 3);  // the cursor stays
    ASSERT_TRUE(screen.setWindow(2, 2, 4, 3));
    screen.gotoXY(2, 2);
    screen.clearWindow();
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("ab", "g   kl", ""));
    EXPECT_EQ(screen.cellAt(4, 3).attribute, 0x17);
    EXPECT_EQ(screen.cellAt(5, 3).attribute, 7);
    EXPECT_EQ(screen.whereX(), 1);
    EXPECT_EQ(screen.whereY(), 1);
}

TEST(ScreenModel, InsertAndDeleteLineWithinTheWindow) {
    ScreenModel screen(4, 5);
    screen.write("aaaabbbbccccdddd");
    ASSERT_TRUE(screen.setWindow(2, 1, 3, 4));
    ASSERT_TRUE(screen.gotoXY(2, 2));
    screen.deleteLine();
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("aaaa", "bccb", "cddc", "d  d", ""));
    screen.insertLine();
    EXPECT_THAT(screenLines(screen), ::testing::ElementsAre("aaaa", "b  b", "cccc", "dddd", ""));
    ASSERT_TRUE(screen.gotoXY(1, 4));  // on the bottom row both only blank that row
    screen.insertLine();
    EXPECT_EQ(trimmed(screen.rowText(4)), "d  d");
    EXPECT_EQ(screen.whereX(), 1);
    EXPECT_EQ(screen.whereY(), 4);
}

TEST(ScreenModel, WindowAndGotoOutsideChangeNothing) {
    ScreenModel screen(80, 25);
    ASSERT_TRUE(screen.gotoXY(10, 5));
    for (auto rect : {ScreenRect{0, 1, 10, 10}, ScreenRect{1, 1, 81, 10}, ScreenRect{1, 1, 10, 26},
                      ScreenRect{10, 1, 9, 10}, ScreenRect{1, 10, 10, 9}}) {
        EXPECT_FALSE(screen.setWindow(rect.left, rect.top, rect.right, rect.bottom));
    }
    EXPECT_EQ(screen.window(), (ScreenRect{1, 1, 80, 25}));
    EXPECT_EQ(screen.whereX(), 10);
    ASSERT_TRUE(screen.setWindow(11, 6, 20, 10));
    EXPECT_TRUE(screen.gotoXY(10, 5));
    EXPECT_EQ(screen.cursorColumn(), 20);
    EXPECT_EQ(screen.cursorRow(), 10);
    for (auto [x, y] : {std::pair{0, 1}, {1, 0}, {11, 1}, {1, 6}, {-5, 3}}) EXPECT_FALSE(screen.gotoXY(x, y));
    EXPECT_EQ(screen.whereX(), 10);
    EXPECT_EQ(screen.whereY(), 5);
    EXPECT_TRUE(screen.setWindow(79, 25, 80, 25));  // a one-row window scrolls onto itself
    screen.write("abc");
    EXPECT_EQ(screen.rowText(25).substr(77), " c ");
    EXPECT_EQ(screen.whereX(), 2);
}

TEST(ScreenModel, AttributeRules) {
    ScreenModel screen;
    EXPECT_EQ(screen.attribute(), 7);
    screen.setTextBackground(4);
    screen.setTextColor(14);
    EXPECT_EQ(screen.attribute(), 0x4E);
    screen.setTextColor(14 + 128);  // the blink bit comes from the colour
    EXPECT_EQ(screen.attribute(), 0xCE);
    screen.setTextColor(0x7FFFFF01);  // only bits 0-3 and 7 of the colour count
    EXPECT_EQ(screen.attribute(), 0x41);
    screen.setTextBackground(-1);  // bits 4-7 from the low four bits: a bright white background
    EXPECT_EQ(screen.attribute(), 0xF1);
    screen.lowIntensity();
    screen.highIntensity();
    EXPECT_EQ(screen.attribute(), 0xF9);
    screen.lowIntensity();
    EXPECT_EQ(screen.attribute(), 0xF1);
    screen.normalVideo();
    EXPECT_EQ(screen.attribute(), 7);
    screen.setTextColor(2);
    screen.write("g");
    EXPECT_EQ(screen.cellAt(1, 1), (Cell{'g', 2}));
}

TEST(ScreenModel, ObserverHearsChangesInOrderAndScrollsBeforeTheMove) {
    ScreenModel screen(3, 2);
    Recorder recorder(screen);
    screen.setObserver(&recorder);
    screen.write("abcdef\a");
    EXPECT_THAT(recorder.events, ::testing::ElementsAre("cells 1 1-3", "cells 2 1-3", "scroll 1,1,3,2 by 1 top=abc",
                                                        "cells 2 1-3", "bell", "cursor 1,2"));
    recorder.events.clear();
    screen.insertLine();
    screen.setCursorVisible(false);
    screen.setCursorVisible(false);
    EXPECT_THAT(recorder.events, ::testing::ElementsAre("scroll 1,2,3,2 by -1 top=", "cells 2 1-3", "hidden"));
}

TEST(ScreenModel, PlaceCursorKeepsItInsideTheWindow) {
    ScreenModel screen(80, 25);
    screen.placeCursor(1, 25);
    EXPECT_EQ(screen.cursorRow(), 25);
    screen.placeCursor(81, 1);
    screen.placeCursor(0, 0);
    EXPECT_EQ(screen.cursorColumn(), 1);
    EXPECT_EQ(screen.cursorRow(), 25);
    screen.write("x\r\n");  // at the bottom row a line end scrolls
    EXPECT_EQ(trimmed(screen.rowText(24)), "x");
}

}  // namespace
}  // namespace lousa
