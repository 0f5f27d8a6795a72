#pragma once
// The text screen every console operation works on: cells of one code-page-850
// byte and one attribute byte, the cursor, the text window and the current
// attribute. It is pure: operations in, cells and cursor out. A backend shows
// it, told of every change through ScreenObserver.
//
// Attributes: foreground in bits 0-3 (8 = intensity), background in bits 4-7.
// All coordinates are 1-based; "screen" coordinates count from the screen's
// top-left corner, "window" coordinates from the text window's.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vm/word.hpp"

namespace lousa {

struct Cell {
    std::uint8_t character = ' ';
    std::uint8_t attribute = 7;
    bool operator==(const Cell&) const = default;
};

// A rectangle in screen coordinates, edges included.
struct ScreenRect {
    int left = 1;
    int top = 1;
    int right = 1;
    int bottom = 1;
    [[nodiscard]] int width() const { return right - left + 1; }
    [[nodiscard]] int height() const { return bottom - top + 1; }
    bool operator==(const ScreenRect&) const = default;
};

// Told of each change, in the order the changes happen, so that a backend can
// draw them (at once or when the console presents the operation's result).
class ScreenObserver {
public:
    virtual ~ScreenObserver() = default;
    // Columns first..last of row now hold new cells (model already updated).
    virtual void cellsChanged(int /*row*/, int /*firstColumn*/, int /*lastColumn*/) {}
    // The rows of region are about to move up by `lines` (down when negative).
    // Called while the model still holds the old contents, so that anything
    // not yet drawn can be drawn before it moves; the rows the move uncovers
    // are reported blank through cellsChanged afterwards. A region covering
    // the whole screen moving up is output scrolling off the top.
    virtual void scrolling(const ScreenRect& /*region*/, int /*lines*/) {}
    // The cursor is now at this screen position.
    virtual void cursorMoved(int /*column*/, int /*row*/) {}
    // Character 7 was written.
    virtual void bell() {}
    virtual void cursorVisibilityChanged(bool /*visible*/) {}
};

class ScreenModel {
public:
    static constexpr std::uint8_t kStartupAttribute = 7;
    // The largest screen taken: a terminal may report any size (65535 x 65535
    // would be gigabytes of cells); a larger one is used in its top-left part.
    static constexpr int kMaxColumns = 1000;
    static constexpr int kMaxRows = 1000;

    // A screen of the given size (each from 1 to its maximum); the window is
    // the whole screen, the cursor at its top-left corner, every cell a blank in 7.
    explicit ScreenModel(int columns = 80, int rows = 25);

    void setObserver(ScreenObserver* observer) { observer_ = observer; }

    // --- what the screen shows
    [[nodiscard]] int columns() const { return columns_; }
    [[nodiscard]] int rows() const { return rows_; }
    // The cell at a screen position (columns() x rows()).
    [[nodiscard]] const Cell& cellAt(int column, int row) const;
    // The characters of one screen row, for tests and redraws.
    [[nodiscard]] std::string rowText(int row) const;
    [[nodiscard]] int cursorColumn() const { return cursorColumn_; }  // screen coordinates
    [[nodiscard]] int cursorRow() const { return cursorRow_; }
    [[nodiscard]] const ScreenRect& window() const { return window_; }
    [[nodiscard]] std::uint8_t attribute() const { return attribute_; }
    [[nodiscard]] bool cursorVisible() const { return cursorVisible_; }

    // --- text output at the cursor, in the current attribute. Writing the
    // window's last column moves the cursor at once to the next row, scrolling
    // the window at its bottom. 7 rings the bell, 8 moves left but not past
    // the window's left edge, 10 moves down (scrolling at the bottom), 13
    // moves to the left edge; every other byte is shown.
    void write(std::string_view bytes);

    // --- clearing and lines, with blanks in the current attribute
    void clearToEndOfLine();  // from the cursor to the window's right edge
    void clearWindow();       // and the cursor to the window's top-left corner
    void deleteLine();        // the lines below move up, a blank line at the bottom
    void insertLine();        // the lines from the cursor's move down, the bottom one is lost

    // --- attribute
    void highIntensity() {
        attribute_ = static_cast<std::uint8_t>(attribute_ | 8U);
        coloursChosen_ = true;
    }
    void lowIntensity() {
        attribute_ = static_cast<std::uint8_t>(attribute_ & ~8U);
        coloursChosen_ = true;
    }
    void normalVideo() { attribute_ = kStartupAttribute; }
    // The attribute becomes (attribute AND 112) OR (colour AND 143).
    void setTextColor(Word colour);
    // Bits 4-7 become the colour's low four bits.
    void setTextBackground(Word colour);
    void setAttribute(std::uint8_t attribute) { attribute_ = attribute; }
    // Whether the program has chosen colours itself (text colour, background
    // or intensity); until then attribute 7 may be shown in the terminal's
    // own colours.
    [[nodiscard]] bool coloursChosen() const { return coloursChosen_; }

    // --- window and cursor
    // Sets the window (screen coordinates) and puts the cursor at its top-left
    // corner; a rectangle that is empty or leaves the screen changes nothing
    // and gives false.
    bool setWindow(Word left, Word top, Word right, Word bottom);
    // Moves the cursor to a window position; outside the window nothing
    // changes and it gives false.
    bool gotoXY(Word column, Word row);
    [[nodiscard]] int whereX() const { return cursorColumn_ - window_.left + 1; }  // window coordinates
    [[nodiscard]] int whereY() const { return cursorRow_ - window_.top + 1; }
    void setCursorVisible(bool visible);
    // Puts the cursor at a screen position without the window's rules (where
    // a terminal's cursor is found at start-up); outside the screen it is
    // ignored. The cursor may then lie outside a smaller window until the
    // next window, gotoXY or clear.
    void placeCursor(int column, int row);

private:
    Cell& at(int column, int row) { return cells_[static_cast<std::size_t>((row - 1) * columns_ + (column - 1))]; }
    void putCharacter(std::uint8_t character);
    void lineFeed();
    // Moves rows first..last of the window's columns up by one (down when
    // up is false); the uncovered row becomes blank.
    void shiftRows(int first, int last, bool up);
    void blank(int row, int firstColumn, int lastColumn);
    void moveCursor(int column, int row);

    int columns_;
    int rows_;
    std::vector<Cell> cells_;
    ScreenRect window_;
    int cursorColumn_ = 1;
    int cursorRow_ = 1;
    std::uint8_t attribute_ = kStartupAttribute;
    bool cursorVisible_ = true;
    bool coloursChosen_ = false;
    ScreenObserver* observer_ = nullptr;
};

}  // namespace lousa
