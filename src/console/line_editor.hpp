#pragma once
// The line editor of line-oriented reads when both ends are a terminal (the
// terminal itself is in non-canonical, no-echo mode). Typed characters are
// echoed into the screen model at the cursor, in the current attribute, so
// they take part in the window's wrapping and scrolling like any output.
//
// Keys: printable characters (code page 850) are added; Backspace removes the
// last one and blanks it on the screen; Enter ends the line, which is
// delivered with a line feed; Ctrl+U and Escape erase the whole line; Ctrl+D
// on an empty line is the end of input, on a non-empty one it delivers the
// line as typed, without a line feed (as a terminal does). Other control keys
// and keys without a character are ignored.

#include <optional>
#include <string>
#include <vector>

#include "console/console.hpp"

namespace lousa {

class LineEditor : public LineSource {
public:
    // A line holds at most this many characters; further ones ring the bell.
    static constexpr std::size_t kMaxLine = 4095;

    explicit LineEditor(Console& console) : console_(console) {}
    std::optional<std::string> readLine() override;

private:
    struct Place {
        int column;
        int row;
    };
    void echo(std::uint8_t character);
    void eraseLast();

    Console& console_;
    std::string line_;
    std::vector<Place> places_;  // where each character of line_ was echoed
};

}  // namespace lousa
