#pragma once
// The terminal's settings for the length of a run, and their restoration on
// every way out.
//
// While a program runs with a terminal on standard input and output, the
// terminal is in non-canonical, no-echo mode without output flow control
// (signals and output processing stay as they were), so that keys arrive one
// by one, Ctrl+S and Ctrl+Q among them, and the runner echoes line input
// itself; the terminal is asked to send Alt+key as ESC and the key. The settings found at start, the colours and the cursor
// are restored at the end of the run and on every way out:
// - Ctrl+C, SIGTERM, SIGHUP, SIGQUIT and crashes are handled by the run
//   sequence's one set of handlers (loader/stop_signals.hpp), which calls the
//   session's restore, registered with setTerminalRestore();
// - the session itself handles job control: on Ctrl+Z (SIGTSTP) the terminal
//   is restored before the process stops, and SIGCONT puts the run's settings
//   back; SIGWINCH is noted for the backend;
// - an exit() from anywhere restores through atexit.
//
// Restoring runs inside signal handlers, so it only uses write(2) and
// tcsetattr with state prepared in advance. There is one session per process.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "console/input_reader.hpp"
#include "console/key_event.hpp"

namespace lousa {

struct CursorPosition {
    int column = 1;
    int row = 1;
    bool operator==(const CursorPosition&) const = default;
};

struct TerminalSize {
    int columns = 80;
    int rows = 25;
};

class TerminalSession {
public:
    // Installs the handlers; nothing is changed on the terminal yet. Without
    // drawsOnOutput no control sequence is ever written to the output (a
    // terminal that gets plain output).
    TerminalSession(int inputFd, int outputFd, bool drawsOnOutput = true);
    ~TerminalSession();  // end()
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    [[nodiscard]] bool inputIsTerminal() const { return inputIsTerminal_; }
    [[nodiscard]] bool outputIsTerminal() const { return outputIsTerminal_; }
    [[nodiscard]] int outputFd() const { return outputFd_; }

    // Non-canonical, no-echo input until end() (a terminal on both ends).
    void enterProgramMode();
    // The same, for the duration of one key read when output is not a terminal.
    void enterKeyMode();
    void leaveKeyMode();

    // What the restore must undo on the output terminal; the backend keeps
    // these current as it draws.
    static void noteColoursChanged(bool changed);
    static void noteCursorHidden(bool hidden);

    // Restores the terminal settings, the colours and the cursor. Idempotent.
    void end();

    // Asks the output terminal where its cursor is (ESC [ 6 n) and waits up to
    // timeoutMs for the answer. Bytes typed around the answer are appended to
    // typedAhead; the answer never is. Nothing when no answer came in time.
    std::optional<CursorPosition> queryCursor(int timeoutMs, std::string& typedAhead);
    // True while a cursor report that came too late may still arrive; such a
    // report is taken out of the input (see TerminalByteSource).
    [[nodiscard]] bool lateReportExpected() const;
    void lateReportArrived() { lateReportDeadlineMs_ = 0; }

    // The output terminal's size, when it tells.
    [[nodiscard]] std::optional<TerminalSize> size() const;

    // Raised by SIGWINCH and SIGCONT; each call takes the flag down.
    static bool takeResized();
    static bool takeContinued();
    // Whether either flag is up, leaving it up.
    static bool redrawPending();

private:
    int inputFd_;
    int outputFd_;
    bool inputIsTerminal_;
    bool outputIsTerminal_;
    long long lateReportDeadlineMs_ = 0;
};

// Takes the first cursor position report (ESC [ row ; column R) out of
// bytes; true when one was found.
bool takeCursorReport(std::string& bytes, CursorPosition& position);

// The locale's character set is UTF-8 (the terminal shows and sends UTF-8).
bool localeIsUtf8();

// Standard input when it is a terminal: bytes typed around the start-up cursor
// query come first, and a cursor report that arrives late is taken out.
class TerminalByteSource : public FdByteSource {
public:
    TerminalByteSource(int fd, TerminalSession& session, std::string typedAhead)
        : FdByteSource(fd), session_(session), typedAhead_(std::move(typedAhead)) {}
    std::size_t read(char* buffer, std::size_t capacity) override;
    bool waitReadable(int timeoutMs) override;
    void discardPending() override;
    // Called when typed-ahead input is discarded, for those who hold some of it decoded.
    void setOnDiscard(std::function<void()> onDiscard) { onDiscard_ = std::move(onDiscard); }
    // Called while waiting for input when the terminal was resized or the
    // process continued after a stop, so the screen is redrawn at once
    // rather than at the next key.
    void setOnRedraw(std::function<void()> onRedraw) { onRedraw_ = std::move(onRedraw); }

private:
    void waitForInput();

    TerminalSession& session_;
    std::string typedAhead_;
    std::function<void()> onDiscard_;
    std::function<void()> onRedraw_;
};

// Key presses from a terminal whose output is not a terminal: line reads use
// the terminal's own canonical mode, and only key reads switch to
// non-canonical no-echo mode, for their duration.
class KeyModeKeySource : public KeySource {
public:
    KeyModeKeySource(TerminalSession& session, std::unique_ptr<KeySource> keys)
        : session_(session), keys_(std::move(keys)) {}
    std::optional<KeyEvent> nextKey() override;
    bool keyWaiting() override;

private:
    TerminalSession& session_;
    std::unique_ptr<KeySource> keys_;
};

}  // namespace lousa
