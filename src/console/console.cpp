#include "console/console.hpp"

#include <unistd.h>

#include "console/key_decoder.hpp"
#include "console/plain_backend.hpp"
#include "console/terminal_capabilities.hpp"
#include "console/terminal_console.hpp"
#include "console/terminal_session.hpp"
#include "loader/stoppable_wait.hpp"

namespace lousa {

Console::Console(std::unique_ptr<Backend> backend, std::unique_ptr<ByteSource> input, int columns, int rows)
    : screen_(columns, rows),
      backend_(std::move(backend)),
      input_(std::move(input)),
      keys_(std::make_unique<ByteKeySource>(input_)) {
    screen_.setObserver(backend_.get());
    // whatever the program wrote is visible (and its files are on disk)
    // before it waits for an answer
    input_.setBeforeWait([this] { beforeWait(); });
}

Console::~Console() {
    finish();
    screen_.setObserver(nullptr);
}

void Console::setKeySource(std::unique_ptr<KeySource> keys) { keys_ = std::move(keys); }

void Console::setLineSource(std::unique_ptr<LineSource> lines) {
    lines_ = std::move(lines);
    input_.setLineSource(lines_.get());
}

void Console::write(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.empty()) return;
    backend_->programText(bytes);
    screen_.write(bytes);
    backend_->present();
}

void Console::flushInput() { input_.discardTypedAhead(); }

void Console::flushOutput() { backend_->flush(); }

void Console::beforeWait() {
    flushOutput();
    if (runBeforeWait_) runBeforeWait_();
}

void Console::delay(Word milliseconds) {
    if (milliseconds <= 0) {
        flushOutput();
        return;
    }
    beforeWait();
    // A stop signal cuts the pause short: the run ends at this instruction.
    pauseUnlessStopped(milliseconds);
}

void Console::finish() {
    if (finished_) return;
    finished_ = true;
    backend_->finish();
}

void Console::writeFinalMessage(std::string_view latin1Text) { backend_->writeFinalMessage(latin1Text); }

namespace {

// Keys typed on a terminal whose output is not one: the terminal stays in its
// own line mode (it echoes line reads) and goes to key mode only while a key
// is read. The session restores it on every way out.
class TerminalKeysForPlainOutput : public KeySource {
public:
    TerminalKeysForPlainOutput(std::unique_ptr<TerminalSession> session, std::unique_ptr<KeySource> keys)
        : session_(std::move(session)), keys_(*session_, std::move(keys)) {}
    std::optional<KeyEvent> nextKey() override { return keys_.nextKey(); }
    bool keyWaiting() override { return keys_.keyWaiting(); }

private:
    std::unique_ptr<TerminalSession> session_;
    KeyModeKeySource keys_;
};

}  // namespace

std::unique_ptr<Console> makePlainConsole(int inputFd, int outputFd) {
    auto console =
        std::make_unique<Console>(std::make_unique<PlainBackend>(outputFd), std::make_unique<FdByteSource>(inputFd));
    // Piped bytes are decoded like a terminal's, so arrow-key sequences in a
    // script arrive as the arrow keys.
    console->setKeySource(std::make_unique<DecodedKeySource>(console->input(), false));
    return console;
}

std::unique_ptr<Console> makeProcessConsole() {
    if (::isatty(STDOUT_FILENO) == 1) {
        // A terminal that cannot move its cursor (TERM=dumb, say) gets plain output.
        const TerminalCapabilities capabilities = environmentTerminalCapabilities();
        if (capabilities.cursorAddressing) {
            if (auto console = makeTerminalConsole(STDIN_FILENO, STDOUT_FILENO, capabilities.colours)) return console;
        }
    }
    std::unique_ptr<Console> console = makePlainConsole(STDIN_FILENO, STDOUT_FILENO);
    if (::isatty(STDIN_FILENO) == 1) {
        auto session = std::make_unique<TerminalSession>(STDIN_FILENO, STDOUT_FILENO, false);
        auto keys = std::make_unique<DecodedKeySource>(console->input(), false);
        console->setKeySource(std::make_unique<TerminalKeysForPlainOutput>(std::move(session), std::move(keys)));
    }
    return console;
}

}  // namespace lousa
