#pragma once
// The console seen by the machine: screen model, backend and input reader.

#include <memory>
#include <string_view>

namespace lousa {

class Console {
public:
    Console() = default;
    virtual ~Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Discards typed-ahead input when standard input is a terminal.
    virtual void flushInput() {}
    // Puts everything written so far on the screen or into the output stream.
    virtual void flushOutput() {}
    // Ends console use: output flushed, terminal settings restored.
    virtual void finish() { flushOutput(); }
    // Writes the run-time error text (Latin-1 bytes) after the program's output.
    virtual void writeFinalMessage(std::string_view latin1Text);
};

// The console over the process's standard input and output.
std::unique_ptr<Console> makeProcessConsole();

}  // namespace lousa
