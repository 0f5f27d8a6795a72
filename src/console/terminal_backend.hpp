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
// - Colours: the start-up attribute 7 is drawn with the terminal's own default
//   colours (SGR 0), so a program that never sets colours leaves them alone.
//   Any other attribute is drawn with explicit colours: DOS colour numbers
//   0-7 as SGR 30-37 / 40-47 (0 black, 1 blue, 2 green, 3 cyan, 4 red,
//   5 magenta, 6 brown/yellow, 7 light grey), bright foregrounds 8-15 as
//   SGR 90-97 (not bold), and bright backgrounds 8-15 as SGR 100-107, the
//   bright background colours of xterm-like terminals (a PC console shows
//   bit 7 of the attribute as a bright background, not as blinking).
// - Scrolling: when the window is the whole screen and the screen scrolls
//   up, the terminal scrolls itself (line feeds at the bottom row), so earlier
//   output stays in its scrollback. A smaller window is redrawn from the model.
// - Characters: code page 850 is written as UTF-8 when the locale's codeset is
//   UTF-8. Otherwise bytes go out as they are, except that bytes 0x80-0x9F,
//   which are C1 control characters in ISO 8859 character sets, are shown as
//   '?' unless the codeset is a PC one (850 or 437). Control bytes held in
//   cells are drawn as the symbols a PC console shows (or '?'), never sent as
//   controls.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/backend.hpp"
#include "console/terminal_session.hpp"

namespace lousa {

class TerminalBackend : public Backend {
public:
    enum class Charset {
        kUtf8,           // code page 850 transcoded to UTF-8
        kPcBytes,        // the terminal's own character set is a PC code page: bytes as they are
        kEightBitBytes,  // bytes as they are, but never C1 controls
    };

    // Draws on a terminal; the session is ended by finish().
    TerminalBackend(int fd, std::unique_ptr<TerminalSession> session, Charset charset);
    // Draws into a string instead (tests); terminalSize is what the "terminal" measures.
    TerminalBackend(std::string& sink, Charset charset, TerminalSize terminalSize);
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

    // The charset for the locale the process runs in.
    static Charset charsetForLocale();

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
    void redrawEverythingDrawn();
    void writeOut();

    int fd_ = -1;
    std::string* sink_ = nullptr;
    std::unique_ptr<TerminalSession> session_;
    Charset charset_;
    std::string glyphs_[256];  // what each cell byte is written as

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
