#include "console/line_editor.hpp"

namespace lousa {

namespace {

constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kTab = 9;
constexpr std::uint8_t kEnter = 13;
constexpr std::uint8_t kCtrlD = 4;
constexpr std::uint8_t kCtrlU = 21;
constexpr std::uint8_t kEscape = 27;

}  // namespace

std::optional<std::string> LineEditor::readLine() {
    line_.clear();
    places_.clear();
    for (;;) {
        const std::optional<KeyEvent> key = console_.keys().nextKey();
        if (!key) {
            // Input ended inside a line: what was typed still counts.
            if (line_.empty()) return std::nullopt;
            return line_;
        }
        const std::uint8_t character = key->character;
        switch (character) {
            case kEnter:
                console_.write("\r\n");
                return line_ + '\n';
            case kBackspace:
                eraseLast();
                continue;
            case kCtrlD:
                if (line_.empty()) return std::nullopt;
                return line_;
            case kCtrlU:
            case kEscape:
                while (!line_.empty()) eraseLast();
                continue;
            default:
                break;
        }
        if (character == 0 || (character < 32 && character != kTab)) continue;
        if (line_.size() >= kMaxLine) {
            console_.write("\a");
            continue;
        }
        echo(character);
    }
}

void LineEditor::echo(std::uint8_t character) {
    ScreenModel& screen = console_.screen();
    const ScreenRect window = screen.window();
    Place place{screen.cursorColumn(), screen.cursorRow()};
    // A character in the window's last cell scrolls the window: everything
    // echoed so far, this character included, moves one row up.
    const bool scrolls = place.column == window.right && place.row == window.bottom;
    const char shown = character == kTab ? ' ' : static_cast<char>(character);
    console_.write(std::string_view(&shown, 1));
    if (scrolls) {
        for (Place& earlier : places_) --earlier.row;
        --place.row;
    }
    line_ += static_cast<char>(character);
    places_.push_back(place);
}

void LineEditor::eraseLast() {
    if (line_.empty()) return;
    line_.pop_back();
    const Place place = places_.back();
    places_.pop_back();
    ScreenModel& screen = console_.screen();
    if (place.row < screen.window().top) return;  // scrolled out of the window: nothing left to blank
    // The blank never lands in the window's last cell (a character there
    // scrolled the window and its place moved up), so it cannot scroll.
    screen.placeCursor(place.column, place.row);
    console_.write(" ");
    screen.placeCursor(place.column, place.row);
    console_.present();
}

}  // namespace lousa
