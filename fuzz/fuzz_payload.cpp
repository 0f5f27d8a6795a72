// Fuzz target: arbitrary container bytes through the payload reader and the
// LZSS decoder. Nothing may crash or read out of bounds, and the decoded text
// can never outgrow what the stream's bits allow.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "loader/decompressor.hpp"

namespace {

// The most text a stream of n bytes can give: every token of 17 bits yields
// at most 15 bytes, every 9-bit token one, and n bytes hold at most 8n bits.
std::size_t mostTextFor(std::size_t streamBytes) { return (streamBytes * 8 / 17 + 1) * 15; }

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The input as a whole container: marker, name length, name, stream.
    const std::size_t start = lousa::findPayload(bytes);
    const std::string_view stream = lousa::payloadStream(bytes);
    if (start == std::string_view::npos) {
        check(stream.empty());
    } else {
        check(start >= 3 && start <= size);
        check(bytes.substr(start - 3, 3) == "\x1A\x1A\x1A");
        check(stream.empty() || stream.data() + stream.size() == bytes.data() + bytes.size());
    }
    const lousa::DecodeResult fromContainer = lousa::decodeStream(stream);
    check(fromContainer.text.size() <= mostTextFor(stream.size()));

    // The input as a bare stream, so that every mutation reaches the decoder.
    const lousa::DecodeResult fromStream = lousa::decodeStream(bytes);
    check(fromStream.text.size() <= mostTextFor(size));
    // Decoding is a pure function of the bytes.
    check(lousa::decodeStream(bytes).text == fromStream.text);
    return 0;
}
