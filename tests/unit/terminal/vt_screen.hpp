#pragma once
// A small terminal for tests: it understands exactly the control sequences
// the terminal backend is allowed to send (cursor position, SGR colours,
// cursor show/hide, BEL, CR, LF with scrolling at the bottom) and keeps
// the grid, colours, cursor and scrollback. Anything else it is sent is
// recorded as an error, and so is any character written while the cursor
// waits to wrap in the last column: terminals disagree about that state, so
// the backend must reposition first.

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace lousa::test {

class VtScreen {
public:
    static constexpr int kDefault = -1;

    struct VtCell {
        std::string glyph;          // UTF-8 text of the character
        int foreground = kDefault;  // SGR colour number (30-37, 90-97) or kDefault
        int background = kDefault;  // SGR colour number (40-47, 100-107) or kDefault
    };

    VtScreen(int columns, int rows, std::string_view fill = "~")
        : columns_(columns), rows_(rows), fill_(fill), cells_(static_cast<std::size_t>(columns * rows)) {
        for (VtCell& cell : cells_) cell.glyph = fill_;
    }

    void feed(std::string_view bytes) {
        for (const char ch : bytes) feedByte(static_cast<unsigned char>(ch));
    }

    const VtCell& at(int column, int row) const { return cells_[index(column, row)]; }
    int column() const { return column_; }
    int row() const { return row_; }
    bool cursorVisible() const { return cursorVisible_; }
    int bells() const { return bells_; }
    int foreground() const { return foreground_; }
    int background() const { return background_; }
    const std::vector<std::string>& scrollback() const { return scrollback_; }
    const std::vector<std::string>& errors() const { return errors_; }
    std::string rowText(int row) const {
        std::string text;
        for (int c = 1; c <= columns_; ++c) text += at(c, row).glyph;
        return text;
    }

private:
    std::size_t index(int column, int row) const { return static_cast<std::size_t>((row - 1) * columns_ + column - 1); }

    void error(const std::string& what) {
        if (errors_.size() < 20) errors_.push_back(what);
    }

    void feedByte(unsigned char byte) {
        if (state_ == State::kEscape) {
            if (byte == '[') {
                state_ = State::kCsi;
                sequence_.clear();
            } else {
                error("ESC followed by " + std::to_string(byte));
                state_ = State::kGround;
            }
            return;
        }
        if (state_ == State::kCsi) {
            if (byte >= 0x40 && byte <= 0x7E) {
                state_ = State::kGround;
                csi(static_cast<char>(byte));
            } else if (sequence_.size() > 40) {
                error("runaway control sequence");
                state_ = State::kGround;
            } else {
                sequence_ += static_cast<char>(byte);
            }
            return;
        }
        if (utf8Left_ > 0) {
            if ((byte & 0xC0) != 0x80) error("broken UTF-8");
            utf8_ += static_cast<char>(byte);
            if (--utf8Left_ == 0) put(utf8_);
            return;
        }
        switch (byte) {
            case 0x1B:
                state_ = State::kEscape;
                return;
            case 7:
                ++bells_;
                return;
            case 13:
                column_ = 1;
                pendingWrap_ = false;
                return;
            case 10:
                if (pendingWrap_) error("line feed while waiting to wrap");
                lineFeed();
                return;
            default:
                break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            error("control byte " + std::to_string(byte));
            return;
        }
        if (byte >= 0xC0) {
            utf8_.assign(1, static_cast<char>(byte));
            utf8Left_ = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
            return;
        }
        if (byte >= 0x80) error("stray byte " + std::to_string(byte));
        put(std::string(1, static_cast<char>(byte)));
    }

    void csi(char finalByte) {
        if (finalByte == 'H') {
            int row = 1;
            int column = 1;
            if (!sequence_.empty() && std::sscanf(sequence_.c_str(), "%d;%d", &row, &column) != 2)
                error("cursor position " + sequence_);
            if (row < 1 || row > rows_ || column < 1 || column > columns_) error("position off screen " + sequence_);
            // As a terminal does, the cursor stops at the edges.
            row_ = std::clamp(row, 1, rows_);
            column_ = std::clamp(column, 1, columns_);
            pendingWrap_ = false;
        } else if (finalByte == 'm') {
            sgr();
        } else if (sequence_ == "?25" && (finalByte == 'l' || finalByte == 'h')) {
            cursorVisible_ = finalByte == 'h';
        } else if (sequence_ == "?1036" && (finalByte == 'l' || finalByte == 'h')) {
            // how Alt+key is sent: nothing on the screen
        } else if (sequence_ == "2" && finalByte == 'J') {
            for (VtCell& cell : cells_) cell = VtCell{" ", kDefault, background_};
        } else {
            error(std::string("unexpected sequence ") + sequence_ + finalByte);
        }
    }

    void sgr() {
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = sequence_.find(';', start);
            const std::string part = sequence_.substr(start, end == std::string::npos ? end : end - start);
            const int value = part.empty() ? 0 : std::stoi(part);
            if (value == 0) {
                foreground_ = background_ = kDefault;
            } else if ((value >= 30 && value <= 37) || (value >= 90 && value <= 97)) {
                foreground_ = value;
            } else if ((value >= 40 && value <= 47) || (value >= 100 && value <= 107)) {
                background_ = value;
            } else {
                error("SGR " + part);
            }
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }

    void put(const std::string& glyph) {
        if (pendingWrap_) error("character written while waiting to wrap");
        if (pendingWrap_) {
            column_ = 1;
            lineFeed();
        }
        VtCell& cell = cells_[index(column_, row_)];
        cell.glyph = glyph;
        cell.foreground = foreground_;
        cell.background = background_;
        if (column_ == columns_) {
            pendingWrap_ = true;
        } else {
            ++column_;
        }
    }

    void lineFeed() {
        pendingWrap_ = false;
        if (row_ < rows_) {
            ++row_;
            return;
        }
        scrollback_.push_back(rowText(1));
        for (int r = 1; r < rows_; ++r)
            for (int c = 1; c <= columns_; ++c) cells_[index(c, r)] = cells_[index(c, r + 1)];
        for (int c = 1; c <= columns_; ++c) cells_[index(c, rows_)] = VtCell{" ", kDefault, background_};
    }

    enum class State { kGround, kEscape, kCsi };
    int columns_;
    int rows_;
    std::string fill_;
    std::vector<VtCell> cells_;
    std::vector<std::string> scrollback_;
    std::vector<std::string> errors_;
    State state_ = State::kGround;
    std::string sequence_;
    std::string utf8_;
    int utf8Left_ = 0;
    int column_ = 1;
    int row_ = 1;
    bool pendingWrap_ = false;
    bool cursorVisible_ = true;
    int bells_ = 0;
    int foreground_ = kDefault;
    int background_ = kDefault;
};

}  // namespace lousa::test
