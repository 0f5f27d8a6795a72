#pragma once
// The one reader of standard input behind every console read. It implements
// the C stdio scanning rules ("%d", "%c", "%s", "%lf", line reads) exactly as
// glibc's scanf consumes input, so that what one read leaves (the rest of a
// line, its line end) is what the next read sees. CR LF in the input reads as
// one line feed; a lone CR stays.
//
// Two streams of bytes come out of it:
// - cooked bytes, for the scanning reads: from a LineSource when one is set
//   (the line editor, when both ends are a terminal), else from the device;
// - key bytes, for the key decoder. When the device is a terminal these are
//   its raw bytes, separate from cooked lines (a number read leaves its line
//   end behind without a later key read seeing it). Otherwise key bytes and
//   cooked bytes are one stream, read in order.
// End of input is sticky: once the device reports it, every read reports it.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "console/key_event.hpp"
#include "vm/word.hpp"

namespace lousa {

// The device under the reader.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to capacity bytes, waiting for at least one; 0 at end of input
    // (or on an error that ends input).
    virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
    // Waits up to timeoutMs (0: only tests) until a read would not block;
    // end of input counts as readable.
    virtual bool waitReadable(int timeoutMs) = 0;
    [[nodiscard]] virtual bool isTerminal() const { return false; }
    // Drops what the device holds typed ahead (a terminal's input queue).
    virtual void discardPending() {}
};

// A file descriptor (standard input: a pipe, a file or a terminal).
class FdByteSource : public ByteSource {
public:
    explicit FdByteSource(int fd);
    std::size_t read(char* buffer, std::size_t capacity) override;
    bool waitReadable(int timeoutMs) override;
    [[nodiscard]] bool isTerminal() const override { return terminal_; }
    void discardPending() override;
    [[nodiscard]] int fd() const { return fd_; }

private:
    int fd_;
    bool terminal_;
};

// Bytes held in memory, for tests. `terminal` makes it behave as a terminal
// for the split of key and cooked bytes and for discarding typed-ahead input.
class MemoryByteSource : public ByteSource {
public:
    explicit MemoryByteSource(std::string bytes, bool terminal = false)
        : bytes_(std::move(bytes)), terminal_(terminal) {}
    std::size_t read(char* buffer, std::size_t capacity) override;
    bool waitReadable(int) override { return true; }
    [[nodiscard]] bool isTerminal() const override { return terminal_; }
    void discardPending() override { position_ = bytes_.size(); }
    // More bytes, as if typed later.
    void append(std::string_view more) { bytes_ += more; }
    // Limits how many bytes one read returns (to test refills mid-token).
    void setChunk(std::size_t chunk) { chunk_ = chunk; }

private:
    std::string bytes_;
    std::size_t position_ = 0;
    std::size_t chunk_ = 4096;
    bool terminal_;
};

// Supplies cooked input a line at a time (the terminal line editor).
class LineSource {
public:
    static constexpr std::size_t kDefaultMaxLength = 255;
    virtual ~LineSource() = default;
    // The next line with its line feed, at most maxLength characters before
    // it; nullopt at end of input.
    virtual std::optional<std::string> readLine(std::size_t maxLength) = 0;
};

class InputReader {
public:
    static constexpr int kEnd = -1;      // end of input
    static constexpr int kTimeout = -2;  // nothing arrived in time

    explicit InputReader(std::unique_ptr<ByteSource> source);

    ByteSource& source() { return *source_; }
    // Line-oriented reads take their lines from here (not owned; null: the device).
    void setLineSource(LineSource* lineSource) { lineSource_ = lineSource; }
    // Called before the reader waits on the device (the console flushes output).
    void setBeforeWait(std::function<void()> beforeWait) { beforeWait_ = std::move(beforeWait); }

    // --- scanning, as scanf with the conversion named; nullopt when the
    // conversion fails (no matching text, or end of input)
    std::optional<Word> scanInteger();     // "%d": glibc's value for out-of-range text
    std::optional<std::uint8_t> scanCharacter();  // "%c"
    // "%s": a word of non-blank bytes; only its first maxKept bytes are kept,
    // the rest consumed.
    std::optional<std::string> scanWord(std::size_t maxKept = 64);
    std::optional<double> scanReal();      // "%lf"
    // A line without its line end; only its first maxKept bytes are kept, the
    // rest consumed (fullLength, when given, receives the whole length).
    // nullopt at end of input before any byte.
    std::optional<std::string> readLine(std::size_t maxKept, std::size_t* fullLength = nullptr);

    // --- cooked bytes
    int peek();  // the next byte (0-255) without consuming it, or kEnd
    int get();   // the next byte consumed, or kEnd

    // --- key bytes
    int nextKeyByte();                    // waits; kEnd at end of input
    int nextKeyByteWithin(int timeoutMs);  // kTimeout when none came in time
    bool keyByteReady();                   // a byte can be had without waiting

    // Discards everything typed ahead, when the device is a terminal; piped
    // input is never discarded.
    void discardTypedAhead();

    // Bytes held in memory (read or not), for checks of the buffer's bound.
    [[nodiscard]] std::size_t bufferedBytes() const { return cooked_.bytes.size() + raw_.bytes.size(); }

private:
    struct Buffer {
        std::string bytes;
        std::size_t position = 0;
        [[nodiscard]] bool empty() const { return position >= bytes.size(); }
        void clear() {
            bytes.clear();
            position = 0;
        }
        // Before more bytes are appended: what was read is dropped, so a
        // buffer holds at most one refill beyond the unread bytes.
        void dropConsumed() {
            bytes.erase(0, position);
            position = 0;
        }
    };
    // Makes at least `count` bytes available in the cooked buffer unless
    // input ends; false when it could not.
    bool fillCooked(std::size_t count);
    bool fillRaw(int timeoutMs);  // timeoutMs < 0: wait
    bool readDevice(Buffer& into, int timeoutMs);
    int rawPeek(std::size_t ahead);
    void skipWhiteSpace();

    std::unique_ptr<ByteSource> source_;
    LineSource* lineSource_ = nullptr;
    std::size_t lineMaxLength_ = LineSource::kDefaultMaxLength;  // of the next line a line source gives
    std::function<void()> beforeWait_;
    Buffer cooked_;
    Buffer raw_;  // key bytes of a terminal; unused otherwise
    bool split_;
    bool ended_ = false;
};

// The simplest key source: each key byte is a key press with that character
// (a line feed is Enter, as a terminal's Enter key sends it).
class ByteKeySource : public KeySource {
public:
    explicit ByteKeySource(InputReader& reader) : reader_(reader) {}
    std::optional<KeyEvent> nextKey() override;
    bool keyWaiting() override { return reader_.keyByteReady(); }

private:
    InputReader& reader_;
};

}  // namespace lousa
