#pragma once
// A buffered stream over one POSIX file descriptor, as the program's files
// need it: text translation on or off, one character of look-ahead, byte
// positions and sizes, and open modes spelled as C open modes.
//
// A text stream stores a line feed as carriage return and line feed, reads a
// carriage return and line feed pair back as one line feed, and ends at a
// byte 26 (Ctrl+Z). A binary (typed) stream is byte-exact.
//
// Every stream that is open is listed in a fixed process-wide registry so
// that flushAllFileStreams() can write out what is buffered from a signal
// handler. Reads from and writes to a pipe or device wait only until a stop
// signal comes (loader/stoppable_wait.hpp); a stop also ends every read, so
// that no instruction reads an endless device for ever. The stream writes with pwrite at explicit offsets and keeps the
// pending bytes, their file offset and their count in atomics, ordered so
// that a flush interrupted by a signal and repeated by the handler writes the
// same bytes to the same place again: nothing is lost and nothing lands twice
// in different places.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace lousa {

// What a device stream (the console, the discarding device) reads from and
// writes to in place of a file descriptor.
class FileDevice {
public:
    virtual ~FileDevice() = default;
    // Up to `size` bytes into `into`; 0 at the end of the device's input.
    virtual std::size_t read(char* into, std::size_t size) = 0;
    // False when the bytes could not be written.
    virtual bool write(std::string_view bytes) = 0;
};

class FluxoArquivo {
public:
    static constexpr int kEnd = -1;  // what getChar gives at the end of the file or on failure

    // How a C open mode string asks for the file to be opened.
    struct Modo {
        bool read = false;
        bool write = false;
        bool create = false;
        bool truncate = false;
        bool append = false;
        bool text = true;
    };
    // Parses "r", "w" or "a" followed by any of "+", "b", "t" (the first of
    // "b" and "t" wins, as in "rb+t"); false for anything else.
    static bool parseMode(std::string_view mode, Modo& out);

    // Opens path; nullptr with `error` set to the errno value when it fails.
    static std::unique_ptr<FluxoArquivo> open(const std::string& path, std::string_view mode, int& error);
    // A stream over a device, with the mode's text translation: read and
    // written in order, every write passed on at once.
    static std::unique_ptr<FluxoArquivo> openDevice(std::unique_ptr<FileDevice> device, std::string_view mode,
                                                    int& error);

    ~FluxoArquivo();
    FluxoArquivo(const FluxoArquivo&) = delete;
    FluxoArquivo& operator=(const FluxoArquivo&) = delete;

    // The next character after text translation, or kEnd.
    int getChar() {
        if (state_.load(std::memory_order_relaxed) == State::Reading && index_ < length_) [[likely]] {
            const auto b = static_cast<unsigned char>(buffer_[index_]);
            if (b != '\n' && (!text_ || (b != '\r' && b != 26))) {
                lastStart_ = bufferStart_.load(std::memory_order_relaxed) + static_cast<std::int64_t>(index_);
                ++index_;
                return b;
            }
        }
        return getCharSlow();
    }
    // Makes the last character that getChar delivered the next one again
    // (a line feed that was read from a carriage return and line feed pair
    // comes back as that line feed). Does nothing after kEnd or a seek.
    void ungetChar();
    // True when the last character read was a line feed and nothing was read,
    // put back or positioned since.
    [[nodiscard]] bool justAfterLineFeed() const { return afterLineFeed_ >= 0 && position() == afterLineFeed_; }

    // Writes one character; a text stream writes a line feed as CR LF.
    bool putChar(unsigned char c);
    bool putText(std::string_view text);

    // Moves to a byte position from the start of the file.
    bool seek(std::int64_t position);
    // The byte position of the next read or write.
    [[nodiscard]] std::int64_t position() const;
    // The file length in bytes, what is still buffered included; -1 on failure.
    std::int64_t size();

    bool flush();
    // Flushes and closes; false (with the error kept) when either fails.
    bool close();
    [[nodiscard]] bool isOpen() const { return fd_.load(std::memory_order_relaxed) >= 0 || device_ != nullptr; }
    [[nodiscard]] bool isDevice() const { return device_ != nullptr; }
    [[nodiscard]] bool isText() const { return text_; }
    [[nodiscard]] bool canRead() const { return readable_; }
    [[nodiscard]] bool canWrite() const { return writable_; }

    // Ends a write instruction. The first write of a stream, every write
    // while its writes are failing (a full disk, a file-size limit) and the
    // first after a seek beyond the end of the file are written through at
    // once, so that the write whose bytes could not be stored is the one
    // that reports it; buffering resumes once a write succeeds.
    void settleWrites() {
        if (writeThrough_ && state_.load(std::memory_order_relaxed) == State::Writing && flushPending())
            writeThrough_ = false;
    }

    // The errno value of the first failure since the last call, then 0.
    int takeError() {
        const int e = error_;
        error_ = 0;
        return e;
    }

    // Writes out what is buffered without changing any state; uses only
    // async-signal-safe calls (lseek, poll, write), and never waits for a
    // pipe or device to take the bytes.
    void flushFromSignal() const noexcept;

    // Runs before the stream waits on a pipe or device (to read, or to write
    // into one that is full): the owner writes out its other files then.
    void setBeforeWait(std::function<void()> action) { beforeWait_ = std::move(action); }

    static constexpr std::size_t kBufferSize = 4096;

private:
    enum class State : std::uint8_t { Reading, Writing };

    FluxoArquivo(int fd, const Modo& modo);
    int getCharSlow();
    bool refill();
    bool startWriting();
    bool flushPending();
    void fail(int error) {
        if (error_ == 0) error_ = error;
    }

    std::atomic<int> fd_;
    bool readable_;
    bool writable_;
    bool append_;
    bool text_;
    bool sequential_ = false;  // a pipe or device: no positions, read and written in order
    bool writeThrough_ = true;  // see settleWrites
    int error_ = 0;
    std::int64_t knownEnd_ = 0;  // the file's length as this stream last knew it

    // Reading: buffer_[0, length_) holds the file's bytes from bufferStart_,
    // and index_ is the next one. Writing: buffer_[0, pending_) waits to be
    // written at bufferStart_. An empty reading buffer is the idle state.
    std::atomic<State> state_{State::Reading};
    std::atomic<std::int64_t> bufferStart_{0};
    std::atomic<std::size_t> pending_{0};
    std::size_t index_ = 0;
    std::size_t length_ = 0;
    std::int64_t lastStart_ = -1;     // where the last character read began
    std::int64_t afterLineFeed_ = -1;  // the position right after the last line feed read
    int registrySlot_ = -1;
    std::unique_ptr<FileDevice> device_;  // set for a device stream, which has no descriptor
    std::function<void()> beforeWait_;
    char buffer_[kBufferSize];
};

// Writes out the buffered bytes of every open stream. Safe to call from a
// signal handler; streams stay open and usable afterwards.
void flushAllFileStreams() noexcept;

}  // namespace lousa
