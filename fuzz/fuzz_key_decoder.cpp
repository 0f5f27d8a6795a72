// Fuzz target: arbitrary byte streams through the key decoder, as a terminal
// or a pipe might deliver them, with pauses (timeouts) at places the input
// chooses. The decoder must never crash, never hold bytes after a timeout,
// and never make up more keys than it was given bytes.
//
// Input: the first byte picks UTF-8 decoding (bit 0) and a pause byte value
// (the whole byte); every later occurrence of the pause byte is a pause
// instead of input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "console/key_decoder.hpp"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    lousa::KeyDecoder decoder((data[0] & 1) != 0);
    const std::uint8_t pause = data[0];
    std::size_t bytesPushed = 0;
    std::size_t keys = 0;
    auto drain = [&] {
        while (decoder.hasEvent()) {
            decoder.popEvent();
            ++keys;
        }
    };
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == pause) {
            decoder.timeout();
            check(!decoder.waitingForMore());
        } else {
            decoder.push(data[i]);
            ++bytesPushed;
        }
        drain();
        check(keys <= bytesPushed);
    }
    decoder.timeout();
    check(!decoder.waitingForMore());
    drain();
    check(keys <= bytesPushed);
    decoder.push(std::uint8_t{0x1B});
    decoder.clear();
    check(!decoder.hasEvent() && !decoder.waitingForMore());
    return 0;
}
