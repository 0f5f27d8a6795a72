#include "loader/decompressor.hpp"

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace lousa {

namespace {

// The last kWindowSize output bytes; position 0 is the oldest byte held.
class Window {
public:
    [[nodiscard]] std::uint8_t at(unsigned position) const {
        if (position >= kWindowSize) return 0;  // beyond the window's end: nothing held there
        if (size_ < kWindowSize) return bytes_[position];  // unfilled slots read 0
        return bytes_[(head_ + position) % kWindowSize];
    }
    void append(std::uint8_t byte) {
        if (size_ < kWindowSize) {
            bytes_[size_++] = byte;
            return;
        }
        bytes_[head_] = byte;
        head_ = (head_ + 1) % kWindowSize;
    }

private:
    std::array<std::uint8_t, kWindowSize> bytes_{};
    std::size_t size_ = 0;
    std::size_t head_ = 0;
};

// Bits of the stream, most significant first, with the count of valid bits.
class BitReader {
public:
    explicit BitReader(std::string_view stream) : stream_(stream) {}

    void fill() {
        while (count_ < 20 && !end_) {
            if (stream_.size() >= 3 && next_ == stream_.size() - 3) {
                const auto last = static_cast<std::uint8_t>(stream_[next_]);
                auto valid = static_cast<unsigned>(static_cast<std::uint8_t>(stream_[next_ + 1]));
                if (valid > 8) valid = 8;  // a count beyond the byte claims nothing more
                append(last, valid);
                end_ = true;
            } else if (next_ >= stream_.size()) {
                end_ = true;
            } else {
                append(static_cast<std::uint8_t>(stream_[next_++]), 8);
            }
        }
    }
    [[nodiscard]] bool end() const { return end_; }
    [[nodiscard]] unsigned count() const { return count_; }
    [[nodiscard]] unsigned peek(unsigned skip, unsigned width) const {
        return static_cast<unsigned>((bits_ << skip) >> (64 - width));
    }
    void drop(unsigned n) {
        bits_ <<= n;
        count_ -= n;
    }

private:
    void append(std::uint8_t byte, unsigned valid) {
        bits_ |= std::uint64_t{byte} << (56 - count_);
        count_ += valid;
        // Bits past the valid count are cleared so they never read back.
        if (valid < 8) bits_ &= count_ == 0 ? 0 : ~std::uint64_t{0} << (64 - count_);
    }

    std::string_view stream_;
    std::size_t next_ = 0;
    std::uint64_t bits_ = 0;
    unsigned count_ = 0;
    bool end_ = false;
};

}  // namespace

DecodeResult decodeStream(std::string_view stream) {
    DecodeResult result;
    Window window;
    BitReader bits(stream);
    bits.fill();
    while (!bits.end() || bits.count() > 0) {
        bits.fill();
        if (bits.peek(0, 1) == 0) {
            if (bits.count() < 9) {
                result.ranShort = true;
                break;
            }
            const auto byte = static_cast<std::uint8_t>(bits.peek(1, 8));
            bits.drop(9);
            window.append(byte);
            bits.fill();
            result.text.push_back(static_cast<char>(byte));
        } else {
            if (bits.count() < 17) {
                result.ranShort = true;
                break;
            }
            const unsigned position = bits.peek(1, 12);
            const unsigned length = bits.peek(13, 4);
            std::array<std::uint8_t, 16> copied{};
            for (unsigned i = 0; i < length; ++i) copied[i] = window.at(position + i);
            bits.drop(17);
            for (unsigned i = 0; i < length; ++i) {
                window.append(copied[i]);
                result.text.push_back(static_cast<char>(copied[i]));
            }
        }
    }
    return result;
}

std::size_t findPayload(std::string_view container) {
    int run = 0;
    for (std::size_t i = 0; i < container.size(); ++i) {
        run = (container[i] == '\x1A') ? run + 1 : 0;
        if (run == 3) return i + 1;
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

std::string decompressPayload(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::printf("\nCould not open program file %s... Aborting operation", path.c_str());
        std::fflush(stdout);
        throw PayloadOpenError{};
    }
    const std::string container((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    DecodeResult decoded = decodeStream(payloadStream(container));
    if (decoded.ranShort) {
        std::fputs("Error..", stdout);
        std::fflush(stdout);
    }
    return std::move(decoded.text);
}

}  // namespace lousa
