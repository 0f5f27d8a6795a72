#include "loader/decompressor.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lousa {

namespace {

// Stream bytes are read in pieces of this size (the file is never held
// whole); a piece of a stream in memory is used where it lies.
constexpr std::size_t kPieceBytes = kFilePieceBytes;

// Where the stream's bits are: three bytes or more end with the last data
// byte, its count of valid bits and a trailer byte; shorter streams are all
// data. The bits past the last valid one read 0.
struct Layout {
    std::size_t full = 0;    // data bytes whose 8 bits all belong to the stream
    std::uint8_t last = 0;   // the last data byte, cut to its valid bits
    std::size_t total = 0;   // number of valid bits

    // For a stream of `size` bytes whose last three are lastData, count and
    // the trailer (read only when size >= 3).
    static Layout of(std::size_t size, std::uint8_t lastData, std::uint8_t count) {
        Layout layout;
        if (size < 3) {
            layout.full = size;
            layout.total = size * 8;
            return layout;
        }
        const unsigned valid = count > 8 ? 8 : count;  // a count beyond the byte claims nothing more
        layout.full = size - 3;
        layout.last = valid == 0 ? 0 : static_cast<std::uint8_t>(lastData & (0xFFu << (8 - valid)));
        layout.total = layout.full * 8 + valid;
        return layout;
    }
};

// The 64 bits starting at bit `at` of bytes, most significant first (the
// first bits are exact; the low bits may be short by up to 7).
inline std::uint64_t bitsAt(const std::uint8_t* bytes, std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, bytes + (at >> 3), 8);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word << (at & 7);
}

// The first pass: the length of the text, without writing it. It stops
// (between pieces) once past the limit.
struct Counter {
    static constexpr bool kCountsOnly = true;
    std::size_t size = 0;
    std::size_t limit = 0;
    bool literal(std::uint8_t) {
        ++size;
        return true;
    }
    bool match(std::size_t, std::size_t length) {
        size += length;
        return true;
    }
    [[nodiscard]] bool overLimit() const { return size > limit; }
};

// The second pass writes into room for exactly the counted text, plus
// kSlack bytes: a copy is always written as one 16-byte block, and the room
// is checked once per load of three tokens (at most 45 bytes). The output is
// its own window: window position p is output byte max(0, size -
// kWindowSize) + p at the time the token is read; positions not yet filled
// and positions past the window's end read 0. A copy takes all its bytes
// from the window as it was before the copy. A file that changed between
// the passes cannot make it write past its room: decoding ends there.
struct WindowWriter {
    static constexpr bool kCountsOnly = false;
    static constexpr std::size_t kSlack = 64;
    char* out = nullptr;
    std::size_t size = 0;
    bool literal(std::uint8_t byte) {
        out[size++] = static_cast<char>(byte);
        return true;
    }
    bool match(std::size_t from, std::size_t length) {
        const std::size_t base = size > kWindowSize ? size - kWindowSize : 0;
        char* const dest = out + size;
        if (from + length <= kWindowSize && base + from + length <= size) [[likely]] {
            // Whole copy inside the filled window: one block through a
            // temporary, since source and destination may overlap.
            char block[16];
            std::memcpy(block, out + base + from, 16);
            std::memcpy(dest, block, 16);
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                const std::size_t source = base + from + i;
                dest[i] = (from + i < kWindowSize && source < size) ? out[source] : '\0';
            }
        }
        size += length;
        return true;
    }
};

// Into one buffer of room + kSlack bytes, the text whole.
struct Writer : WindowWriter {
    std::size_t room = 0;
    [[nodiscard]] bool overLimit() const { return size > room; }
};

// Into a buffer of kPieceBytes + kSlack bytes, the text handed on to a
// TextSink in pieces: once past kPieceBytes, all but the last kWindowSize
// bytes go on and those move to the buffer's start. Window positions still
// count from the same output byte as in one buffer, since the base of a
// full window is always size - kWindowSize. `room` bounds the whole text as
// the room of one buffer does; nothing past it is handed on.
struct PieceWriter : WindowWriter {
    TextSink* sink = nullptr;
    std::size_t handed = 0;  // output bytes before out[0]
    std::size_t room = 0;

    bool overLimit() {
        if (size > kPieceBytes) [[unlikely]]
            passOn(size - kWindowSize);
        return handed + size > room;
    }
    // Hands on the first `count` bytes of the buffer (as far as the room
    // goes) and moves the rest to its start.
    void passOn(std::size_t count) {
        const std::size_t within = handed < room ? std::min(count, room - handed) : 0;
        if (within > 0) sink->take({out, within});
        std::memmove(out, out + count, size - count);
        handed += count;
        size -= count;
    }
};

// Reads tokens from bytes while the token's first bit lies before `stop`,
// each with one 8-byte load (the caller guarantees the bytes are there).
// Positions count bits from bytes[0]; `total` is where the valid bits end.
// False when decoding ends here: too few bits for a token, or a full sink.
template <class Sink>
bool readTokens(const std::uint8_t* bytes, std::size_t& position, std::size_t stop, std::size_t total, Sink& sink,
                bool& ranShort) {
    while (position < stop) {
        if (sink.overLimit()) return false;
        const std::uint64_t word = bitsAt(bytes, position);
        const std::size_t left = total - position;
        if ((word >> 63) == 0) {
            if (left < 9) {
                ranShort = true;
                return false;
            }
            if (!sink.literal(static_cast<std::uint8_t>(word >> 55))) return false;
            position += 9;
            continue;
        }
        if (left < 17) {
            ranShort = true;
            return false;
        }
        if (!sink.match(static_cast<std::size_t>((word >> 51) & 0xFFF), static_cast<std::size_t>((word >> 47) & 0xF)))
            return false;
        position += 17;
    }
    return true;
}

// The same for tokens that lie wholly among full data bytes, which no check
// of the bits left concerns: one 8-byte load holds at least 57 bits of the
// stream, so three tokens (of at most 17 bits) are taken from each load.
// The last of them may start past `stop`; their bits are still in the
// bytes loaded.
template <class Sink>
bool readWholeTokens(const std::uint8_t* bytes, std::size_t& position, std::size_t stop, Sink& sink) {
    // Working copies: the output is written through a char pointer, which
    // could alias the caller's position and sink and force a reload of each
    // at every token.
    std::size_t at = position;
    Sink local = sink;
    bool more = true;
    while (at < stop) {
        if constexpr (!Sink::kCountsOnly) {
            if (local.overLimit()) {
                more = false;
                break;
            }
        }
        std::uint64_t word = bitsAt(bytes, at);
        for (int k = 0; k < 3; ++k) {
            if constexpr (Sink::kCountsOnly) {
                // No branch on the token's kind: literals and matches mix unpredictably.
                const auto isMatch = static_cast<unsigned>(word >> 63);
                local.size += isMatch != 0 ? static_cast<std::size_t>((word >> 47) & 0xF) : 1;
                const unsigned width = 9 + (isMatch << 3);
                word <<= width;
                at += width;
            } else if ((word >> 63) == 0) {
                local.literal(static_cast<std::uint8_t>(word >> 55));
                word <<= 9;
                at += 9;
            } else {
                local.match(static_cast<std::size_t>((word >> 51) & 0xFFF), static_cast<std::size_t>((word >> 47) & 0xF));
                word <<= 17;
                at += 17;
            }
        }
    }
    position = at;
    sink = local;
    return more;
}

// Runs a sink over the whole stream. source.piece(first, end) gives a
// pointer to stream bytes first..end-1 (end <= layout.full). The data bytes
// are walked piece by piece, each piece as far as a token's 8 bytes lie in
// it; the last few bytes, the cut last byte and zero padding go through a
// small buffer of their own.
template <class Source, class Sink>
void walkStream(Source& source, const Layout& layout, Sink& sink, bool& ranShort) {
    std::size_t position = 0;  // bits from the stream's start
    for (;;) {
        const std::size_t first = position >> 3;
        if (first + 8 > layout.full) break;
        const std::size_t end = std::min(layout.full, first + kPieceBytes);
        const std::uint8_t* const bytes = source.piece(first, end);
        std::size_t local = position & 7;
        const std::size_t stop = std::min(layout.total - first * 8, (end - first - 7) * 8);
        const bool more = readWholeTokens(bytes, local, stop, sink);
        position = first * 8 + local;
        if (!more || sink.overLimit()) return;
    }
    if (position >= layout.total) return;
    const std::size_t first = position >> 3;  // fewer than 8 data bytes remain
    std::uint8_t tail[24] = {};
    if (first < layout.full) std::memcpy(tail, source.piece(first, layout.full), layout.full - first);
    if (first <= layout.full) tail[layout.full - first] = layout.last;
    std::size_t local = position & 7;
    const std::size_t total = layout.total - first * 8;
    readTokens(tail, local, total, total, sink, ranShort);
}

// The most text `bits` valid bits can give: 15 bytes for every 17 bits (a
// match), and one more byte if the bits left over hold a literal.
std::size_t mostTextFor(std::size_t bits) { return bits / 17 * 15 + (bits % 17) / 9; }

// Up to this much possible text, a stream is decoded in one pass into room
// for all it could give (what is left unused is small beside the run).
constexpr std::size_t kOnePassBytes = std::size_t{16} << 20;

// A larger stream is walked twice: once to count its text, which is refused
// past the limit before anything is allocated for it, then to decode it
// into room for exactly that text. The room the text needs, or nothing when
// it is refused.
template <class Source>
std::optional<std::size_t> roomFor(Source& source, const Layout& layout, std::size_t limit) {
    const std::size_t room = mostTextFor(layout.total);
    if (room <= std::min(limit, kOnePassBytes)) return room;
    Counter counter;
    counter.limit = limit;
    bool ranShort = false;
    walkStream(source, layout, counter, ranShort);
    if (counter.overLimit()) return std::nullopt;
    return counter.size;
}

template <class Source>
DecodeResult decodeFrom(Source& source, const Layout& layout, std::size_t limit) {
    DecodeResult result;
    const std::optional<std::size_t> most = roomFor(source, layout, limit);
    if (!most) {
        result.tooLarge = true;
        return result;
    }
    const std::size_t room = *most;
    result.text.resize(room + Writer::kSlack);
    Writer writer;
    writer.out = result.text.data();
    writer.room = room;
    walkStream(source, layout, writer, result.ranShort);
    result.text.resize(std::min(writer.size, room));
    return result;
}

// A stream that lies in memory: its pieces are used where they lie.
struct MemorySource {
    const std::uint8_t* bytes;
    [[nodiscard]] const std::uint8_t* piece(std::size_t first, std::size_t /*end*/) const { return bytes + first; }
};

// Reads all of count bytes at offset unless the file ends or fails first;
// returns how many it read.
std::size_t readAt(int fd, std::uint8_t* into, std::size_t count, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// A stream in a file, from offset `start`: each piece is read into one
// buffer of kPieceBytes. Bytes the file no longer holds (it shrank while
// being read) read 0.
struct FileSource {
    int fd;
    std::uint64_t start;
    std::uint8_t* buffer;
    const std::uint8_t* piece(std::size_t first, std::size_t end) {
        const std::size_t count = end - first;
        const std::size_t got = readAt(fd, buffer, count, start + first);
        std::fill(buffer + got, buffer + count, std::uint8_t{0});
        return buffer;
    }
};

// The outcome of decoding into a sink (the text went to the sink).
struct SinkResult {
    bool ranShort = false;
    bool tooLarge = false;
};

// Decodes a stream into the sink through a buffer of kPieceBytes.
template <class Source>
SinkResult decodeInto(Source& source, const Layout& layout, std::size_t limit, TextSink& sink) {
    SinkResult result;
    const std::optional<std::size_t> room = roomFor(source, layout, limit);
    if (!room) {
        result.tooLarge = true;
        return result;
    }
    sink.begin(*room);
    // Not zero-filled: the decoder reads only bytes it wrote (a copy's
    // block may carry unwritten bytes along, but only past the text's end,
    // where they are written over before they are read or handed on).
    const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kPieceBytes + Writer::kSlack);
    PieceWriter writer;
    writer.out = buffer.get();
    writer.sink = &sink;
    writer.room = *room;
    walkStream(source, layout, writer, result.ranShort);
    writer.passOn(writer.size);
    return result;
}

}  // namespace

DecodeResult decodeStream(std::string_view stream, std::size_t limit) {
    const auto* const bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    const std::size_t size = stream.size();
    const Layout layout = size >= 3 ? Layout::of(size, bytes[size - 3], bytes[size - 2]) : Layout::of(size, 0, 0);
    MemorySource source{bytes};
    return decodeFrom(source, layout, limit);
}

std::size_t findPayload(std::string_view container) {
    // The first run of three marker bytes; memchr skips the runner's own
    // bytes quickly (the marker is rare in them).
    const char* const begin = container.data();
    const char* const end = begin + container.size();
    const char* at = begin;
    while (at < end) {
        at = static_cast<const char*>(std::memchr(at, '\x1A', static_cast<std::size_t>(end - at)));
        if (at == nullptr) break;
        if (end - at >= 3 && at[1] == '\x1A' && at[2] == '\x1A') return static_cast<std::size_t>(at - begin) + 3;
        ++at;
    }
    return std::string_view::npos;
}

std::string_view payloadStream(std::string_view container) {
    const std::size_t start = findPayload(container);
    if (start == std::string_view::npos || start >= container.size()) return {};
    const auto nameLength = static_cast<std::uint8_t>(container[start]);
    const std::size_t streamStart = start + 1 + nameLength;
    if (streamStart >= container.size()) return {};
    return container.substr(streamStart);
}

namespace {

// Where the stream starts in a regular file of `size` bytes (past the
// marker, the length byte and the name), or nothing when it holds none. The
// file is scanned in pieces that overlap by two bytes, so that a marker
// split between pieces is found.
std::optional<std::uint64_t> findStreamInFile(int fd, std::uint64_t size, std::uint8_t* buffer) {
    std::uint64_t offset = 0;  // of buffer[0] in the file
    std::size_t kept = 0;      // bytes carried over from the previous piece
    std::optional<std::uint64_t> start;
    while (offset + kept < size) {
        const std::size_t got = readAt(fd, buffer + kept, kPieceBytes - kept, offset + kept);
        if (got == 0) break;
        const std::size_t held = kept + got;
        const std::size_t at = findPayload({reinterpret_cast<const char*>(buffer), held});
        if (at != std::string_view::npos) {
            start = offset + at;
            break;
        }
        kept = std::min<std::size_t>(2, held);
        std::memmove(buffer, buffer + held - kept, kept);
        offset += held - kept;
    }
    if (!start || *start >= size) return std::nullopt;
    std::uint8_t nameLength = 0;
    if (readAt(fd, &nameLength, 1, *start) != 1) return std::nullopt;
    const std::uint64_t streamStart = *start + 1 + nameLength;
    if (streamStart >= size) return std::nullopt;
    return streamStart;
}

// The whole file in one string (for a file that is not a regular one, whose
// size is unknown); false when it cannot be read.
void readWholeFile(int fd, std::string& contents) {
    std::size_t filled = 0;
    for (;;) {
        if (filled == contents.size()) contents.resize(contents.size() + 65536);
        const ssize_t got = ::read(fd, contents.data() + filled, contents.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        // A read error ends the contents where it happened, as a stream would.
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    contents.resize(filled);
}

SinkResult decodeFile(int fd, std::size_t limit, TextSink& sink) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        std::string contents;
        readWholeFile(fd, contents);
        const DecodeResult decoded = decodeStream(payloadStream(contents), limit);
        if (!decoded.tooLarge) {
            sink.begin(decoded.text.size());
            if (!decoded.text.empty()) sink.take(decoded.text);
        }
        return {decoded.ranShort, decoded.tooLarge};
    }
    // Not zero-filled: only bytes read (or filled in for a file that shrank)
    // are looked at.
    const std::unique_ptr<std::uint8_t[]> buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kPieceBytes);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const std::optional<std::uint64_t> start = findStreamInFile(fd, size, buffer.get());
    if (!start) {
        MemorySource none{nullptr};
        return decodeInto(none, Layout::of(0, 0, 0), limit, sink);
    }
    const auto streamSize = static_cast<std::size_t>(size - *start);
    std::uint8_t end[3] = {};
    if (streamSize >= 3) readAt(fd, end, 3, size - 3);
    FileSource source{fd, *start, buffer.get()};
    return decodeInto(source, Layout::of(streamSize, end[0], end[1]), limit, sink);
}

// Collects the text in one string.
class StringSink final : public TextSink {
public:
    void begin(std::size_t /*mostBytes*/) override {}
    void take(std::string_view piece) override { text.append(piece); }
    std::string text;
};

}  // namespace

void decompressPayload(const std::string& path, TextSink& sink, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::printf("\nCould not open program file %s... Aborting operation", path.c_str());
        std::fflush(stdout);
        throw PayloadOpenError{};
    }
    SinkResult decoded;
    try {
        decoded = decodeFile(fd, limit, sink);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    // A text past the limit is refused as a damaged stream is reported, and
    // nothing of it runs.
    if (decoded.ranShort || decoded.tooLarge) {
        std::fputs("Error..", stdout);
        std::fflush(stdout);
    }
}

std::string decompressPayload(const std::string& path, std::size_t limit) {
    StringSink sink;
    decompressPayload(path, sink, limit);
    return std::move(sink.text);
}

}  // namespace lousa
