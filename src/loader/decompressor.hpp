#pragma once
// The payload appended to the runner: marker, name, and an LZSS bit stream.

#include <cstdint>
#include <string>
#include <string_view>

namespace lousa {

inline constexpr std::size_t kWindowSize = 4096;

// The longest code text the loader decodes. A compiled program's text takes
// a few bytes per word, so this is hundreds of times any classroom program;
// and the words it can become (one per byte at most, four bytes each) stay
// within 1 GiB, the default memory ceiling of a run.
inline constexpr std::size_t kMaxCodeTextBytes = std::size_t{256} << 20;
inline constexpr const char* kMaxCodeTextText = "256 MiB";

struct DecodeResult {
    std::string text;
    bool ranShort = false;  // a token found too few bits left ("Error..")
    // The stream decodes to more than the limit: nothing was decoded (and
    // nothing allocated for it); the text is empty.
    bool tooLarge = false;
};

// A packed file is read, and its text handed on, in pieces of this size; a
// piece of text keeps the decoder's window of kWindowSize bytes before it.
// The process never holds the file or the text whole, and touches only these
// few pages for them.
inline constexpr std::size_t kFilePieceBytes = std::size_t{16} << 10;

// Takes a decoded text in order, piece by piece: begin once with the most
// bytes the text can have (before any piece, and only for a text that is
// decoded at all), then take for each piece.
class TextSink {
public:
    virtual void begin(std::size_t mostBytes) = 0;
    virtual void take(std::string_view piece) = 0;

protected:
    TextSink() = default;
    ~TextSink() = default;
    TextSink(const TextSink&) = default;
    TextSink& operator=(const TextSink&) = default;
};

// Decodes a compressed stream (data bytes, last-byte bit count, trailer).
// The stream is walked twice: once to count the text, which is refused when
// longer than `limit`, then to write it into a string of exactly that size.
DecodeResult decodeStream(std::string_view stream, std::size_t limit = kMaxCodeTextBytes);

// Where the payload of a container starts: the offset just past the first
// run of three 0x1A bytes, or npos when there is none.
std::size_t findPayload(std::string_view container);

// Splits a container into its compressed stream (after marker, length and
// name). A container without a marker gives an empty stream.
std::string_view payloadStream(std::string_view container);

// Opens the file, prints the loader's messages on failure or on a short
// stream, and hands the decoded code text to `sink`. Throws when it cannot be
// opened. The file is read in pieces, never whole; a text longer than
// `limit` is refused as a damaged stream is reported ("Error..") and gives
// the sink nothing.
void decompressPayload(const std::string& path, TextSink& sink, std::size_t limit = kMaxCodeTextBytes);

// The same, the text returned whole.
std::string decompressPayload(const std::string& path, std::size_t limit = kMaxCodeTextBytes);

struct PayloadOpenError {};

}  // namespace lousa
