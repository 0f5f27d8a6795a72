#pragma once
// The bit writer of the payload stream: tokens most significant bit first,
// then the count of valid bits of the last data byte and a trailer byte, as
// decodeStream reads them. The packer writes through it, and so do the tests
// that craft streams no packer would make.

#include <cstdint>
#include <string>
#include <utility>

namespace lousa {

class BitWriter {
public:
    void put(unsigned value, unsigned width) {
        for (unsigned i = width; i-- > 0;) {
            current_ = static_cast<std::uint8_t>((current_ << 1) | ((value >> i) & 1U));
            if (++used_ == 8) {
                bytes_.push_back(static_cast<char>(current_));
                current_ = 0;
                used_ = 0;
            }
        }
    }
    // A literal byte: flag 0 and its 8 bits.
    void literal(char c) { put(0, 1), put(static_cast<std::uint8_t>(c), 8); }
    // A match: flag 1, its window position (12 bits) and length (4 bits).
    void match(unsigned position, unsigned length) { put(1, 1), put(position, 12), put(length, 4); }

    // Data bytes, then the valid-bit count of the last one, then the trailer.
    std::string finish() && {
        unsigned valid = 8;
        if (used_ > 0 || bytes_.empty()) {
            valid = used_;
            bytes_.push_back(static_cast<char>(current_ << (8 - used_)));
        }
        bytes_.push_back(static_cast<char>(valid));
        bytes_.push_back('\0');
        return std::move(bytes_);
    }

private:
    std::string bytes_;
    std::uint8_t current_ = 0;
    unsigned used_ = 0;
};

}  // namespace lousa
