#pragma once
// The byte form of code words that the machine fuzz target reads, and its
// inverse for building seeds. Most code words are small (opcodes, operands,
// short addresses), so they take one byte and mutate well; any word is still
// reachable through the two- and four-byte forms.
//
//   0x00..0xDF  the word (byte - 32): -32..191
//   0xE0..0xEF  the next two bytes, little-endian, as a signed 16-bit word
//   0xF0..0xFF  the next four bytes, little-endian, as a 32-bit word
// A form cut short by the end of the input is dropped.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vm/word.hpp"

namespace lousa::fuzz {

inline std::vector<Word> decodeWords(const std::uint8_t* data, std::size_t size, std::size_t maxWords) {
    std::vector<Word> words;
    std::size_t i = 0;
    while (i < size && words.size() < maxWords) {
        const std::uint8_t tag = data[i++];
        if (tag < 0xE0) {
            words.push_back(static_cast<Word>(tag) - 32);
        } else if (tag < 0xF0) {
            if (size - i < 2) break;
            const auto bits = static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8));
            words.push_back(static_cast<std::int16_t>(bits));
            i += 2;
        } else {
            if (size - i < 4) break;
            const UWord bits = UWord{data[i]} | (UWord{data[i + 1]} << 8) | (UWord{data[i + 2]} << 16) |
                               (UWord{data[i + 3]} << 24);
            words.push_back(static_cast<Word>(bits));
            i += 4;
        }
    }
    return words;
}

inline std::string encodeWords(const std::vector<Word>& words) {
    std::string bytes;
    for (const Word w : words) {
        if (w >= -32 && w <= 191) {
            bytes.push_back(static_cast<char>(w + 32));
        } else if (w >= -32768 && w <= 32767) {
            const auto bits = static_cast<std::uint16_t>(w);
            bytes.push_back(static_cast<char>(0xE0));
            bytes.push_back(static_cast<char>(bits & 0xFF));
            bytes.push_back(static_cast<char>(bits >> 8));
        } else {
            const auto bits = static_cast<UWord>(w);
            bytes.push_back(static_cast<char>(0xF0));
            for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
        }
    }
    return bytes;
}

}  // namespace lousa::fuzz
