#pragma once
// The console seen by the machine: the screen model, the backend that shows
// it, the input reader and the key source. Instructions write through write(),
// change the screen through screen() and then call present(), read through
// input() and keys().
//
// Modes: plain (standard output is not a terminal: output passes through as
// bytes, screen control only acts on an 80x25 model) is built here; terminal
// mode is built by the terminal side, which constructs a Console from its own
// backend, key source and line editor. makeProcessConsole() picks the mode.

#include <functional>
#include <memory>
#include <string_view>

#include "console/backend.hpp"
#include "console/input_reader.hpp"
#include "console/key_event.hpp"
#include "console/screen_model.hpp"
#include "vm/word.hpp"

namespace lousa {

class Console {
public:
    // A console over a backend and an input device, with a screen of the
    // given size. Its key source is a ByteKeySource until setKeySource.
    Console(std::unique_ptr<Backend> backend, std::unique_ptr<ByteSource> input, int columns = 80, int rows = 25);
    virtual ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    ScreenModel& screen() { return screen_; }
    InputReader& input() { return input_; }
    Backend& backend() { return *backend_; }
    KeySource& keys() { return *keys_; }
    void setKeySource(std::unique_ptr<KeySource> keys);
    // Installs the source of cooked lines (the terminal line editor).
    void setLineSource(std::unique_ptr<LineSource> lines);

    // Writes program text at the cursor (up to its first 0 byte, as a C
    // string is written) and shows it.
    void write(std::string_view bytes);
    // Shows what an operation on screen() changed.
    void present() { backend_->present(); }

    // Discards typed-ahead input when standard input is a terminal.
    virtual void flushInput();
    // Puts everything written so far on the screen or into the output stream.
    virtual void flushOutput();
    // Flushes output, then sleeps (negative = no pause).
    void delay(Word milliseconds);
    // What the run does before the console waits (for input or in a delay):
    // the machine writes out its files, so that a run killed while it waits
    // (SIGKILL cannot be caught) leaves them on disk. Empty for nothing.
    void setRunBeforeWait(std::function<void()> action) { runBeforeWait_ = std::move(action); }
    // Ends console use: output flushed, terminal settings restored. Once.
    virtual void finish();
    // Writes the run-time error text (Latin-1 bytes) after the program's output.
    virtual void writeFinalMessage(std::string_view latin1Text);

private:
    void beforeWait();

    ScreenModel screen_;
    std::unique_ptr<Backend> backend_;
    InputReader input_;
    std::unique_ptr<LineSource> lines_;
    std::unique_ptr<KeySource> keys_;
    std::function<void()> runBeforeWait_;
    bool finished_ = false;
};

// A plain console over two file descriptors (standard input and output),
// with keys decoded from the input bytes.
std::unique_ptr<Console> makePlainConsole(int inputFd, int outputFd);

// The console over the process's standard input and output: terminal mode
// (makeTerminalConsole) when standard output is a terminal that can move its
// cursor, else plain mode;
// in plain mode keys typed on a terminal are read in the terminal's key mode.
std::unique_ptr<Console> makeProcessConsole();

}  // namespace lousa
