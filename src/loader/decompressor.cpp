#include "loader/decompressor.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lousa {

namespace {

// The stream's bits as one padded byte buffer: the data bytes, the last
// byte cut to its count of valid bits (the bits past it read 0), then
// zeros so that a token may always be read with one 8-byte load.
struct Bits {
    std::vector<std::uint8_t> bytes;
    std::size_t total = 0;  // number of valid bits

    explicit Bits(std::string_view stream) {
        std::size_t full = stream.size();
        unsigned lastValid = 0;
        // Three bytes or more end with the last data byte, its count of
        // valid bits and a trailer byte; shorter streams are all data.
        if (stream.size() >= 3) {
            full = stream.size() - 3;
            lastValid = static_cast<std::uint8_t>(stream[full + 1]);
            if (lastValid > 8) lastValid = 8;  // a count beyond the byte claims nothing more
        }
        bytes.assign(full + 1 + 8, 0);
        // An empty view may have no data pointer at all, which memcpy must not get.
        if (full > 0) std::memcpy(bytes.data(), stream.data(), full);
        if (stream.size() >= 3 && lastValid > 0)
            bytes[full] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(stream[full]) & (0xFFu << (8 - lastValid)));
        total = full * 8 + lastValid;
    }

    // The 64 bits starting at bit `at`, most significant first (the first
    // bits are exact; the low bits may be short by up to 7).
    [[nodiscard]] std::uint64_t at(std::size_t at) const {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + (at >> 3), 8);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        return word << (at & 7);
    }
};

}  // namespace

// The output is its own window: window position p is output byte
// max(0, size - kWindowSize) + p at the time the token is read; positions
// not yet filled and positions past the window's end read 0. A copy takes
// all its bytes from the window as it was before the copy.
DecodeResult decodeStream(std::string_view stream) {
    DecodeResult result;
    const Bits bits(stream);
    std::string& out = result.text;
    // Room for the usual ratio; grown as needed, with 16 bytes of slack so
    // that a copy can always be written as one 16-byte block.
    out.resize(std::max<std::size_t>(64, stream.size() * 4));
    std::size_t size = 0;
    std::size_t position = 0;
    while (position < bits.total) {
        if (out.size() - size < 32) out.resize(out.size() * 2);
        const std::uint64_t word = bits.at(position);
        const std::size_t left = bits.total - position;
        if ((word >> 63) == 0) {
            if (left < 9) {
                result.ranShort = true;
                break;
            }
            out[size++] = static_cast<char>((word >> 55) & 0xFF);
            position += 9;
            continue;
        }
        if (left < 17) {
            result.ranShort = true;
            break;
        }
        const auto from = static_cast<std::size_t>((word >> 51) & 0xFFF);
        const auto length = static_cast<std::size_t>((word >> 47) & 0xF);
        position += 17;
        const std::size_t base = size > kWindowSize ? size - kWindowSize : 0;
        char* const dest = out.data() + size;
        if (from + length <= kWindowSize && base + from + length <= size) {
            // Whole copy inside the filled window: one block through a
            // temporary, since source and destination may overlap.
            char block[16];
            std::memcpy(block, out.data() + base + from, 16);
            std::memcpy(dest, block, 16);
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                const std::size_t source = base + from + i;
                dest[i] = (from + i < kWindowSize && source < size) ? out[source] : '\0';
            }
        }
        size += length;
    }
    out.resize(size);
    return result;
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

// The whole file in one string, read with as few calls as its size allows;
// false when it cannot be opened.
bool readWholeFile(const std::string& path, std::string& contents) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    const bool sized = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    contents.resize(sized ? static_cast<std::size_t>(info.st_size) : 0);
    std::size_t filled = 0;
    for (;;) {
        if (filled == contents.size()) contents.resize(contents.size() + 65536);  // the file grew
        const ssize_t got = ::read(fd, contents.data() + filled, contents.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        // A read error ends the contents where it happened, as a stream would.
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    contents.resize(filled);
    return true;
}

}  // namespace

std::string decompressPayload(const std::string& path) {
    std::string container;
    if (!readWholeFile(path, container)) {
        std::printf("\nCould not open program file %s... Aborting operation", path.c_str());
        std::fflush(stdout);
        throw PayloadOpenError{};
    }
    DecodeResult decoded = decodeStream(payloadStream(container));
    if (decoded.ranShort) {
        std::fputs("Error..", stdout);
        std::fflush(stdout);
    }
    return std::move(decoded.text);
}

}  // namespace lousa
