#include "micro/lzss_encoder.hpp"

#include "loader/compressor.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace lousa::bench {

std::string encodeStream(std::string_view text) { return lousa::encodeStream(text); }

std::string makeContainer(std::string_view text, std::size_t imageBytes) {
    std::string container;
    container.reserve(imageBytes + text.size());
    for (std::size_t i = 0; i < imageBytes; ++i) container.push_back(static_cast<char>(i % 26 == 25 ? 'x' : 'a' + i % 26));
    container += "\x1A\x1A\x1A";
    const std::string name = "bench.pas";
    container.push_back(static_cast<char>(name.size() + 1));
    container += name;
    container.push_back('\0');
    container += encodeStream(text);
    return container;
}

std::string makeCodeText(std::size_t bytes, std::string_view firstWords) {
    // Filler shaped like compiled statements: LINE n, ADDR_UP 0 k, LOAD_UP 0 k, PUSH v, ADD_INT, STORE_N 1.
    std::string body(firstWords);
    unsigned line = 1;
    std::uint32_t state = 12345;
    while (body.size() < bytes) {
        state = state * 1103515245U + 12345U;
        const unsigned k = 3 + (state >> 16) % 40;
        const unsigned v = (state >> 8) % 100000;
        body += "62 " + std::to_string(line++) + " 126 0 " + std::to_string(k) + " 127 0 " + std::to_string(k) +
                " 58 " + std::to_string(v) + " 1 8 1 ";
    }
    std::size_t words = 0;
    for (const char c : body) words += c == ' ' ? 1 : 0;  // every token ends with a space
    return std::to_string(words) + " " + std::to_string(words + 1) + " " + body;
}

}  // namespace lousa::bench
