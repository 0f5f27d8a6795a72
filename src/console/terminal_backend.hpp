#pragma once
// Terminal mode: draws the screen model on a terminal with ECMA-48 / xterm
// control sequences.
//
// The backend keeps a copy of what it has drawn (cell by cell, with "never
// drawn" for cells the run has not touched, which still show whatever the
// terminal showed before the run) and, at the end of each console operation,
// draws the cells that differ and puts the cursor where the model has it.
// Everything an operation changed is on the screen before the next
// instruction runs.
//
// - Cursor: moved absolutely. After a cell in the terminal's last column is
//   drawn the terminal's cursor is taken as unknown (terminals differ in
//   where a pending wrap leaves it), so the next move is absolute again.
// - Colours: until the program chooses colours itself, the start-up
//   attribute 7 is drawn with the terminal's own default colours (SGR 0), so
//   a program that never sets colours leaves them alone. Any other attribute,
//   and from the program's first choice of colours every attribute (grey on
//   black included), is drawn with explicit colours: DOS colour numbers 0-7
//   as SGR 30-37 / 40-47 (0 black, 1 blue, 2 green, 3 cyan, 4 red,
//   5 magenta, 6 brown/yellow, 7 light grey), bright foregrounds 8-15 as
//   SGR 90-97 (not bold), and bright backgrounds 8-15 as SGR 100-107, the
//   bright background colours of xterm-like terminals (a PC console shows
//   bit 7 of the attribute as a bright background, not as blinking). Without
//   colours (NO_COLOR) no colour sequence is ever written.
// - Scrolling: when the window is the whole screen and the screen scrolls
//   up, the terminal scrolls itself (line feeds at the bottom row), so earlier
//   output stays in its scrollback. A smaller window is redrawn from the model.
// - Resizing: once the terminal is at least as large as the screen, the whole
//   screen is repainted from the model; while it is smaller, what fits is
//   drawn.
// - Characters: through the locale's code set (see terminal_charset.hpp).
// - The end: the attributes are reset and the cursor goes to the start of
//   the line below the lowest row the program drew on (scrolling if needed),
//   so that whatever the shell writes next starts on a fresh line.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/backend.hpp"
#include "console/terminal_charset.hpp"
#include "console/terminal_session.hpp"

namespace lousa {

enum class ColourMode {
    kTerminalDefaults,  // attribute 7 in the terminal's own colours
    kExplicit,          // every attribute in explicit colours
    kNone,              // no colour sequences at all
};

// The sequence that makes the terminal draw in an attribute's colours.
std::string colourSequence(std::uint8_t attribute, ColourMode mode);

// The row where the shell's next line belongs once the run is over: the one
// below the lowest row holding anything but blanks in attribute 7, and
// below the cursor's row when the cursor is not at the start of its row.
// It may be rows() + 1 (the screen must scroll).
int rowBelowOutput(const ScreenModel& screen);

class TerminalBackend : public Backend {
public:
    // Draws on a terminal; the session is ended by finish().
    TerminalBackend(int fd, std::unique_ptr<TerminalSession> session, TerminalCharset charset, bool colours = true);
    // Draws into a string instead (tests); terminalSize is what the "terminal" measures.
    TerminalBackend(std::string& sink, TerminalCharset charset, TerminalSize terminalSize, bool colours = true);
    ~TerminalBackend() override;

    // The model to draw (it must outlive the backend's use) and where the
    // terminal's cursor is now, when known.
    void attach(const ScreenModel& screen, std::optional<CursorPosition> terminalCursor);

    // ScreenObserver
    void cellsChanged(int row, int firstColumn, int lastColumn) override;
    void scrolling(const ScreenRect& region, int lines) override;
    void bell() override;

    // Backend
    void present() override;
    void flush() override { present(); }
    void finish() override;
    void writeFinalMessage(std::string_view latin1Text) override;

private:
    static constexpr int kUnknownAttribute = -1;
    static constexpr std::uint8_t kDefaultAttribute = 7;
    static constexpr int kShortGap = 4;  // cells cheaper to rewrite than to jump over

    struct DirtyColumns {
        int first = 0;  // 0: the row is clean
        int last = 0;
    };

    std::size_t index(int column, int row) const {
        return static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(columns_) +
               static_cast<std::size_t>(column - 1);
    }
    void markDirty(int row, int firstColumn, int lastColumn);
    void drawDirty();
    void drawRow(int row, int firstColumn, int lastColumn);
    bool alreadyShown(int column, int row) const;
    bool rewritable(int firstColumn, int lastColumn, int row) const;
    void moveTo(int column, int row);
    void setAttribute(std::uint8_t attribute);
    void syncCursor();
    void resynchronize(bool sizeChanged);
    void repaintAll();
    void redrawEverythingDrawn();
    void chooseExplicitColours();
    void leaveFreshLine();
    void leaveTerminal();
    void writeOut();

    int fd_ = -1;
    std::string* sink_ = nullptr;
    std::unique_ptr<TerminalSession> session_;
    TerminalCharset charset_;
    ColourMode colours_;

    const ScreenModel* screen_ = nullptr;
    int columns_ = 0;
    int rows_ = 0;
    TerminalSize terminal_;  // the terminal's size now (drawing is clipped to it)
    std::vector<Cell> drawn_;
    std::vector<std::uint8_t> known_;  // 1: drawn_ holds what the terminal shows there
    std::vector<DirtyColumns> dirty_;
    bool anyDirty_ = false;

    std::string out_;
    bool cursorKnown_ = false;
    int cursorColumn_ = 1;
    int cursorRow_ = 1;
    int attribute_ = kUnknownAttribute;         // what the terminal draws with now
    std::optional<bool> cursorVisible_ = true;  // nullopt: unknown
    bool finished_ = false;
};

}  // namespace lousa
