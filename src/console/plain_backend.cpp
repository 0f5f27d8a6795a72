#include "console/plain_backend.hpp"

#include "loader/stoppable_wait.hpp"

namespace lousa {

namespace {
constexpr std::size_t kFlushThreshold = 1 << 16;
}

PlainBackend::~PlainBackend() { finish(); }

void PlainBackend::programText(std::string_view bytes) {
    std::size_t start = 0;
    if (pendingCarriageReturn_ && !bytes.empty()) {
        pendingCarriageReturn_ = false;
        if (bytes.front() != '\n') buffer_.push_back('\r');  // a lone CR stays; CR LF is one LF
    }
    while (start < bytes.size()) {
        const std::size_t cr = bytes.find('\r', start);
        if (cr == std::string_view::npos) {
            buffer_.append(bytes.substr(start));
            break;
        }
        buffer_.append(bytes.substr(start, cr - start));
        if (cr + 1 == bytes.size()) {
            pendingCarriageReturn_ = true;
            break;
        }
        if (bytes[cr + 1] != '\n') buffer_.push_back('\r');
        start = cr + 1;
    }
    if (buffer_.size() >= kFlushThreshold) flush();
}

void PlainBackend::emit(std::string_view bytes) {
    if (sink_) {
        sink_->append(bytes);
        return;
    }
    // Nowhere to write (closed or full device), or a stop while nobody
    // reads the pipe: what did not go out is dropped.
    int error = 0;
    writeUnlessStopped(fd_, bytes.data(), bytes.size(), error);
}

void PlainBackend::flush() {
    if (buffer_.empty()) return;
    emit(buffer_);
    buffer_.clear();
}

void PlainBackend::finish() {
    if (pendingCarriageReturn_) {
        buffer_.push_back('\r');
        pendingCarriageReturn_ = false;
    }
    flush();
}

void PlainBackend::writeFinalMessage(std::string_view latin1Text) {
    finish();
    emit(latin1Text);
}

}  // namespace lousa
