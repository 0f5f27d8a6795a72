#include "files/file_stream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "loader/stop_signals.hpp"
#include "loader/stoppable_wait.hpp"

namespace lousa {

namespace {

// What a signal handler reads must be lock-free atomics.
static_assert(std::atomic<FluxoArquivo*>::is_always_lock_free);
static_assert(std::atomic<std::int64_t>::is_always_lock_free);
static_assert(std::atomic<std::size_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// One slot per open stream. Far more than the descriptors a process gets by
// default; when it is full, opening fails as "too many open files".
constexpr int kRegistrySize = 4096;
std::atomic<FluxoArquivo*> registry[kRegistrySize]{};

int claimSlot(FluxoArquivo* stream) {
    for (int i = 0; i < kRegistrySize; ++i) {
        // A plain load passes a taken slot cheaply; the exchange claims a free one.
        if (registry[i].load(std::memory_order_relaxed) != nullptr) continue;
        FluxoArquivo* expected = nullptr;
        if (registry[i].compare_exchange_strong(expected, stream, std::memory_order_release)) return i;
    }
    return -1;
}

// A byte position n bytes after `start`; positions saturate rather than
// wrap (a seek can ask for any 64-bit position, and the write there fails).
std::int64_t after(std::int64_t start, std::size_t n) {
    const auto room = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - start);
    return n > room ? std::numeric_limits<std::int64_t>::max() : start + static_cast<std::int64_t>(n);
}

}  // namespace

void flushAllFileStreams() noexcept {
    for (auto& slot : registry) {
        if (const FluxoArquivo* stream = slot.load(std::memory_order_acquire)) stream->flushFromSignal();
    }
}

bool FluxoArquivo::parseMode(std::string_view mode, Modo& out) {
    if (mode.empty()) return false;
    Modo m;
    switch (mode[0]) {
        case 'r':
            m.read = true;
            break;
        case 'w':
            m.write = m.create = m.truncate = true;
            break;
        case 'a':
            m.write = m.create = m.append = true;
            break;
        default:
            return false;
    }
    bool kindGiven = false;
    for (const char c : mode.substr(1)) {
        switch (c) {
            case '+':
                m.read = m.write = true;
                break;
            case 'b':
            case 't':
                if (!kindGiven) m.text = c == 't';
                kindGiven = true;
                break;
            default:
                return false;
        }
    }
    out = m;
    return true;
}

std::unique_ptr<FluxoArquivo> FluxoArquivo::open(const std::string& path, std::string_view mode, int& error) {
    Modo m;
    if (!parseMode(mode, m)) {
        error = EINVAL;
        return nullptr;
    }
    int flags = O_CLOEXEC | (m.read && m.write ? O_RDWR : m.write ? O_WRONLY : O_RDONLY);
    if (m.create) flags |= O_CREAT;
    if (m.truncate) flags |= O_TRUNC;
    // Opening a FIFO waits for its other end; a stop signal ends that wait
    // (the handlers leave SA_RESTART off, so the open fails with EINTR).
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR && !stopRequested());
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // A directory opened read-only would succeed here; a file is expected.
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = EISDIR;
        return nullptr;
    }
    std::unique_ptr<FluxoArquivo> stream(new FluxoArquivo(fd, m));
    stream->knownEnd_ = st.st_size;
    // Pipes, terminals and other devices have no positions: they are read
    // and written in order (a name like /dev/stdout works as a file).
    stream->sequential_ = lseek(fd, 0, SEEK_CUR) < 0;
    if (m.append && !stream->sequential_) {
        const off_t end = lseek(fd, 0, SEEK_END);
        stream->bufferStart_.store(end < 0 ? 0 : end, std::memory_order_relaxed);
    }
    stream->registrySlot_ = claimSlot(stream.get());
    if (stream->registrySlot_ < 0) {
        error = EMFILE;
        return nullptr;  // the destructor closes the descriptor
    }
    error = 0;
    return stream;
}

std::unique_ptr<FluxoArquivo> FluxoArquivo::openDevice(std::unique_ptr<FileDevice> device, std::string_view mode,
                                                       int& error) {
    Modo m;
    if (!parseMode(mode, m) || device == nullptr) {
        error = EINVAL;
        return nullptr;
    }
    std::unique_ptr<FluxoArquivo> stream(new FluxoArquivo(-1, m));
    stream->device_ = std::move(device);
    stream->sequential_ = true;
    error = 0;
    return stream;
}

FluxoArquivo::FluxoArquivo(int fd, const Modo& modo)
    : fd_(fd), readable_(modo.read), writable_(modo.write), append_(modo.append), text_(modo.text) {}

FluxoArquivo::~FluxoArquivo() { close(); }

bool FluxoArquivo::close() {
    if (device_) {
        const bool ok = flush();
        device_.reset();
        state_.store(State::Reading, std::memory_order_relaxed);
        index_ = length_ = 0;
        return ok;
    }
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd < 0) {
        if (registrySlot_ >= 0) registry[registrySlot_].store(nullptr, std::memory_order_release);
        registrySlot_ = -1;
        return true;
    }
    // Flushed before leaving the registry: a signal arriving meanwhile still
    // finds the bytes and writes them to the same place.
    bool ok = flush();
    if (registrySlot_ >= 0) registry[registrySlot_].store(nullptr, std::memory_order_release);
    registrySlot_ = -1;
    fd_.store(-1, std::memory_order_relaxed);
    if (::close(fd) != 0 && errno != EINTR) {
        fail(errno);
        ok = false;
    }
    state_.store(State::Reading, std::memory_order_relaxed);
    index_ = length_ = 0;
    return ok;
}

void FluxoArquivo::flushFromSignal() const noexcept {
    if (state_.load(std::memory_order_acquire) != State::Writing) return;
    const std::size_t count = pending_.load(std::memory_order_acquire);
    const std::int64_t start = bufferStart_.load(std::memory_order_acquire);
    const int fd = fd_.load(std::memory_order_relaxed);
    if (count == 0 || fd < 0) return;
    const int savedErrno = errno;
    const bool placed = sequential_ || lseek(fd, static_cast<off_t>(start), SEEK_SET) >= 0;
    errno = savedErrno;
    if (placed) writeWithoutWaiting(fd, buffer_, count);
}

bool FluxoArquivo::flushPending() {
    const std::size_t count = pending_.load(std::memory_order_relaxed);
    if (count == 0) return true;
    const int fd = fd_.load(std::memory_order_relaxed);
    const std::int64_t start = bufferStart_.load(std::memory_order_relaxed);
    std::size_t done = 0;
    bool ok = true;
    if (device_) {
        if (device_->write({buffer_, count})) {
            done = count;
        } else {
            fail(EIO);
            ok = false;
        }
    } else if (sequential_) {
        // A pipe or device may make the write wait: until a stop signal.
        int error = 0;
        done = writeUnlessStopped(fd, buffer_, count, error, beforeWait_);
        if (error != 0) {
            fail(error);
            ok = false;
        }
    }
    while (!sequential_ && done < count) {
        const ssize_t n = ::pwrite(fd, buffer_ + done, count - done, static_cast<off_t>(start) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : EIO);
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!ok) writeThrough_ = true;
    knownEnd_ = std::max(knownEnd_, after(start, done));
    // The count is emptied before the start moves, so a signal in between
    // sees nothing to write rather than old bytes at a new place. Bytes that
    // could not be written are dropped (the error is reported), as C streams
    // do, so that one full disk does not fail every later write again.
    pending_.store(0, std::memory_order_release);
    bufferStart_.store(after(start, count), std::memory_order_release);
    return ok;
}

bool FluxoArquivo::flush() {
    if (state_.load(std::memory_order_relaxed) != State::Writing) return true;
    return flushPending();
}

bool FluxoArquivo::refill() {
    // The unread bytes move to the front and more are read after them, so a
    // carriage return at the end of the buffer meets the byte that follows it
    // even where the file cannot be read again (a pipe).
    const std::int64_t start = bufferStart_.load(std::memory_order_relaxed);
    std::size_t keep = 0;
    if (index_ < length_) {
        keep = length_ - index_;
        std::memmove(buffer_, buffer_ + index_, keep);
    }
    bufferStart_.store(after(start, index_), std::memory_order_relaxed);
    const std::int64_t at = after(start, index_ + keep);
    index_ = 0;
    length_ = keep;
    // A stop ends every read: an endless device (/dev/zero) would
    // otherwise keep one instruction reading for ever.
    if (stopRequested()) return false;
    const int fd = fd_.load(std::memory_order_relaxed);
    ssize_t n;
    if (sequential_ && !device_) {  // the console waits for itself
        WaitResult ready = waitUnlessStopped(fd, POLLIN, 0);
        if (ready == WaitResult::TimedOut) {
            if (beforeWait_) beforeWait_();
            ready = waitUnlessStopped(fd, POLLIN, -1);
        }
        if (ready == WaitResult::Stopped) return false;
    }
    do {
        n = device_       ? static_cast<ssize_t>(device_->read(buffer_ + keep, kBufferSize - keep))
            : sequential_ ? ::read(fd, buffer_ + keep, kBufferSize - keep)
                          : ::pread(fd, buffer_ + keep, kBufferSize - keep, static_cast<off_t>(at));
    } while (n < 0 && errno == EINTR && !stopRequested());
    if (n < 0) {
        if (errno != EINTR) fail(errno);
        return false;
    }
    length_ += static_cast<std::size_t>(n);
    return n > 0;
}

int FluxoArquivo::getCharSlow() {
    if (!isOpen() || !readable_) {
        fail(EBADF);
        lastStart_ = -1;
        return kEnd;
    }
    if (state_.load(std::memory_order_relaxed) == State::Writing) {
        flushPending();
        state_.store(State::Reading, std::memory_order_release);
        index_ = length_ = 0;
    }
    if (index_ >= length_ && !refill()) {
        lastStart_ = -1;
        return kEnd;
    }
    auto b = static_cast<unsigned char>(buffer_[index_]);
    const std::int64_t start = bufferStart_.load(std::memory_order_relaxed) + static_cast<std::int64_t>(index_);
    std::size_t width = 1;
    if (text_) {
        if (b == 26) {  // Ctrl+Z ends a text file; the position stays at it
            lastStart_ = -1;
            return kEnd;
        }
        if (b == '\r') {
            if (index_ + 1 >= length_) refill();  // keeps the carriage return, reads what follows
            if (index_ + 1 < length_ && buffer_[index_ + 1] == '\n') {
                b = '\n';
                width = 2;
            }
        }
    }
    index_ += width;
    lastStart_ = start;
    if (b == '\n') afterLineFeed_ = after(start, width);
    return b;
}

void FluxoArquivo::ungetChar() {
    if (lastStart_ < 0) return;
    const std::int64_t to = lastStart_;
    seek(to);
}

bool FluxoArquivo::startWriting() {
    if (!isOpen() || !writable_) {
        fail(EBADF);
        return false;
    }
    std::int64_t at = position();
    if (append_ && !sequential_) {
        const off_t end = lseek(fd_.load(std::memory_order_relaxed), 0, SEEK_END);
        if (end >= 0) at = end;
    }
    // Bytes beyond the end of the file may be refused (a file-size limit):
    // the first write there goes out at once, so that it is the one to say.
    if (at > knownEnd_ && !sequential_) writeThrough_ = true;
    // pending_ is 0 while reading: the start may move before the state says
    // that bytes are waiting.
    bufferStart_.store(at, std::memory_order_release);
    index_ = length_ = 0;
    state_.store(State::Writing, std::memory_order_release);
    lastStart_ = -1;
    return true;
}

bool FluxoArquivo::putChar(unsigned char c) {
    if (state_.load(std::memory_order_relaxed) != State::Writing && !startWriting()) return false;
    if (text_ && c == '\n') {
        if (!putChar('\r')) return false;
    }
    std::size_t count = pending_.load(std::memory_order_relaxed);
    if (count == kBufferSize) {
        flushPending();
        count = 0;
    }
    buffer_[count] = static_cast<char>(c);
    pending_.store(count + 1, std::memory_order_release);
    // What goes to the console shows in order with the program's other output.
    if (device_) return flushPending();
    return true;
}

bool FluxoArquivo::putText(std::string_view text) {
    for (const char c : text) {
        if (!putChar(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::int64_t FluxoArquivo::position() const {
    const std::int64_t start = bufferStart_.load(std::memory_order_relaxed);
    if (state_.load(std::memory_order_relaxed) == State::Writing)
        return after(start, pending_.load(std::memory_order_relaxed));
    return after(start, index_);
}

bool FluxoArquivo::seek(std::int64_t to) {
    lastStart_ = -1;
    if (to < 0) {
        fail(EINVAL);
        return false;
    }
    if (!isOpen()) {
        fail(EBADF);
        return false;
    }
    bool ok = true;
    if (state_.load(std::memory_order_relaxed) == State::Writing) {
        ok = flushPending();
        state_.store(State::Reading, std::memory_order_release);
        index_ = length_ = 0;
    }
    const std::int64_t start = bufferStart_.load(std::memory_order_relaxed);
    if (to >= start && to <= after(start, length_)) {
        index_ = static_cast<std::size_t>(to - start);
    } else if (sequential_) {
        fail(ESPIPE);
        return false;
    } else {
        bufferStart_.store(to, std::memory_order_relaxed);
        index_ = length_ = 0;
    }
    return ok;
}

std::int64_t FluxoArquivo::size() {
    if (!isOpen()) {
        fail(EBADF);
        return -1;
    }
    flush();
    if (device_) return 0;  // a device holds nothing
    struct stat st {};
    if (fstat(fd_.load(std::memory_order_relaxed), &st) != 0) {
        fail(errno);
        return -1;
    }
    return st.st_size;
}

}  // namespace lousa
