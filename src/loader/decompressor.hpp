#pragma once
// The payload appended to the runner: marker, name, and an LZSS bit stream.

#include <cstdint>
#include <string>
#include <string_view>

namespace lousa {

inline constexpr std::size_t kWindowSize = 4096;

struct DecodeResult {
    std::string text;
    bool ranShort = false;  // a token found too few bits left ("Error..")
};

// Decodes a compressed stream (data bytes, last-byte bit count, trailer).
DecodeResult decodeStream(std::string_view stream);

// Where the payload of a container starts: the offset just past the first
// run of three 0x1A bytes, or npos when there is none.
std::size_t findPayload(std::string_view container);

// Splits a container into its compressed stream (after marker, length and
// name). A container without a marker gives an empty stream.
std::string_view payloadStream(std::string_view container);

// Opens the file, prints the loader's messages on failure or on a short
// stream, and returns the decoded code text. Throws when it cannot be opened.
std::string decompressPayload(const std::string& path);

struct PayloadOpenError {};

}  // namespace lousa
