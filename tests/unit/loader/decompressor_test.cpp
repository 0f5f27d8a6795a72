// The payload's LZSS stream and container: worked examples of the decoder,
// the encoder against the decoder, and damaged input.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include <unistd.h>

#include "loader/compressor.hpp"
#include "loader/decompressor.hpp"

namespace lousa {
namespace {

// Builds a stream bit by bit, as a hand-made encoder would.
class Bits {
public:
    Bits& put(unsigned value, unsigned width) {
        for (unsigned i = width; i-- > 0;) bits_.push_back(((value >> i) & 1U) != 0);
        return *this;
    }
    Bits& literal(std::uint8_t byte) { return put(0, 1).put(byte, 8); }
    Bits& match(unsigned position, unsigned length) { return put(1, 1).put(position, 12).put(length, 4); }

    // Data bytes, valid-bit count of the last one, trailer.
    [[nodiscard]] std::string stream(char trailer = '\x5A') const {
        std::string out;
        for (std::size_t i = 0; i < bits_.size(); i += 8) {
            unsigned byte = 0;
            for (std::size_t k = 0; k < 8; ++k) byte = (byte << 1) | ((i + k < bits_.size() && bits_[i + k]) ? 1U : 0U);
            out.push_back(static_cast<char>(byte));
        }
        const std::size_t tail = bits_.size() % 8;
        if (out.empty()) out.push_back('\0');
        out.push_back(static_cast<char>(bits_.empty() ? 0 : (tail == 0 ? 8 : tail)));
        out.push_back(trailer);
        return out;
    }

private:
    std::vector<bool> bits_;
};

std::string decoded(const std::string& stream) {
    const DecodeResult r = decodeStream(stream);
    EXPECT_FALSE(r.ranShort);
    return r.text;
}

TEST(Decompressor, WorkedExamples) {
    // Flag 0 then 0x41: nine valid bits in 0x20 0x80, whatever the trailer.
    EXPECT_EQ(decoded(std::string("\x20\x80\x01\xEE", 4)), "A");
    EXPECT_EQ(decoded(std::string("\x20\x80\x01\x00", 4)), "A");

    EXPECT_EQ(decoded(Bits().literal('a').literal('b').literal('c').match(0, 3).stream()), "abcabc");
    // Positions past the output so far read 0, and the output grows by the full length.
    EXPECT_EQ(decoded(Bits().literal('x').match(0, 4).stream()), std::string("xx\0\0\0", 5));
    // Length 0 outputs nothing but consumes its 17 bits.
    EXPECT_EQ(decoded(Bits().literal('a').match(0, 0).literal('b').stream()), "ab");
    // A match reads all its bytes before appending any: it never copies
    // its own output (which would give "aaaa").
    EXPECT_EQ(decoded(Bits().literal('a').match(0, 3).stream()), std::string("aa\0\0", 4));
}

TEST(Decompressor, PositionsCountFromTheOldestByteHeld) {
    // 5000 literals: bytes 0..4999 of a pattern; then a match at position 0
    // must read the 4096th most recent byte (output index 904), not index 0.
    Bits bits;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const auto byte = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
        bits.literal(byte);
        expected.push_back(static_cast<char>(byte));
    }
    bits.match(0, 5).match(4095, 1);
    expected += expected.substr(5000 - 4096, 5);
    // After those 5 bytes the newest byte is the last one appended.
    expected.push_back(expected.back());
    EXPECT_EQ(decoded(bits.stream()), expected);
}

TEST(Decompressor, ShortAndDamagedStreams) {
    // Fewer than 9 bits for a literal: "Error.." case, text so far kept.
    Bits bits;
    bits.literal('o').literal('k').put(0, 5);
    DecodeResult r = decodeStream(bits.stream());
    EXPECT_TRUE(r.ranShort);
    EXPECT_EQ(r.text, "ok");

    // A match flag with fewer than 17 bits left ends the same way.
    r = decodeStream(Bits().literal('z').put(1, 1).put(0, 10).stream());
    EXPECT_TRUE(r.ranShort);
    EXPECT_EQ(r.text, "z");

    // Empty stream, stream without trailer, and garbage: no crash.
    EXPECT_TRUE(decodeStream("").text.empty());
    EXPECT_NO_THROW(decodeStream(std::string("\xFF\xFF", 2)));
    // A bit count above 8 claims nothing beyond the last byte.
    EXPECT_NO_THROW(decodeStream(std::string("\x20\x80\xC8\x00", 4)));
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string garbage(random() % 300, '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        const DecodeResult g = decodeStream(garbage);
        // Every token outputs at most 15 bytes per 9 bits read.
        EXPECT_LE(g.text.size(), garbage.size() * 8 / 9 * 15 + 15);
    }
}

TEST(Decompressor, TextsPastTheLimitAreRefused) {
    std::string text = "9 10 ";
    for (int i = 0; i < 4000; ++i) text += std::to_string(58 + i % 13) + " ";
    const std::string stream = encodeStream(text);
    struct Case {
        std::size_t limit;
        bool refused;
    };
    // Just under the text (counted first, since the stream could give more),
    // exactly the text (counted, then decoded into exactly its room), and a
    // limit above all the stream could give (decoded in one pass).
    for (const Case c : {Case{text.size() - 1, true}, Case{text.size(), false}, Case{kMaxCodeTextBytes, false}}) {
        const DecodeResult r = decodeStream(stream, c.limit);
        EXPECT_EQ(r.tooLarge, c.refused) << c.limit;
        EXPECT_EQ(r.text, c.refused ? "" : text) << c.limit;
        EXPECT_FALSE(r.ranShort) << c.limit;
    }
}

// The file is read in pieces: a marker split between two pieces is found, a
// stream longer than a piece decodes as in memory, and a text past the limit
// prints the damaged-stream message and gives nothing.
TEST(Decompressor, FilesAreReadInPieces) {
    std::mt19937 random(11);
    std::string text;
    for (int i = 0; i < (3 << 19); ++i) text.push_back(static_cast<char>('0' + random() % 10));
    const std::string payload = buildPayload("big.pas", text);
    char path[] = "/tmp/lousa-pieces-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    for (const std::size_t image : {kFilePieceBytes - 1, kFilePieceBytes - 2, std::size_t{10}}) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << std::string(image, 'i') << payload;
        }
        testing::internal::CaptureStdout();
        const std::string whole = decompressPayload(path);
        const std::string refused = decompressPayload(path, text.size() - 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error..") << image;
        EXPECT_TRUE(whole == text) << image;
        EXPECT_TRUE(refused.empty()) << image;
    }
    std::remove(path);
}

TEST(Compressor, RoundTripsThroughTheDecoder) {
    std::mt19937 random(42);
    std::vector<std::string> samples = {"", "A", "ab", std::string(20000, '\0'), std::string(9000, 'x')};
    std::string random1;
    for (int i = 0; i < 12000; ++i) random1.push_back(static_cast<char>(random()));
    samples.push_back(random1);
    // Repetitive with long-distance repeats beyond the window.
    std::string code = "23 24 ";
    for (int i = 0; i < 6000; ++i) code += std::to_string(58 + i % 13) + " " + std::to_string(i % 977) + " ";
    samples.push_back(code);
    std::string blocks;
    for (int i = 0; i < 40; ++i) blocks += random1.substr(static_cast<std::size_t>(i) * 97 % 8000, 500);
    samples.push_back(blocks);

    for (const std::string& text : samples) {
        const std::string stream = encodeStream(text);
        const DecodeResult r = decodeStream(stream);
        ASSERT_FALSE(r.ranShort) << text.size();
        ASSERT_EQ(r.text, text) << "length " << text.size();
    }
    // Matches are actually used: a run of one byte costs 17 bits per 15
    // bytes, and code text shrinks well below its literal cost.
    // (A few shorter tokens first, while the window holds fewer than 15 bytes.)
    EXPECT_LE(encodeStream(std::string(9000, 'x')).size(), 9000U / 15 * 17 / 8 + 16);
    EXPECT_LT(encodeStream(code).size(), code.size() * 6 / 10);
    // Random data costs about 9/8 of its size, never much more.
    EXPECT_LE(encodeStream(random1).size(), random1.size() * 9 / 8 + 4);
}

TEST(Compressor, EveryStreamLengthEndsExactly) {
    // Bit totals of every residue mod 8 end the stream with the right count.
    for (std::size_t n = 0; n < 40; ++n) {
        std::string text;
        for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('a' + (i * 5) % 26));
        const DecodeResult r = decodeStream(encodeStream(text));
        EXPECT_FALSE(r.ranShort) << n;
        EXPECT_EQ(r.text, text) << n;
    }
}

TEST(Container, PayloadIsFoundAfterTheFirstMarker) {
    const std::string payload = buildPayload("prog.pas", "3 4 43 7 9 ");
    EXPECT_EQ(static_cast<unsigned char>(payload[3]), 9U);  // "prog.pas" and its NUL
    const std::string container = std::string("image\x1A\x1Aimage") + payload;
    EXPECT_EQ(findPayload(container), container.size() - payload.size() + 3);
    EXPECT_EQ(decodeStream(payloadStream(container)).text, "3 4 43 7 9 ");

    // Names with any bytes (accents included) are skipped by their length.
    const std::string accented = buildPayload("a\xE7\xE3o.pas", "1 2 43 ");
    EXPECT_EQ(decodeStream(payloadStream(accented)).text, "1 2 43 ");

    // No marker, or a marker with nothing after it: an empty stream.
    EXPECT_EQ(findPayload("no marker here\x1A\x1A"), std::string_view::npos);
    EXPECT_TRUE(payloadStream("no marker here").empty());
    EXPECT_TRUE(payloadStream("img\x1A\x1A\x1A").empty());
    EXPECT_TRUE(payloadStream(std::string("img\x1A\x1A\x1A\x09pro", 10)).empty());
    EXPECT_THROW(buildPayload(std::string(255, 'n'), ""), std::length_error);
}

}  // namespace
}  // namespace lousa
