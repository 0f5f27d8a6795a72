// Tests of the benchmark suite's own tools: the LZSS encoder that feeds the
// decoder benchmarks (checked through the runner's decoder, at the window's
// edges), and lousa-count, whose numbers the listings quote.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "loader/arquivo_compilado.hpp"
#include "loader/decompressor.hpp"
#include "micro/lzss_encoder.hpp"

namespace lousa::bench {
namespace {

using ::testing::MatchesRegex;

std::string pseudoRandom(std::size_t size, std::uint32_t seed) {
    std::string text(size, '\0');
    for (char& c : text) {
        seed = seed * 1103515245U + 12345U;
        c = static_cast<char>(seed >> 24);
    }
    return text;
}

TEST(LzssEncoder, RoundTripsThroughTheRunnersDecoder) {
    const std::string repeated = [] {
        std::string t;
        for (int i = 0; i < 3000; ++i) t += "PUSH " + std::to_string(i % 17) + " ";
        return t;
    }();
    const std::array<std::string, 7> texts = {
        std::string{},
        std::string("A"),
        std::string(10000, 'z'),                // long runs: matches right behind the output
        pseudoRandom(5000, 7),                  // literals across the window's fill point
        repeated,                               // matches far back once the window has slid
        pseudoRandom(4095, 1) + "abcabcabc",    // a match right at the 4096th byte
        makeCodeText(200000, "43 "),
    };
    for (const std::string& text : texts) {
        const DecodeResult decoded = decodeStream(encodeStream(text));
        EXPECT_FALSE(decoded.ranShort) << text.size();
        EXPECT_EQ(decoded.text, text) << text.size();
    }
}

TEST(LzssEncoder, CompressesCodeTextAndNeverUsesMoreThanNineBitsPerByte) {
    const std::string code = makeCodeText(1 << 18, "43 ");
    EXPECT_LT(encodeStream(code).size(), code.size() / 2);
    const std::string noise = pseudoRandom(1 << 16, 3);
    EXPECT_LE(encodeStream(noise).size(), noise.size() * 9 / 8 + 3);
}

TEST(LzssEncoder, ContainerCarriesTheTextBehindTheMarker) {
    const std::string text = makeCodeText(5000, "43 ");
    const std::string container = makeContainer(text, 1000);
    EXPECT_EQ(findPayload(container), 1003U);
    EXPECT_EQ(decodeStream(payloadStream(container)).text, text);
    const std::vector<Word> code = parseCodeText(text);
    ASSERT_FALSE(code.empty());
    EXPECT_EQ(code[0], 43);
}

// Runs lousa-count on a code text; returns its standard error.
std::string countRun(const std::string& codeText) {
    const std::string path = testing::TempDir() + "bench_count_test.code";
    std::ofstream(path) << codeText;
    const std::string command = std::string(LOUSA_COUNT_PATH) + " " + path + " 2>&1 >/dev/null";
    std::string result;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (std::fgets(buffer.data(), buffer.size(), pipe)) result += buffer.data();
        pclose(pipe);
    }
    std::remove(path.c_str());
    return result;
}

TEST(LousaCount, CountsEveryExecutedInstruction) {
    // ENTER_JUMP 0 100 4; JUMP 6; PUSH 5; POP; PUSH 6; POP; HALT
    // The second run, on the translation tier, counts the same 7 by its
    // instructions' weights, and some internal instructions.
    EXPECT_THAT(countRun("13 14 94 0 100 4 60 6 58 5 79 58 6 79 43 "),
                MatchesRegex("instructions: 7\ninternal instructions: [1-9][0-9]*\noriginal instructions: 7\n"));
    // i := 3; while i > 0 do dec(i): 4 set-up instructions, 3 passes of 7,
    // the failing test (4) and HALT: 30.
    //  0 ENTER_JUMP 1 100 4   4 ADDR_UP 0 3   7 PUSH 3   9 STORE_N 1
    // 11 LOAD_UP 0 3  14 PUSH 0  16 GT_INT  17 JUMP_FALSE 25
    // 19 ADDR_UP 0 3  22 DEC  23 JUMP 11  25 HALT
    // The loop's test is one internal instruction: fewer than 30 in all.
    const std::string loop = countRun("26 27 94 1 100 4 126 0 3 58 3 8 1 127 0 3 58 0 18 40 25 126 0 3 33 60 11 43 ");
    EXPECT_THAT(loop, MatchesRegex("instructions: 30\ninternal instructions: [12][0-9]\noriginal instructions: 30\n"));
}

TEST(LousaCount, NamesTheInstructionThatStoppedARun) {
    // LINE 7, then the unassigned opcode 4.
    EXPECT_EQ(countRun("3 4 62 7 4 "), "instructions: 2\ninvalid instruction: unassigned opcode 4\n"
                                       "internal instructions: 2\noriginal instructions: 2\n");
    // A jump out of the code.
    EXPECT_EQ(countRun("2 3 60 100 "), "instructions: 2\ninvalid instruction: pc 100 outside the code\n"
                                       "internal instructions: 2\noriginal instructions: 2\n");
}

}  // namespace
}  // namespace lousa::bench
