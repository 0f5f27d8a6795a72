// The loader's fast paths against plain reference versions written for
// clarity: the decoder (ring-buffer window, one bit at a time), the marker
// search and the code-text parser, on random and adversarial inputs.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "loader/arquivo_compilado.hpp"
#include "loader/decompressor.hpp"

namespace {

using lousa::kWindowSize;

lousa::DecodeResult referenceDecode(std::string_view stream) {
    // The stream's bits: all bytes when shorter than 3, otherwise the data
    // bytes, then the last byte's valid bits (at most 8); the trailer is ignored.
    std::vector<int> bits;
    auto addByte = [&](unsigned char byte, unsigned valid) {
        for (unsigned i = 0; i < valid; ++i) bits.push_back((byte >> (7 - i)) & 1);
    };
    if (stream.size() < 3) {
        for (char c : stream) addByte(static_cast<unsigned char>(c), 8);
    } else {
        for (std::size_t i = 0; i + 3 < stream.size(); ++i) addByte(static_cast<unsigned char>(stream[i]), 8);
        unsigned valid = static_cast<unsigned char>(stream[stream.size() - 2]);
        addByte(static_cast<unsigned char>(stream[stream.size() - 3]), valid > 8 ? 8 : valid);
    }
    std::size_t at = 0;
    auto take = [&](unsigned width) {
        unsigned value = 0;
        for (unsigned i = 0; i < width; ++i) value = value << 1 | static_cast<unsigned>(bits[at++]);
        return value;
    };
    std::array<unsigned char, kWindowSize> window{};
    std::size_t held = 0;
    std::size_t head = 0;
    auto windowAt = [&](std::size_t p) -> unsigned char {
        if (p >= kWindowSize) return 0;
        if (held < kWindowSize) return window[p];
        return window[(head + p) % kWindowSize];
    };
    auto append = [&](unsigned char c) {
        if (held < kWindowSize) {
            window[held++] = c;
        } else {
            window[head] = c;
            head = (head + 1) % kWindowSize;
        }
    };
    lousa::DecodeResult result;
    while (at < bits.size()) {
        const std::size_t left = bits.size() - at;
        if (bits[at] == 0) {
            if (left < 9) {
                result.ranShort = true;
                break;
            }
            ++at;
            const auto c = static_cast<unsigned char>(take(8));
            append(c);
            result.text.push_back(static_cast<char>(c));
        } else {
            if (left < 17) {
                result.ranShort = true;
                break;
            }
            ++at;
            const unsigned position = take(12);
            const unsigned length = take(4);
            std::array<unsigned char, 16> copied{};
            for (unsigned i = 0; i < length; ++i) copied[i] = windowAt(position + i);
            for (unsigned i = 0; i < length; ++i) {
                append(copied[i]);
                result.text.push_back(static_cast<char>(copied[i]));
            }
        }
    }
    return result;
}

// Streams that favour copies (so the window fills and wraps), with random
// positions that reach past the window's end and into unfilled slots.
std::string randomStream(std::mt19937& rng, std::size_t bytes, int copyPercent) {
    std::string stream;
    std::uint64_t acc = 0;
    unsigned count = 0;
    auto put = [&](unsigned value, unsigned width) {
        for (unsigned i = 0; i < width; ++i) {
            acc = acc << 1 | ((value >> (width - 1 - i)) & 1);
            if (++count == 8) {
                stream.push_back(static_cast<char>(acc & 0xFF));
                count = 0;
                acc = 0;
            }
        }
    };
    while (stream.size() < bytes) {
        if (static_cast<int>(rng() % 100) < copyPercent) {
            put(1, 1);
            put(rng() % 4096, 12);
            put(rng() % 16, 4);
        } else {
            put(0, 1);
            put(rng() % 256, 8);
        }
    }
    // Last byte, valid-bit count (sometimes wild), trailer.
    stream.push_back(static_cast<char>(rng() % 256));
    const unsigned r = rng() % 12;
    stream.push_back(static_cast<char>(r < 10 ? r : 200));
    stream.push_back('\0');
    return stream;
}

TEST(LoaderReference, DecoderMatchesTheReferenceOnRandomStreams) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        const std::size_t bytes = round < 40 ? static_cast<std::size_t>(round) : rng() % 20000;
        std::string stream = randomStream(rng, bytes, static_cast<int>(rng() % 101));
        if (round < 6) stream.resize(static_cast<std::size_t>(round % 3));  // streams shorter than the trailer
        const lousa::DecodeResult expected = referenceDecode(stream);
        const lousa::DecodeResult got = lousa::decodeStream(stream);
        ASSERT_EQ(got.ranShort, expected.ranShort) << "round " << round;
        ASSERT_EQ(got.text, expected.text) << "round " << round;
    }
}

TEST(LoaderReference, MarkerSearchFindsTheFirstRunOfThree) {
    std::mt19937 rng(777);
    for (int round = 0; round < 500; ++round) {
        std::string container(rng() % 64, '\0');
        for (char& c : container) c = (rng() % 3 == 0) ? '\x1A' : static_cast<char>(rng() % 4);
        std::size_t expected = std::string_view::npos;
        for (std::size_t i = 2; i < container.size(); ++i) {
            if (container[i] == '\x1A' && container[i - 1] == '\x1A' && container[i - 2] == '\x1A') {
                expected = i + 1;
                break;
            }
        }
        ASSERT_EQ(lousa::findPayload(container), expected) << round;
    }
}

// A reservation that shows in the capacity.
std::size_t countingCapacity(std::size_t words) { return words * 3 + 1; }

TEST(LoaderReference, ParserMatchesTokenByTokenValues) {
    std::mt19937 rng(99);
    const std::string pieces[] = {"0",  "-1",         "+7",          "2147483647", "2147483648", "-2147483648",
                                  "-99999999999", "12ab", "x", "", "\t\n5", "--3", "+", "-", "0000000000000000042"};
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> tokens;
        const int n = static_cast<int>(rng() % 30);
        for (int i = 0; i < n + 2; ++i) tokens.push_back(pieces[rng() % std::size(pieces)]);
        if (round % 3 == 0) tokens[0] = std::to_string(rng() % 40);
        std::string text;
        for (const std::string& t : tokens) text += t + ' ';
        if (round % 4 == 1 && !text.empty()) text.pop_back();  // last token cut short by the end
        if (round % 5 == 2) text.resize(text.size() / 2);

        // Reference: split after every space, then the value of each token.
        std::vector<std::string_view> split;
        std::string_view rest = text;
        while (!rest.empty()) {
            const std::size_t space = rest.find(' ');
            const std::size_t take = space == std::string_view::npos ? rest.size() : space + 1;
            split.push_back(rest.substr(0, take));
            rest.remove_prefix(take);
        }
        std::vector<lousa::Word> expected;
        const lousa::Word count = split.empty() ? 0 : lousa::tokenValue(split[0]);
        for (lousa::Word i = 0; i < count && static_cast<std::size_t>(i) + 2 < split.size() + 0; ++i)
            expected.push_back(lousa::tokenValue(split[static_cast<std::size_t>(i) + 2]));
        const std::vector<lousa::Word> whole = lousa::parseCodeText(text, &countingCapacity);
        ASSERT_EQ(whole, expected) << "text: " << text;

        // The same text in pieces cut anywhere (inside tokens, at spaces,
        // empty pieces): the same words and the same reservation.
        lousa::CodeTextParser parser(&countingCapacity);
        parser.begin(text.size());
        std::string_view left = text;
        while (!left.empty()) {
            const std::size_t take = std::min<std::size_t>(left.size(), rng() % 6);
            parser.take(left.substr(0, take));
            left.remove_prefix(take);
        }
        const std::vector<lousa::Word> pieces = parser.finish();
        ASSERT_EQ(pieces, expected) << "text: " << text;
        ASSERT_EQ(pieces.capacity(), whole.capacity()) << "text: " << text;
    }
}

// A packed file is read in pieces of kFilePieceBytes and its text is handed
// on in pieces of about that size behind the decoder's window. Whatever the
// container (a marker split between two pieces, a first run of three inside
// a longer run, a decoy pair, a stream cut short or a name running past the
// end), the file gives what the reference decoder gives for the same bytes
// in memory, with the same message, and the loader parses that text.
TEST(LoaderReference, FilesDecodeAsTheirBytesDoInMemory) {
    constexpr std::size_t kPiece = lousa::kFilePieceBytes;
    struct Case {
        std::size_t image;      // bytes before the marker
        std::string imageEnd;   // the last of them
        std::size_t streamBytes;
        int copyPercent;
        std::size_t cut;        // bytes cut off the file's end
    };
    const std::string decoy("\x1A\x1Ai", 3);
    const Case cases[] = {
        {10, "", 300000, 70, 0},             // a text of many output pieces
        {kPiece - 1, "", 20000, 50, 0},      // the marker split 1 + 2 between the first two pieces
        {kPiece - 2, "", 20000, 50, 0},      // split 2 + 1
        {kPiece - 3, "", 300000, 90, 0},     // whole at the end of the first piece
        {2 * kPiece - 4, "", 5000, 30, 0},   // split between the second and third (pieces overlap by two)
        {2 * kPiece - 3, "", 5000, 30, 0},
        {kPiece - 1, "\x1A", 5000, 30, 0},  // a run of four: the first three are the marker
        {kPiece, decoy, 5000, 30, 0},        // a pair that is no marker, across the boundary
        {kPiece + 1, decoy, 5000, 30, 0},
        {100, "", 300000, 60, 7},            // the stream cut short
        {kPiece - 2, "", 0, 0, 0},           // a stream of its closing bytes alone
        {100, "", 0, 0, 6},                  // the name runs past the end
        {kPiece - 2, "", 0, 0, 8},           // the marker ends the file
        {kPiece + 5, "", 0, 0, 11},          // no marker: the image alone
    };
    std::mt19937 rng(4242);
    char path[] = "/tmp/lousa-file-pieces-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    for (const Case& c : cases) {
        std::string contents(c.image - c.imageEnd.size(), 'i');
        contents += c.imageEnd;
        contents += std::string("\x1A\x1A\x1A\x05name", 8);
        contents += randomStream(rng, c.streamBytes, c.copyPercent);
        contents.resize(contents.size() - std::min(c.cut, contents.size()));
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << contents;
        }
        const lousa::DecodeResult expected = referenceDecode(lousa::payloadStream(contents));
        const std::string message = expected.ranShort ? "Error.." : "";
        testing::internal::CaptureStdout();
        const std::string text = lousa::decompressPayload(path);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), message) << c.image;
        EXPECT_TRUE(text == expected.text) << c.image << ": " << text.size() << " bytes, not " << expected.text.size();
        testing::internal::CaptureStdout();
        const std::vector<lousa::Word> code = lousa::ArquivoCompilado(path).loadCode();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), message) << c.image;
        EXPECT_EQ(code, lousa::parseCodeText(expected.text)) << c.image;
    }
    std::remove(path);
}

}  // namespace
