// Fuzz target: the packer's LZSS encoder against the runner's decoder. Any
// text, packed into a container and decoded again, must come back byte for
// byte, without the decoder running short.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "loader/compressor.hpp"
#include "loader/decompressor.hpp"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string stream = lousa::encodeStream(text);
    const lousa::DecodeResult decoded = lousa::decodeStream(stream);
    check(!decoded.ranShort);
    check(decoded.text == text);

    // The same through a whole container, behind a runner image (which may
    // hold 0x1A bytes, but no run of three and not at its end).
    const std::string container = std::string("runner \x1A\x1A image") + lousa::buildPayload("prog.pas", text);
    check(lousa::decodeStream(lousa::payloadStream(container)).text == text);
    return 0;
}
