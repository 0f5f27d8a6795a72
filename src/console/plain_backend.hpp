#pragma once
// Plain mode: standard output is not a terminal. The program's bytes go out as
// it wrote them, except that CR immediately followed by LF becomes one LF (so
// writeln ends lines with "\n"); a lone CR, 7 and 8 stay. Screen control
// writes nothing. Output is buffered until flush().

#include <string>
#include <string_view>

#include "console/backend.hpp"

namespace lousa {

class PlainBackend : public Backend {
public:
    // Writes to a file descriptor.
    explicit PlainBackend(int fd) : fd_(fd) {}
    // Appends to a string instead, for tests (it must outlive the backend).
    explicit PlainBackend(std::string& sink) : sink_(&sink) {}
    ~PlainBackend() override;

    void programText(std::string_view bytes) override;
    void flush() override;
    void finish() override;
    void writeFinalMessage(std::string_view latin1Text) override;

private:
    void emit(std::string_view bytes);

    int fd_ = -1;
    std::string* sink_ = nullptr;
    std::string buffer_;
    // A CR at the end of what was written so far: whether it is a line end
    // depends on the next byte, so it waits for it (or for the end).
    bool pendingCarriageReturn_ = false;
};

}  // namespace lousa
