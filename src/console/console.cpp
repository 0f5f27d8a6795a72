#include "console/console.hpp"

#include <cerrno>
#include <ctime>
#include <unistd.h>

#include "console/plain_backend.hpp"
#include "loader/stop_signals.hpp"

#if __has_include("console/terminal_console.hpp")
#include "console/terminal_console.hpp"
#define LOUSA_TERMINAL_CONSOLE 1
#endif

namespace lousa {

Console::Console(std::unique_ptr<Backend> backend, std::unique_ptr<ByteSource> input, int columns, int rows)
    : screen_(columns, rows),
      backend_(std::move(backend)),
      input_(std::move(input)),
      keys_(std::make_unique<ByteKeySource>(input_)) {
    screen_.setObserver(backend_.get());
    // whatever the program wrote is visible before it waits for an answer
    input_.setBeforeWait([this] { flushOutput(); });
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

void Console::delay(Word milliseconds) {
    flushOutput();
    if (milliseconds <= 0) return;
    timespec remaining{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    // A stop signal cuts the pause short: the run ends at this instruction.
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR && !stopRequested()) {
    }
}

void Console::finish() {
    if (finished_) return;
    finished_ = true;
    backend_->finish();
}

void Console::writeFinalMessage(std::string_view latin1Text) { backend_->writeFinalMessage(latin1Text); }

std::unique_ptr<Console> makePlainConsole(int inputFd, int outputFd) {
    return std::make_unique<Console>(std::make_unique<PlainBackend>(outputFd), std::make_unique<FdByteSource>(inputFd));
}

std::unique_ptr<Console> makeProcessConsole() {
#ifdef LOUSA_TERMINAL_CONSOLE
    if (::isatty(STDOUT_FILENO) == 1) {
        if (std::unique_ptr<Console> console = makeTerminalConsole(STDIN_FILENO, STDOUT_FILENO)) return console;
    }
#endif
    return makePlainConsole(STDIN_FILENO, STDOUT_FILENO);
}

}  // namespace lousa
