#include "console/terminal_backend.hpp"

#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console/code_page.hpp"
#include "loader/stoppable_wait.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace {

void appendNumber(std::string& out, int value) { out += std::to_string(value); }

// The SGR colour parameters of an attribute in explicit colours.
void appendColours(std::string& out, std::uint8_t attribute) {
    const int foreground = attribute & 0x0F;
    const int background = (attribute >> 4) & 0x0F;
    // DOS colour order (blue first) against ANSI order (red first): swap bits 0 and 2.
    auto ansi = [](int colour) { return ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2); };
    out += "\x1b[0;";
    appendNumber(out, (foreground < 8 ? 30 : 90) + ansi(foreground & 7));
    out += ';';
    appendNumber(out, (background < 8 ? 40 : 100) + ansi(background & 7));
    out += 'm';
}

}  // namespace

std::string colourSequence(std::uint8_t attribute, ColourMode mode) {
    std::string out;
    if (mode == ColourMode::kNone) return out;
    if (mode == ColourMode::kTerminalDefaults && attribute == ScreenModel::kStartupAttribute) {
        out = "\x1b[0m";
    } else {
        appendColours(out, attribute);
    }
    return out;
}

int rowBelowOutput(const ScreenModel& screen) {
    int row = screen.cursorColumn() == 1 ? screen.cursorRow() : screen.cursorRow() + 1;
    const Cell blank{};
    for (int r = screen.rows(); r >= row; --r) {
        for (int column = 1; column <= screen.columns(); ++column) {
            if (screen.cellAt(column, r) != blank) return r + 1;
        }
    }
    return row;
}

TerminalBackend::TerminalBackend(int fd, std::unique_ptr<TerminalSession> session, TerminalCharset charset,
                                 bool colours)
    : fd_(fd),
      session_(std::move(session)),
      charset_(std::move(charset)),
      colours_(colours ? ColourMode::kTerminalDefaults : ColourMode::kNone) {
    if (session_) terminal_ = session_->size().value_or(TerminalSize{});
}

TerminalBackend::TerminalBackend(std::string& sink, TerminalCharset charset, TerminalSize terminalSize, bool colours)
    : TerminalBackend(-1, nullptr, std::move(charset), colours) {
    sink_ = &sink;
    terminal_ = terminalSize;
}

TerminalBackend::~TerminalBackend() {
    if (finished_) return;
    // The console normally finishes the backend; without it, still leave the terminal usable.
    finished_ = true;
    leaveTerminal();
}

void TerminalBackend::leaveTerminal() {
    if (colours_ != ColourMode::kNone) out_ += "\x1b[0m";
    if (cursorVisible_ != true) out_ += "\x1b[?25h";
    attribute_ = kDefaultAttribute;
    cursorVisible_ = true;
    writeOut();
    if (session_) session_->end();
}

void TerminalBackend::attach(const ScreenModel& screen, std::optional<CursorPosition> terminalCursor) {
    screen_ = &screen;
    columns_ = screen.columns();
    rows_ = screen.rows();
    const auto cells = static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_);
    drawn_.assign(cells, Cell{});
    known_.assign(cells, 0);
    dirty_.assign(static_cast<std::size_t>(rows_) + 1, DirtyColumns{});
    anyDirty_ = false;
    cursorKnown_ = terminalCursor.has_value();
    if (terminalCursor) {
        cursorColumn_ = terminalCursor->column;
        cursorRow_ = terminalCursor->row;
    }
}

void TerminalBackend::markDirty(int row, int firstColumn, int lastColumn) {
    if (screen_ == nullptr || row < 1 || row > rows_) return;
    firstColumn = std::max(firstColumn, 1);
    lastColumn = std::min(lastColumn, columns_);
    if (firstColumn > lastColumn) return;
    DirtyColumns& dirty = dirty_[static_cast<std::size_t>(row)];
    if (dirty.first == 0) {
        dirty = DirtyColumns{firstColumn, lastColumn};
    } else {
        dirty.first = std::min(dirty.first, firstColumn);
        dirty.last = std::max(dirty.last, lastColumn);
    }
    anyDirty_ = true;
}

void TerminalBackend::cellsChanged(int row, int firstColumn, int lastColumn) {
    markDirty(row, firstColumn, lastColumn);
}

void TerminalBackend::scrolling(const ScreenRect& region, int lines) {
    if (screen_ == nullptr || finished_) return;
    drawDirty();  // the terminal must show the contents that are about to move
    const bool wholeScreen = region == ScreenRect{1, 1, columns_, rows_};
    const bool terminalMatches = terminal_.columns == columns_ && terminal_.rows == rows_;
    if (lines > 0 && lines < rows_ && wholeScreen && terminalMatches) {
        // The terminal scrolls itself, and what leaves the top goes to its scrollback.
        // The lines coming in are blank in the terminal's default colours;
        // with explicit colours they are drawn again from the model.
        const bool blanksKnown = colours_ != ColourMode::kExplicit;
        if (blanksKnown) {
            setAttribute(kDefaultAttribute);
        } else {
            out_ += "\x1b[0m";
            attribute_ = kUnknownAttribute;
        }
        moveTo(1, rows_);
        // CR LF: column 1 afterwards whether or not the terminal adds the CR itself.
        for (int i = 0; i < lines; ++i) out_ += "\r\n";
        cursorKnown_ = true;
        cursorColumn_ = 1;
        cursorRow_ = rows_;
        const std::size_t moved = static_cast<std::size_t>(lines) * static_cast<std::size_t>(columns_);
        std::copy(drawn_.begin() + static_cast<std::ptrdiff_t>(moved), drawn_.end(), drawn_.begin());
        std::copy(known_.begin() + static_cast<std::ptrdiff_t>(moved), known_.end(), known_.begin());
        std::fill(drawn_.end() - static_cast<std::ptrdiff_t>(moved), drawn_.end(), Cell{' ', kDefaultAttribute});
        std::fill(known_.end() - static_cast<std::ptrdiff_t>(moved), known_.end(), static_cast<std::uint8_t>(blanksKnown ? 1 : 0));
        return;
    }
    // A window smaller than the screen (or a terminal that changed size) is
    // redrawn from the model once the rows have moved.
    for (int row = region.top; row <= region.bottom; ++row) markDirty(row, region.left, region.right);
}

void TerminalBackend::bell() {
    if (screen_ == nullptr || finished_) return;
    drawDirty();
    out_ += '\a';
}

void TerminalBackend::drawDirty() {
    if (!anyDirty_) return;
    anyDirty_ = false;
    for (int row = 1; row <= rows_; ++row) {
        DirtyColumns& dirty = dirty_[static_cast<std::size_t>(row)];
        if (dirty.first == 0) continue;
        drawRow(row, dirty.first, dirty.last);
        dirty = DirtyColumns{};
    }
}

void TerminalBackend::drawRow(int row, int firstColumn, int lastColumn) {
    if (row > terminal_.rows) return;  // the terminal has become smaller than the screen
    lastColumn = std::min(lastColumn, terminal_.columns);
    for (int column = firstColumn; column <= lastColumn; ++column) {
        if (alreadyShown(column, row)) continue;
        const Cell& cell = screen_->cellAt(column, row);
        moveTo(column, row);
        setAttribute(cell.attribute);
        out_ += charset_.glyph(cell.character);
        const std::size_t i = index(column, row);
        drawn_[i] = cell;
        known_[i] = 1;
        // In the last column terminals wait to wrap, each in its own way.
        if (column >= terminal_.columns) {
            cursorKnown_ = false;
        } else {
            cursorColumn_ = column + 1;
        }
    }
}

bool TerminalBackend::alreadyShown(int column, int row) const {
    const std::size_t i = index(column, row);
    return known_[i] != 0 && drawn_[i] == screen_->cellAt(column, row);
}

bool TerminalBackend::rewritable(int firstColumn, int lastColumn, int row) const {
    for (int column = firstColumn; column <= lastColumn; ++column)
        if (!alreadyShown(column, row) || screen_->cellAt(column, row).attribute != attribute_) return false;
    return true;
}

void TerminalBackend::moveTo(int column, int row) {
    if (cursorKnown_ && cursorRow_ == row) {
        if (cursorColumn_ == column) return;
        if (column == 1) {
            out_ += '\r';
            cursorColumn_ = 1;
            return;
        }
        // A short step right over cells the terminal already shows in the
        // current colours is cheaper written again than jumped.
        if (column > cursorColumn_ && column - cursorColumn_ <= kShortGap &&
            rewritable(cursorColumn_, column - 1, row)) {
            for (int c = cursorColumn_; c < column; ++c) out_ += charset_.glyph(screen_->cellAt(c, row).character);
            cursorColumn_ = column;
            return;
        }
    }
    out_ += "\x1b[";
    appendNumber(out_, row);
    out_ += ';';
    appendNumber(out_, column);
    out_ += 'H';
    cursorKnown_ = true;
    cursorColumn_ = column;
    cursorRow_ = row;
}

void TerminalBackend::setAttribute(std::uint8_t attribute) {
    if (attribute_ == attribute) return;
    out_ += colourSequence(attribute, colours_);
    attribute_ = attribute;
}

void TerminalBackend::syncCursor() {
    const int column = screen_->cursorColumn();
    const int row = screen_->cursorRow();
    if (column <= terminal_.columns && row <= terminal_.rows) moveTo(column, row);
    const bool visible = screen_->cursorVisible();
    if (cursorVisible_ != visible) {
        out_ += visible ? "\x1b[?25h" : "\x1b[?25l";
        cursorVisible_ = visible;
    }
}

void TerminalBackend::repaintAll() {
    // The terminal may have moved, cut or rewrapped anything on it: clear it
    // and draw every cell of the model that fits.
    out_ += "\x1b[0m\x1b[H\x1b[2J";
    attribute_ = kDefaultAttribute;
    cursorKnown_ = true;
    cursorColumn_ = 1;
    cursorRow_ = 1;
    // A cleared cell shows a blank in the default colours: known, unless
    // blanks in attribute 7 must carry explicit colours.
    const bool blanksKnown = colours_ != ColourMode::kExplicit;
    for (int row = 1; row <= rows_; ++row) {
        for (int column = 1; column <= columns_; ++column) {
            const std::size_t i = index(column, row);
            drawn_[i] = Cell{};
            known_[i] = blanksKnown && column <= terminal_.columns && row <= terminal_.rows ? 1 : 0;
        }
        markDirty(row, 1, columns_);
    }
}

void TerminalBackend::redrawEverythingDrawn() {
    for (int row = 1; row <= rows_; ++row) {
        for (int column = 1; column <= columns_; ++column) {
            std::uint8_t& known = known_[index(column, row)];
            if (known == 0) continue;
            known = 0;
            markDirty(row, column, column);
        }
    }
}

void TerminalBackend::resynchronize(bool sizeChanged) {
    if (sizeChanged && session_) terminal_ = session_->size().value_or(terminal_);
    // After a stop or a resize nothing about the terminal's state can be assumed.
    attribute_ = kUnknownAttribute;
    cursorKnown_ = false;
    cursorVisible_ = std::nullopt;
    // A resize may have cut, moved or rewrapped anything: everything is drawn
    // again. After a stop the screen is where it was, with the shell's lines
    // written over it: what the run drew is drawn again, the rest is left.
    if (sizeChanged) {
        repaintAll();
    } else {
        redrawEverythingDrawn();
    }
}

void TerminalBackend::chooseExplicitColours() {
    // What is on the screen stays; a cell shown in the terminal's default
    // colours is drawn in the program's grey on black when it is drawn again.
    colours_ = ColourMode::kExplicit;
    attribute_ = kUnknownAttribute;
    for (std::size_t i = 0; i < drawn_.size(); ++i)
        if (drawn_[i].attribute == kDefaultAttribute) known_[i] = 0;
}

void TerminalBackend::present() {
    if (screen_ == nullptr || finished_) return;
    if (session_) {
        const bool resized = TerminalSession::takeResized();
        const bool continued = TerminalSession::takeContinued();
        if (resized || continued) resynchronize(resized);
    }
    if (colours_ == ColourMode::kTerminalDefaults && screen_->coloursChosen()) chooseExplicitColours();
    drawDirty();
    syncCursor();
    writeOut();
}

void TerminalBackend::writeOut() {
    if (out_.empty()) return;
    if (sink_ != nullptr) {
        sink_->append(out_);
        out_.clear();
        return;
    }
    // Tell the restore what may need undoing before the bytes can do it.
    const bool coloured = attribute_ != kUnknownAttribute && attribute_ != kDefaultAttribute;
    const bool hidden = cursorVisible_ == false;
    if (coloured || out_.find("\x1b[0;") != std::string::npos) TerminalSession::noteColoursChanged(true);
    if (hidden) TerminalSession::noteCursorHidden(true);
    // A terminal gone, or a stop while it holds the output back, ends the write.
    int error = 0;
    writeUnlessStopped(fd_, out_.data(), out_.size(), error);
    out_.clear();
    TerminalSession::noteColoursChanged(coloured);
    TerminalSession::noteCursorHidden(hidden);
}

void TerminalBackend::finish() {
    if (finished_) return;
    present();
    finished_ = true;
    if (screen_ != nullptr) leaveFreshLine();
    leaveTerminal();
}

void TerminalBackend::leaveFreshLine() {
    if (colours_ != ColourMode::kNone && attribute_ != kDefaultAttribute) out_ += "\x1b[0m";
    attribute_ = kDefaultAttribute;  // a line scrolled in below is blank in the terminal's colours
    const int target = rowBelowOutput(*screen_);
    const int lastRow = terminal_.rows;
    if (target <= lastRow) {
        moveTo(1, target);
        return;
    }
    moveTo(1, std::min(lastRow, rows_));
    out_ += "\r\n";
}

void TerminalBackend::writeFinalMessage(std::string_view latin1Text) {
    out_ += charset_.fromLatin1(latin1Text);
    // The shell's prompt starts on a line of its own.
    if (!latin1Text.empty() && latin1Text.back() != '\n') out_ += "\r\n";
    writeOut();
}

}  // namespace lousa
