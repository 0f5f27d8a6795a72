#pragma once
// The line editor of line-oriented reads when both ends are a terminal (the
// terminal itself is in non-canonical, no-echo mode). Typed characters are
// echoed into the screen model in the current attribute, so they take part
// in the window's wrapping and scrolling like any output; every character
// takes one cell, and the screen shows exactly what the line holds (a Tab is
// stored as 9 and shown as the cell of 9).
//
// Keys, as a Windows console's line input has them:
// - printable characters are inserted at the cursor (or replace the one
//   under it after Insert, which toggles overwriting for this line); past
//   the line's maximum they ring the bell;
// - Left, Right, Home, End move; Ctrl+Left and Ctrl+Right move by word;
// - Backspace removes the character before the cursor, Delete the one under
//   it; Escape and Ctrl+U erase the line;
// - Up and Down recall the earlier lines of this run, F3 copies the rest of
//   the last line from the cursor on, F1 its next character;
// - Enter ends the line, which is delivered with a line feed; Ctrl+D on an
//   empty line is the end of input, on a non-empty one it delivers the line
//   as typed, without a line feed (as a terminal does).
// Other control keys and keys without a character are ignored.

#include <optional>
#include <string>
#include <vector>

#include "console/console.hpp"

namespace lousa {

class LineEditor : public LineSource {
public:
    explicit LineEditor(Console& console) : console_(console) {}
    std::optional<std::string> readLine(std::size_t maxLength) override;

private:
    struct Place {
        int column;
        int row;
    };
    // What the key did: the line goes on, or reading ends with a result.
    enum class Outcome { kContinue, kDeliver, kDeliverUnended, kEnd };

    Outcome apply(const KeyEvent& key);
    void insert(std::uint8_t character);
    void erase(std::size_t position);
    void replaceLine(const std::string& text);
    void recall(int step);
    void moveCursor(std::size_t position);
    // Draws the line from `from` to its end, blanks the cells it held beyond
    // its end (it held `previousLength` characters), and shows the cursor.
    void redraw(std::size_t from, std::size_t previousLength);
    void drawCell(std::size_t index, std::uint8_t character);
    [[nodiscard]] Place placeOf(std::size_t index) const;

    Console& console_;
    std::string line_;
    std::size_t cursor_ = 0;
    std::size_t maxLength_ = kDefaultMaxLength;
    bool overwrite_ = false;
    Place start_{1, 1};  // where the line's first character is (or was, before it scrolled away)
    std::vector<std::string> history_;  // the lines of this run, oldest first
    std::size_t recalled_ = 0;          // history_.size(): none recalled
};

}  // namespace lousa
