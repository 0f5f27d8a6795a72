#pragma once
// The packing side of the payload: an LZSS encoder that writes exactly the
// bit stream decodeStream reads, and the container header around it.

#include <string>
#include <string_view>

namespace lousa {

// Compresses text into a stream for decodeStream: data bytes, the count of
// valid bits of the last data byte, one trailer byte. Matches of length
// 2..15 are chosen by an optimal parse (fewest bits), with positions counted
// from the oldest byte the decoder's window holds.
std::string encodeStream(std::string_view text);

// Marker, name length (NUL included), name and NUL, then the stream of text.
// The name may be at most 254 bytes long.
std::string buildPayload(std::string_view name, std::string_view text);

}  // namespace lousa
