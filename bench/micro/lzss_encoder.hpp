#pragma once
// Inputs for the loader's benchmarks: streams from the packer's encoder,
// containers as the runner expects them, and code texts shaped like
// compiled programs.

#include <string>
#include <string_view>

namespace lousa::bench {

// The compressed stream (data bytes, last-byte bit count, trailing byte), as `lousa pack` writes it.
std::string encodeStream(std::string_view text);

// A container as the runner expects it: image bytes without the marker, the
// marker, the name field, then the stream of `text`.
std::string makeContainer(std::string_view text, std::size_t imageBytes = 4096);

// A code text of about `bytes` bytes: the count, the ignored token, then the
// words of `code` followed by filler instructions that look like compiled
// code (so that the compression ratio is realistic).
std::string makeCodeText(std::size_t bytes, std::string_view firstWords);

}  // namespace lousa::bench
