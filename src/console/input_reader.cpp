#include "console/input_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "files/real_token.hpp"
#include "loader/stoppable_wait.hpp"

namespace lousa {

namespace {

constexpr std::size_t kReadChunk = 4096;

bool isCSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isHexDigit(int c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int lowerAscii(int c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

}  // namespace

// ---------------------------------------------------------------- devices

FdByteSource::FdByteSource(int fd) : fd_(fd), terminal_(::isatty(fd) == 1) {}

std::size_t FdByteSource::read(char* buffer, std::size_t capacity) {
    // A stop signal (Ctrl+C, SIGTERM...) ends the wait: the run is ending,
    // so give up as at the end of input.
    return readUnlessStopped(fd_, buffer, capacity);
}

bool FdByteSource::waitReadable(int timeoutMs) {
    // A stop, a broken descriptor: the read that follows reports the end.
    return waitUnlessStopped(fd_, POLLIN, timeoutMs) != WaitResult::TimedOut;
}

void FdByteSource::discardPending() {
    if (terminal_) ::tcflush(fd_, TCIFLUSH);
}

std::size_t MemoryByteSource::read(char* buffer, std::size_t capacity) {
    const std::size_t n = std::min({capacity, chunk_, bytes_.size() - position_});
    bytes_.copy(buffer, n, position_);
    position_ += n;
    return n;
}

// ---------------------------------------------------------------- buffers

InputReader::InputReader(std::unique_ptr<ByteSource> source)
    : source_(std::move(source)), split_(source_->isTerminal()) {}

bool InputReader::readDevice(Buffer& into, int timeoutMs) {
    if (ended_) return false;
    if (timeoutMs >= 0) {
        if (!source_->waitReadable(timeoutMs)) return false;
    } else if (beforeWait_) {
        beforeWait_();
    }
    into.dropConsumed();
    char chunk[kReadChunk];
    const std::size_t n = source_->read(chunk, sizeof chunk);
    if (n == 0) {
        ended_ = true;
        return false;
    }
    into.bytes.append(chunk, n);
    return true;
}

bool InputReader::fillCooked(std::size_t count) {
    while (cooked_.bytes.size() - cooked_.position < count) {
        if (ended_) return false;
        if (lineSource_) {
            if (beforeWait_) beforeWait_();
            std::optional<std::string> line = lineSource_->readLine(lineMaxLength_);
            if (!line) {
                ended_ = true;
                return false;
            }
            cooked_.dropConsumed();
            cooked_.bytes += *line;
        } else if (split_ && !raw_.empty()) {
            // keys typed ahead during a key read belong to the next line
            cooked_.dropConsumed();
            cooked_.bytes.append(raw_.bytes, raw_.position);
            raw_.clear();
        } else if (!readDevice(cooked_, -1)) {
            return false;
        }
    }
    return true;
}

int InputReader::peek() {
    if (!fillCooked(1)) return kEnd;
    const auto c = static_cast<unsigned char>(cooked_.bytes[cooked_.position]);
    if (c == '\r' && fillCooked(2) && cooked_.bytes[cooked_.position + 1] == '\n') return '\n';
    return c;
}

int InputReader::get() {
    const int c = peek();
    if (c == kEnd) return kEnd;
    // a line feed seen through CR LF consumes both bytes
    cooked_.position += (c == '\n' && cooked_.bytes[cooked_.position] == '\r') ? 2 : 1;
    return c;
}

void InputReader::skipWhiteSpace() {
    while (isCSpace(peek())) get();
}

// ---------------------------------------------------------------- scanning

std::optional<Word> InputReader::scanInteger() {
    skipWhiteSpace();
    bool negative = false;
    int c = peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        get();
        c = peek();
    }
    if (!isDigit(c)) return std::nullopt;
    // glibc converts to a 64-bit long, saturating, and keeps its low 32 bits.
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    while (isDigit(c = peek())) {
        get();
        const auto digit = static_cast<std::uint64_t>(c - '0');
        magnitude = (magnitude > (kLimit - digit) / 10) ? kLimit : magnitude * 10 + digit;
    }
    std::uint64_t bits = 0;
    if (negative)
        bits = 0 - magnitude;  // kLimit itself is LONG_MIN
    else
        bits = magnitude >= kLimit ? kLimit - 1 : magnitude;
    return static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU));
}

std::optional<std::uint8_t> InputReader::scanCharacter() {
    const int c = get();
    if (c == kEnd) return std::nullopt;
    return static_cast<std::uint8_t>(c);
}

std::optional<std::string> InputReader::scanWord(std::size_t maxKept) {
    skipWhiteSpace();
    if (peek() == kEnd) return std::nullopt;
    std::string word;
    for (int c = peek(); c != kEnd && !isCSpace(c); c = peek()) {
        if (word.size() < maxKept) word.push_back(static_cast<char>(c));
        get();
    }
    return word;
}

std::optional<double> InputReader::scanReal() {
    // glibc's "%lf": what it reads is consumed even when the conversion then
    // fails; only the byte that did not fit stays in the input.
    skipWhiteSpace();
    bool negative = false;
    int c = peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        get();
        c = peek();
    }
    // Inside "inf", "infinity" and "nan" glibc consumes the byte that breaks
    // the word as well.
    auto expectWord = [&](std::string_view word) {
        for (const char expected : word)
            if (lowerAscii(get()) != expected) return false;
        return true;
    };
    if (lowerAscii(c) == 'i') {
        if (!expectWord("inf")) return std::nullopt;
        if (lowerAscii(peek()) == 'i' && !expectWord("inity")) return std::nullopt;
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    if (lowerAscii(c) == 'n') {
        if (!expectWord("nan")) return std::nullopt;
        return std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
    }
    bool hexadecimal = false;
    bool digits = false;
    if (c == '0') {
        get();
        digits = true;
        hexadecimal = lowerAscii(peek()) == 'x';
        if (hexadecimal) get();
    }
    RealToken token(hexadecimal);
    token.setNegative(negative);
    auto takeDigits = [&](auto isWanted) {
        bool any = false;
        while (isWanted(peek())) {
            token.addDigit(static_cast<char>(get()));
            any = true;
        }
        return any;
    };
    // An exponent letter is taken only after a mantissa digit; without digits
    // of its own it is consumed and ignored.
    auto takeExponent = [&](char letter) {
        if (lowerAscii(peek()) != letter) return;
        get();
        const int sign = peek();
        if (sign == '+' || sign == '-') token.setExponentNegative(get() == '-');
        if (!isDigit(peek())) token.setExponentNegative(false);
        while (isDigit(peek())) token.addExponentDigit(static_cast<char>(get()));
    };
    if (hexadecimal) {
        const bool hexDigits = takeDigits(isHexDigit);
        bool point = false;
        if (peek() == '.') {
            get();
            token.addPoint();
            point = true;
        }
        const bool fraction = point && takeDigits(isHexDigit);
        if (!hexDigits && !point) return std::nullopt;
        if (!hexDigits && !fraction) return negative ? -0.0 : 0.0;  // "0x." reads as zero
        takeExponent('p');
        return token.value();
    }
    digits = takeDigits(isDigit) || digits;
    if (peek() == '.') {
        get();
        token.addPoint();
        digits = takeDigits(isDigit) || digits;
    }
    if (!digits) return std::nullopt;
    takeExponent('e');
    return token.value();
}

std::optional<std::string> InputReader::readLine(std::size_t maxKept, std::size_t* fullLength) {
    // A line typed for this read holds no more than it keeps.
    if (maxKept > 0) lineMaxLength_ = std::min(maxKept, LineSource::kDefaultMaxLength);
    const int first = peek();
    lineMaxLength_ = LineSource::kDefaultMaxLength;
    if (first == kEnd) return std::nullopt;
    std::string line;
    std::size_t length = 0;
    for (int c = get(); c != kEnd && c != '\n'; c = get()) {
        if (line.size() < maxKept) line.push_back(static_cast<char>(c));
        ++length;
    }
    if (fullLength) *fullLength = length;
    return line;
}

// ---------------------------------------------------------------- keys

bool InputReader::fillRaw(int timeoutMs) {
    if (!raw_.empty()) return true;
    return readDevice(raw_, timeoutMs);
}

int InputReader::nextKeyByte() {
    if (!split_) return get();
    if (!fillRaw(-1)) return kEnd;
    return static_cast<unsigned char>(raw_.bytes[raw_.position++]);
}

int InputReader::nextKeyByteWithin(int timeoutMs) {
    if (!split_) {
        if (cooked_.empty() && !readDevice(cooked_, timeoutMs < 0 ? 0 : timeoutMs)) return ended_ ? kEnd : kTimeout;
        return get();
    }
    if (!fillRaw(timeoutMs < 0 ? 0 : timeoutMs)) return ended_ ? kEnd : kTimeout;
    return static_cast<unsigned char>(raw_.bytes[raw_.position++]);
}

bool InputReader::keyByteReady() {
    Buffer& buffer = split_ ? raw_ : cooked_;
    if (!buffer.empty()) return true;
    return readDevice(buffer, 0);
}

void InputReader::discardTypedAhead() {
    if (!split_) return;
    cooked_.clear();
    raw_.clear();
    source_->discardPending();
}

std::optional<KeyEvent> ByteKeySource::nextKey() {
    const int byte = reader_.nextKeyByte();
    if (byte == InputReader::kEnd) return std::nullopt;
    KeyEvent key;
    key.character = static_cast<std::uint8_t>(byte);
    if (byte == '\n' || byte == '\r') {
        key.character = 13;
        key.virtualKey = vk::kEnter;
    } else if (byte == '\t') {
        key.virtualKey = vk::kTab;
    } else if (byte == 27) {
        key.virtualKey = vk::kEscape;
    }
    return key;
}

}  // namespace lousa
