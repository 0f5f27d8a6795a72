#include "console/line_editor.hpp"

#include <algorithm>

namespace lousa {

namespace {

constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kTab = 9;
constexpr std::uint8_t kEnter = 13;
constexpr std::uint8_t kCtrlD = 4;
constexpr std::uint8_t kCtrlU = 21;
constexpr std::uint8_t kEscape = 27;

bool isBlank(char c) { return c == ' ' || c == static_cast<char>(kTab); }

}  // namespace

std::optional<std::string> LineEditor::readLine(std::size_t maxLength) {
    line_.clear();
    cursor_ = 0;
    overwrite_ = false;
    maxLength_ = std::max<std::size_t>(maxLength, 1);
    recalled_ = history_.size();
    const ScreenModel& screen = console_.screen();
    start_ = Place{screen.cursorColumn(), screen.cursorRow()};
    for (;;) {
        const std::optional<KeyEvent> key = console_.keys().nextKey();
        // Input ended inside a line: what was typed still counts.
        const Outcome outcome = key ? apply(*key) : (line_.empty() ? Outcome::kEnd : Outcome::kDeliverUnended);
        switch (outcome) {
            case Outcome::kContinue:
                continue;
            case Outcome::kEnd:
                return std::nullopt;
            case Outcome::kDeliverUnended:
                return line_;
            case Outcome::kDeliver:
                moveCursor(line_.size());
                console_.write("\r\n");
                if (!line_.empty() && (history_.empty() || history_.back() != line_)) history_.push_back(line_);
                return line_ + '\n';
        }
    }
}

LineEditor::Outcome LineEditor::apply(const KeyEvent& key) {
    switch (key.character) {
        case kEnter:
            return Outcome::kDeliver;
        case kBackspace:
            if (cursor_ > 0) erase(cursor_ - 1);
            return Outcome::kContinue;
        case kCtrlD:
            return line_.empty() ? Outcome::kEnd : Outcome::kDeliverUnended;
        case kCtrlU:
        case kEscape:
            replaceLine("");
            return Outcome::kContinue;
        default:
            break;
    }
    if (key.character >= 32 || key.character == kTab) {
        insert(key.character);
        return Outcome::kContinue;
    }
    if (key.character != 0) return Outcome::kContinue;  // other control keys
    std::size_t word = cursor_;
    switch (key.virtualKey) {
        case vk::kLeft:
            if (key.ctrl) {
                while (word > 0 && isBlank(line_[word - 1])) --word;
                while (word > 0 && !isBlank(line_[word - 1])) --word;
                moveCursor(word);
            } else if (cursor_ > 0) {
                moveCursor(cursor_ - 1);
            }
            break;
        case vk::kRight:
            if (key.ctrl) {
                while (word < line_.size() && !isBlank(line_[word])) ++word;
                while (word < line_.size() && isBlank(line_[word])) ++word;
                moveCursor(word);
            } else if (cursor_ < line_.size()) {
                moveCursor(cursor_ + 1);
            }
            break;
        case vk::kHome:
            moveCursor(0);
            break;
        case vk::kEnd:
            moveCursor(line_.size());
            break;
        case vk::kDelete:
            if (cursor_ < line_.size()) erase(cursor_);
            break;
        case vk::kInsert:
            overwrite_ = !overwrite_;
            break;
        case vk::kUp:
            recall(-1);
            break;
        case vk::kDown:
            recall(+1);
            break;
        case vk::kF1:
        case vk::kF1 + 2: {  // F1: the last line's next character; F3: all the rest of it
            if (history_.empty() || history_.back().size() <= cursor_) break;
            const std::string& last = history_.back();
            const std::size_t count = key.virtualKey == vk::kF1 ? 1 : last.size() - cursor_;
            std::string text = line_.substr(0, cursor_) + last.substr(cursor_, count);
            if (text.size() < line_.size()) text += line_.substr(text.size());
            const std::size_t cursor = std::min(cursor_ + count, maxLength_);
            replaceLine(text);
            moveCursor(cursor);
            break;
        }
        default:
            break;
    }
    return Outcome::kContinue;
}

void LineEditor::insert(std::uint8_t character) {
    const std::size_t previousLength = line_.size();
    if (overwrite_ && cursor_ < line_.size()) {
        line_[cursor_] = static_cast<char>(character);
    } else if (line_.size() >= maxLength_) {
        console_.write("\a");
        return;
    } else {
        line_.insert(cursor_, 1, static_cast<char>(character));
    }
    ++cursor_;
    redraw(cursor_ - 1, previousLength);
}

void LineEditor::erase(std::size_t position) {
    const std::size_t previousLength = line_.size();
    line_.erase(position, 1);
    cursor_ = position;
    redraw(position, previousLength);
}

void LineEditor::replaceLine(const std::string& text) {
    const std::size_t previousLength = line_.size();
    line_ = text.substr(0, maxLength_);
    cursor_ = line_.size();
    redraw(0, previousLength);
}

void LineEditor::recall(int step) {
    if (history_.empty()) return;
    if (step < 0) {
        if (recalled_ == 0) return;  // the oldest line stays
        --recalled_;
    } else {
        if (recalled_ + 1 >= history_.size()) return;  // the newest line stays
        ++recalled_;
    }
    replaceLine(history_[recalled_]);
}

void LineEditor::moveCursor(std::size_t position) {
    cursor_ = std::min(position, line_.size());
    const Place place = placeOf(cursor_);
    ScreenModel& screen = console_.screen();
    const ScreenRect window = screen.window();
    // A place scrolled out of the window is shown at the window's top.
    screen.placeCursor(place.row < window.top ? window.left : place.column, std::max(place.row, window.top));
    console_.present();
}

void LineEditor::redraw(std::size_t from, std::size_t previousLength) {
    for (std::size_t i = from; i < line_.size(); ++i) drawCell(i, static_cast<std::uint8_t>(line_[i]));
    // The cells beyond the end never hold the window's last cell (a
    // character written there scrolled the window and moved up), so a
    // blank written here cannot scroll.
    for (std::size_t i = std::max(from, line_.size()); i < previousLength; ++i) drawCell(i, ' ');
    moveCursor(cursor_);
}

void LineEditor::drawCell(std::size_t index, std::uint8_t character) {
    const Place place = placeOf(index);
    ScreenModel& screen = console_.screen();
    const ScreenRect window = screen.window();
    if (place.row < window.top || place.row > window.bottom) return;  // scrolled away
    screen.placeCursor(place.column, place.row);
    const char shown = static_cast<char>(character);
    screen.write(std::string_view(&shown, 1));  // shown at once by the redraw's cursor move
    // The window's last cell scrolls the window: the whole line moves up.
    if (place.column == window.right && place.row == window.bottom) --start_.row;
}

LineEditor::Place LineEditor::placeOf(std::size_t index) const {
    const ScreenRect window = console_.screen().window();
    const int width = window.width();
    const long offset = static_cast<long>(start_.column - window.left) + static_cast<long>(index);
    return Place{window.left + static_cast<int>(offset % width), start_.row + static_cast<int>(offset / width)};
}

}  // namespace lousa
