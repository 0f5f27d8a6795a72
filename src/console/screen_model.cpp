#include "console/screen_model.hpp"

#include <algorithm>

namespace lousa {

ScreenModel::ScreenModel(int columns, int rows)
    : columns_(std::clamp(columns, 1, kMaxColumns)),
      rows_(std::clamp(rows, 1, kMaxRows)),
      cells_(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_)),
      window_{1, 1, columns_, rows_} {}

const Cell& ScreenModel::cellAt(int column, int row) const {
    return cells_[static_cast<std::size_t>((row - 1) * columns_ + (column - 1))];
}

std::string ScreenModel::rowText(int row) const {
    std::string text;
    text.reserve(static_cast<std::size_t>(columns_));
    for (int column = 1; column <= columns_; ++column) text.push_back(static_cast<char>(cellAt(column, row).character));
    return text;
}

void ScreenModel::moveCursor(int column, int row) {
    if (column == cursorColumn_ && row == cursorRow_) return;
    cursorColumn_ = column;
    cursorRow_ = row;
    if (observer_) observer_->cursorMoved(column, row);
}

void ScreenModel::write(std::string_view bytes) {
    // Cells written in a row are reported as one run, before anything else
    // (a scroll, a bell) is reported, so the observer sees changes in order.
    int runRow = 0;
    int runFirst = 0;
    int runLast = 0;
    auto reportRun = [&] {
        if (runRow != 0 && observer_) observer_->cellsChanged(runRow, runFirst, runLast);
        runRow = 0;
    };
    int column = cursorColumn_;
    int row = cursorRow_;
    auto down = [&] {
        if (row < window_.bottom) {
            ++row;
            return;
        }
        reportRun();
        shiftRows(window_.top, window_.bottom, true);
    };
    for (const char byte : bytes) {
        const auto c = static_cast<std::uint8_t>(byte);
        switch (c) {
            case 7:
                reportRun();
                if (observer_) observer_->bell();
                break;
            case 8:
                if (column > window_.left) --column;
                break;
            case 10:
                down();
                break;
            case 13:
                column = window_.left;
                break;
            default:
                at(column, row) = Cell{c, attribute_};
                if (runRow == row && runLast + 1 == column) {
                    runLast = column;
                } else {
                    reportRun();
                    runRow = row;
                    runFirst = runLast = column;
                }
                if (column < window_.right) {
                    ++column;
                } else {
                    column = window_.left;
                    down();
                }
        }
    }
    reportRun();
    moveCursor(column, row);
}

void ScreenModel::blank(int row, int firstColumn, int lastColumn) {
    if (firstColumn > lastColumn) return;
    for (int column = firstColumn; column <= lastColumn; ++column) at(column, row) = Cell{' ', attribute_};
    if (observer_) observer_->cellsChanged(row, firstColumn, lastColumn);
}

void ScreenModel::shiftRows(int first, int last, bool up) {
    if (observer_) observer_->scrolling(ScreenRect{window_.left, first, window_.right, last}, up ? 1 : -1);
    const auto width = static_cast<std::size_t>(window_.width());
    if (up) {
        for (int row = first; row < last; ++row)
            std::copy_n(&at(window_.left, row + 1), width, &at(window_.left, row));
        blank(last, window_.left, window_.right);
    } else {
        for (int row = last; row > first; --row)
            std::copy_n(&at(window_.left, row - 1), width, &at(window_.left, row));
        blank(first, window_.left, window_.right);
    }
}

void ScreenModel::clearToEndOfLine() { blank(cursorRow_, cursorColumn_, window_.right); }

void ScreenModel::clearWindow() {
    for (int row = window_.top; row <= window_.bottom; ++row) blank(row, window_.left, window_.right);
    moveCursor(window_.left, window_.top);
}

void ScreenModel::deleteLine() { shiftRows(cursorRow_, window_.bottom, true); }

void ScreenModel::insertLine() { shiftRows(cursorRow_, window_.bottom, false); }

void ScreenModel::setTextColor(Word colour) {
    attribute_ = static_cast<std::uint8_t>((attribute_ & 112U) | (static_cast<UWord>(colour) & 143U));
    coloursChosen_ = true;
}

void ScreenModel::setTextBackground(Word colour) {
    attribute_ = static_cast<std::uint8_t>((attribute_ & 0x0FU) | ((static_cast<UWord>(colour) & 0x0FU) << 4));
    coloursChosen_ = true;
}

bool ScreenModel::setWindow(Word left, Word top, Word right, Word bottom) {
    if (left < 1 || top < 1 || left > right || top > bottom || right > columns_ || bottom > rows_) return false;
    window_ = ScreenRect{left, top, right, bottom};
    moveCursor(left, top);
    return true;
}

bool ScreenModel::gotoXY(Word column, Word row) {
    if (column < 1 || row < 1 || column > window_.width() || row > window_.height()) return false;
    moveCursor(window_.left + column - 1, window_.top + row - 1);
    return true;
}

void ScreenModel::setCursorVisible(bool visible) {
    if (visible == cursorVisible_) return;
    cursorVisible_ = visible;
    if (observer_) observer_->cursorVisibilityChanged(visible);
}

void ScreenModel::placeCursor(int column, int row) {
    if (column < window_.left || column > window_.right || row < window_.top || row > window_.bottom) return;
    moveCursor(column, row);
}

}  // namespace lousa
