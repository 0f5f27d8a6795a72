#include "console/terminal_session.hpp"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "loader/stop_signals.hpp"

namespace lousa {

namespace {

// Everything a signal handler touches lives here, prepared before any signal
// can need it. Flags are sig_atomic_t; the termios records are written only
// while no handler can run on a half-written copy that matters (the saved
// settings are taken once, before the first change).
int gInputFd = -1;
int gOutputFd = -1;
volatile sig_atomic_t gOutputIsTerminal = 0;
termios gSaved{};
termios gProgram{};
bool gHaveSaved = false;
volatile sig_atomic_t gModeWanted = 0;   // the run keeps the input in our mode (re-applied on SIGCONT)
volatile sig_atomic_t gModeApplied = 0;  // the terminal may hold our mode now
volatile sig_atomic_t gColoursChanged = 0;
volatile sig_atomic_t gCursorHidden = 0;
volatile sig_atomic_t gResized = 0;
volatile sig_atomic_t gContinued = 0;
// The output terminal opened on its own for the cursor query when standard
// input is not that terminal.
int gQueryFd = -1;
termios gQuerySaved{};
volatile sig_atomic_t gQueryModeApplied = 0;

constexpr int kMaxSignal = 65;
struct sigaction gPrevious[kMaxSignal];
bool gInstalled[kMaxSignal] = {};

constexpr char kResetColours[] = "\x1b[0m";
// Alt+key as ESC followed by the key (xterm's metaSendsEscape), rather than
// the key's character with its eighth bit set.
constexpr char kAltSendsEscape[] = "\x1b[?1036h";
constexpr char kAltSendsEscapeOff[] = "\x1b[?1036l";
constexpr char kShowCursor[] = "\x1b[?25h";
constexpr char kHideCursor[] = "\x1b[?25l";

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // the terminal is gone: nothing more to do
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

template <std::size_t N>
void writeText(int fd, const char (&text)[N]) {
    writeAll(fd, text, N - 1);
}

// Async-signal-safe: write(2) and tcsetattr only.
void restoreTerminal() noexcept {
    if (gOutputIsTerminal != 0) {
        if (gColoursChanged != 0) writeText(gOutputFd, kResetColours);
        if (gCursorHidden != 0) writeText(gOutputFd, kShowCursor);
    }
    if (gModeApplied != 0) {
        if (gOutputIsTerminal != 0) writeText(gOutputFd, kAltSendsEscapeOff);
        ::tcsetattr(gInputFd, TCSANOW, &gSaved);
        gModeApplied = 0;
    }
    if (gQueryModeApplied != 0) {
        ::tcsetattr(gQueryFd, TCSANOW, &gQuerySaved);
        gQueryModeApplied = 0;
    }
}

void applyMode() {
    gModeApplied = 1;  // first: a signal arriving now restores settings that are still right
    ::tcsetattr(gInputFd, TCSANOW, &gProgram);
    if (gOutputIsTerminal != 0) writeText(gOutputFd, kAltSendsEscape);
}

void reapplyAfterContinue() {
    if (gModeWanted != 0) applyMode();
    if (gOutputIsTerminal != 0 && gCursorHidden != 0) writeText(gOutputFd, kHideCursor);
    gContinued = 1;
}

void onStop(int signal);

void installStopHandler() {
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTSTP, &action, nullptr);
}

void onStop(int) {
    const int savedErrno = errno;
    restoreTerminal();
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(SIGTSTP, &defaultAction, nullptr);
    sigset_t stopOnly;
    sigemptyset(&stopOnly);
    sigaddset(&stopOnly, SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &stopOnly, nullptr);
    ::raise(SIGTSTP);  // the process stops here until SIGCONT
    installStopHandler();
    reapplyAfterContinue();
    errno = savedErrno;
}

void onContinue(int) {
    const int savedErrno = errno;
    reapplyAfterContinue();
    errno = savedErrno;
}

void onResize(int) { gResized = 1; }

void install(int signal, void (*handler)(int), int flags, bool keepIgnored) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) != 0) return;
    // A signal the shell told us to ignore (a background job's Ctrl+C) stays ignored.
    if (keepIgnored && previous.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    if (::sigaction(signal, &action, &gPrevious[signal]) == 0) gInstalled[signal] = true;
}

void uninstallAll() {
    for (int signal = 1; signal < kMaxSignal; ++signal) {
        if (!gInstalled[signal]) continue;
        ::sigaction(signal, &gPrevious[signal], nullptr);
        gInstalled[signal] = false;
    }
}

void restoreAtExit() {
    gModeWanted = 0;
    restoreTerminal();
}

long long nowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

termios nonCanonical(const termios& settings) {
    termios changed = settings;
    changed.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    // Ctrl+S and Ctrl+Q are keys for the program, not output flow control.
    changed.c_iflag &= ~static_cast<tcflag_t>(IXON);
    changed.c_cc[VMIN] = 1;
    changed.c_cc[VTIME] = 0;
    return changed;
}

}  // namespace

TerminalSession::TerminalSession(int inputFd, int outputFd, bool drawsOnOutput)
    : inputFd_(inputFd),
      outputFd_(outputFd),
      inputIsTerminal_(::isatty(inputFd) == 1),
      outputIsTerminal_(::isatty(outputFd) == 1) {
    gInputFd = inputFd;
    gOutputFd = outputFd;
    gOutputIsTerminal = outputIsTerminal_ && drawsOnOutput ? 1 : 0;
    gHaveSaved = inputIsTerminal_ && ::tcgetattr(inputFd, &gSaved) == 0;
    if (gHaveSaved) gProgram = nonCanonical(gSaved);

    static bool atExitRegistered = false;
    if (!atExitRegistered) atExitRegistered = std::atexit(restoreAtExit) == 0;
    // Ending and fatal signals have one set of handlers in the process (the
    // run sequence's); they call this restore before the process ends.
    setTerminalRestore(restoreTerminal);
    // Job control and resizing are the terminal's own business.
    install(SIGTSTP, onStop, SA_RESTART, true);
    install(SIGCONT, onContinue, SA_RESTART, false);
    install(SIGWINCH, onResize, SA_RESTART, false);
}

TerminalSession::~TerminalSession() {
    end();
    setTerminalRestore(nullptr);
    uninstallAll();
}

void TerminalSession::enterProgramMode() {
    if (!gHaveSaved) return;
    gModeWanted = 1;
    applyMode();
}

void TerminalSession::enterKeyMode() { enterProgramMode(); }

void TerminalSession::leaveKeyMode() {
    gModeWanted = 0;
    if (gModeApplied != 0) {
        ::tcsetattr(inputFd_, TCSANOW, &gSaved);
        gModeApplied = 0;
    }
}

void TerminalSession::noteColoursChanged(bool changed) { gColoursChanged = changed ? 1 : 0; }
void TerminalSession::noteCursorHidden(bool hidden) { gCursorHidden = hidden ? 1 : 0; }

void TerminalSession::end() {
    gModeWanted = 0;
    restoreTerminal();
    gColoursChanged = 0;
    gCursorHidden = 0;
}

bool TerminalSession::takeResized() {
    if (gResized == 0) return false;
    gResized = 0;
    return true;
}

bool TerminalSession::redrawPending() { return gResized != 0 || gContinued != 0; }

bool TerminalSession::takeContinued() {
    if (gContinued == 0) return false;
    gContinued = 0;
    return true;
}

std::optional<TerminalSize> TerminalSession::size() const {
    winsize size{};
    if (::ioctl(outputFd_, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return std::nullopt;
    return TerminalSize{size.ws_col, size.ws_row};
}

std::optional<CursorPosition> TerminalSession::queryCursor(int timeoutMs, std::string& typedAhead) {
    if (!outputIsTerminal_) return std::nullopt;
    int fd = inputFd_;
    const bool ownTerminal = !(inputIsTerminal_ && gModeApplied != 0);
    if (ownTerminal) {
        // The answer arrives on the output terminal's input, which is not our
        // standard input (or is not in a mode that hands it over at once).
        const char* name = ::ttyname(outputFd_);
        if (name == nullptr) return std::nullopt;
        fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        if (::tcgetattr(fd, &gQuerySaved) != 0) {
            ::close(fd);
            return std::nullopt;
        }
        gQueryFd = fd;
        const termios quiet = nonCanonical(gQuerySaved);
        gQueryModeApplied = 1;
        ::tcsetattr(fd, TCSANOW, &quiet);
    }

    writeText(outputFd_, "\x1b[6n");
    std::string received;
    std::optional<CursorPosition> answer;
    const long long deadline = nowMs() + timeoutMs;
    for (long long left = timeoutMs; left > 0; left = deadline - nowMs()) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char chunk[256];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        received.append(chunk, static_cast<std::size_t>(n));
        CursorPosition position;
        if (takeCursorReport(received, position)) {
            answer = position;
            break;
        }
    }
    lateReportDeadlineMs_ = answer ? 0 : nowMs() + 5000;

    if (ownTerminal) {
        if (gQueryModeApplied != 0) ::tcsetattr(fd, TCSANOW, &gQuerySaved);
        gQueryModeApplied = 0;
        gQueryFd = -1;
        ::close(fd);
        // Keys typed there belong to a terminal the program does not read.
    } else {
        typedAhead += received;
    }
    return answer;
}

bool TerminalSession::lateReportExpected() const {
    return lateReportDeadlineMs_ != 0 && nowMs() < lateReportDeadlineMs_;
}

bool takeCursorReport(std::string& bytes, CursorPosition& position) {
    auto number = [&bytes](std::size_t& i, int& value) {
        const std::size_t start = i;
        value = 0;
        while (i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9' && i - start < 6) {
            value = value * 10 + (bytes[i] - '0');
            ++i;
        }
        return i > start;
    };
    for (std::size_t start = bytes.find('\x1b'); start != std::string::npos; start = bytes.find('\x1b', start + 1)) {
        std::size_t i = start + 1;
        if (i >= bytes.size() || bytes[i] != '[') continue;
        ++i;
        int row = 0;
        int column = 0;
        if (!number(i, row) || i >= bytes.size() || bytes[i] != ';') continue;
        ++i;
        if (!number(i, column) || i >= bytes.size() || bytes[i] != 'R') continue;
        bytes.erase(start, i + 1 - start);
        position = CursorPosition{column < 1 ? 1 : column, row < 1 ? 1 : row};
        return true;
    }
    return false;
}

bool localeIsUtf8() {
    const locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) return false;
    const char* codeset = ::nl_langinfo_l(CODESET, locale);
    const bool utf8 = codeset != nullptr && (::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "utf8") == 0);
    ::freelocale(locale);
    return utf8;
}

std::size_t TerminalByteSource::read(char* buffer, std::size_t capacity) {
    if (!typedAhead_.empty()) {
        const std::size_t n = typedAhead_.copy(buffer, capacity);
        typedAhead_.erase(0, n);
        return n;
    }
    for (;;) {
        waitForInput();
        const std::size_t n = FdByteSource::read(buffer, capacity);
        if (n == 0 || !session_.lateReportExpected()) return n;
        std::string bytes(buffer, n);
        CursorPosition ignored;
        if (!takeCursorReport(bytes, ignored)) return n;
        session_.lateReportArrived();
        if (bytes.empty()) continue;  // the report was all there was: wait for real input
        return bytes.copy(buffer, bytes.size());
    }
}

bool TerminalByteSource::waitReadable(int timeoutMs) {
    return !typedAhead_.empty() || FdByteSource::waitReadable(timeoutMs);
}

void TerminalByteSource::waitForInput() {
    // The signals of job control and resizing restart a blocked read, so the
    // wait looks up now and then for a screen to redraw.
    constexpr int kLookEveryMs = 200;
    while (!stopRequested()) {
        if (onRedraw_ && TerminalSession::redrawPending()) onRedraw_();
        pollfd p{fd(), POLLIN, 0};
        const int ready = ::poll(&p, 1, kLookEveryMs);
        if (ready > 0 || (ready < 0 && errno != EINTR)) return;
    }
}

void TerminalByteSource::discardPending() {
    typedAhead_.clear();
    FdByteSource::discardPending();
    if (onDiscard_) onDiscard_();
}

std::optional<KeyEvent> KeyModeKeySource::nextKey() {
    session_.enterKeyMode();
    std::optional<KeyEvent> key = keys_->nextKey();
    session_.leaveKeyMode();
    return key;
}

bool KeyModeKeySource::keyWaiting() {
    session_.enterKeyMode();
    const bool waiting = keys_->keyWaiting();
    session_.leaveKeyMode();
    return waiting;
}

}  // namespace lousa
