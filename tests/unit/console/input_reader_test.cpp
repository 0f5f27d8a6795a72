#include "console/input_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace lousa {
namespace {

InputReader readerOver(std::string bytes, std::size_t chunk = 4096, bool terminal = false) {
    auto source = std::make_unique<MemoryByteSource>(std::move(bytes), terminal);
    source->setChunk(chunk);
    return InputReader(std::move(source));
}

std::string rest(InputReader& reader) {
    std::string text;
    for (int c = reader.get(); c != InputReader::kEnd; c = reader.get()) text.push_back(static_cast<char>(c));
    return text;
}

// One conversion's outcome, written the same way for glibc and for the reader.
std::string outcome(char conversion, bool ok, const std::string& value) {
    return std::string(1, conversion) + (ok ? ":" + value : ":fail");
}

std::string realValue(double d) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", d);
    return text;
}

// Runs the conversions with fscanf over the same bytes; stops at the first failure, as a run-time error would.
std::vector<std::string> withGlibc(const std::string& input, const std::string& conversions) {
    std::vector<std::string> out;
    std::string copy = input;
    FILE* f = fmemopen(copy.data(), copy.size(), "r");
    for (char k : conversions) {
        bool ok = false;
        std::string value;
        if (k == 'd') {
            int i = 0;
            ok = std::fscanf(f, "%d", &i) == 1;
            value = std::to_string(i);
        } else if (k == 'c') {
            char c = 0;
            ok = std::fscanf(f, "%c", &c) == 1;
            value = std::to_string(static_cast<unsigned char>(c));
        } else if (k == 's') {
            char word[256] = {};
            ok = std::fscanf(f, "%255s", word) == 1;
            value = word;
        } else {
            double d = 0;
            ok = std::fscanf(f, "%lf", &d) == 1;
            value = realValue(d);
        }
        out.push_back(outcome(k, ok, value));
        if (!ok) break;
    }
    std::string left;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) left.push_back(static_cast<char>(c));
    out.push_back("rest:" + left);
    std::fclose(f);
    return out;
}

std::vector<std::string> withReader(const std::string& input, const std::string& conversions, std::size_t chunk) {
    InputReader reader = readerOver(input, chunk);
    std::vector<std::string> out;
    for (char k : conversions) {
        bool ok = false;
        std::string value;
        if (k == 'd') {
            auto v = reader.scanInteger();
            ok = v.has_value();
            value = std::to_string(v.value_or(0));
        } else if (k == 'c') {
            auto v = reader.scanCharacter();
            ok = v.has_value();
            value = std::to_string(v.value_or(0));
        } else if (k == 's') {
            auto v = reader.scanWord(255);
            ok = v.has_value();
            value = v.value_or("");
        } else {
            auto v = reader.scanReal();
            ok = v.has_value();
            value = realValue(v.value_or(0));
        }
        out.push_back(outcome(k, ok, value));
        if (!ok) break;
    }
    out.push_back("rest:" + rest(reader));
    return out;
}

TEST(InputReader, ScansExactlyAsGlibcConsumes) {
    struct Case {
        const char* input;
        const char* conversions;
    };
    const std::vector<Case> cases = {
        {"12 34", "dd"}, {"12abc", "dc"}, {"abc", "d"}, {"  -12abc", "ds"}, {"-x", "d"}, {"+-1", "d"},
        {"--1", "d"}, {" +7\n", "dc"}, {"-", "d"}, {"", "d"}, {"   \n\t ", "d"}, {"00012", "d"},
        {"4294967297", "d"}, {"-2147483649", "d"}, {"99999999999999999999", "d"}, {"-99999999999999999999", "d"},
        {"9223372036854775807 9223372036854775808", "dd"}, {"-9223372036854775808", "d"},
        {"5\nx", "dc"}, {"5\n\nx", "dcc"}, {"a b", "ccc"}, {"", "c"},
        {"true False\nyes", "sss"}, {"  word\tnext", "ssc"}, {"", "s"}, {" \n ", "s"},
        {"2.5e1", "f"}, {"x", "f"}, {".5", "f"}, {".", "f"}, {".e1", "f"}, {"-.x", "f"}, {"1e", "f"},
        {"1ex", "f"}, {"1e+x", "f"}, {"1e+5x", "f"}, {"1e5e", "f"}, {"1..", "f"}, {"1.5.3", "f"}, {"1e5.5", "f"},
        {"inf", "f"}, {"-Infinity!", "f"}, {"infx", "f"}, {"infinit", "f"}, {"ina", "f"}, {"nAn(1)", "f"},
        {"na", "f"}, {"inax", "f"}, {"nbx", "f"}, {"ix", "f"}, {"nanx", "f"}, {"1ee5", "f"}, {"1e-e", "f"}, {"0x1p3", "f"}, {"0x", "f"}, {"0xg", "f"}, {"0x.8", "f"}, {"0x1.", "f"}, {"0x1p", "f"},
        {"0x1pz", "f"}, {"0X1P-2", "f"}, {"0x.p1", "f"}, {"0x.", "f"}, {"0xAbC.dp1", "f"}, {"00x1", "f"},
        {"-0x10", "f"}, {"-0", "f"}, {"1e400 -1e400 1e-400", "fff"}, {"0.1", "f"},
        {"123456789012345678901234567890", "f"}, {"0e", "f"}, {"0.x", "f"}, {"1,5", "fc"}, {"- 5", "f"},
        {"3 4.5 word c", "dfsc"}, {"7.9", "dc"}, {"12 34", "fd"},
    };
    for (const Case& c : cases) {
        const auto expected = withGlibc(c.input, c.conversions);
        EXPECT_EQ(withReader(c.input, c.conversions, 4096), expected) << "input '" << c.input << "'";
        EXPECT_EQ(withReader(c.input, c.conversions, 1), expected) << "one byte per read: '" << c.input << "'";
    }
}

TEST(InputReader, CrLfReadsAsOneLineFeedAndLoneCrStays) {
    InputReader reader = readerOver("5\r\nx\ry\r\n\r\nlast\r", 1);
    EXPECT_EQ(reader.scanInteger(), 5);
    EXPECT_EQ(reader.get(), '\n');
    EXPECT_EQ(reader.scanCharacter(), 'x');
    EXPECT_EQ(reader.scanCharacter(), '\r');
    EXPECT_EQ(reader.readLine(255), "y");
    EXPECT_EQ(reader.readLine(255), "");
    EXPECT_EQ(reader.readLine(255), "last\r");  // a CR at the very end is no line end
    EXPECT_EQ(reader.readLine(255), std::nullopt);
}

TEST(InputReader, LineReadsSeeWhatEarlierReadsLeft) {
    InputReader reader = readerOver("5\nhello\n12 rest of line\nabcdef\nlast");
    EXPECT_EQ(reader.scanInteger(), 5);
    EXPECT_EQ(reader.readLine(10), "");  // the line end the number left behind
    EXPECT_EQ(reader.readLine(10), "hello");
    EXPECT_EQ(reader.scanInteger(), 12);
    EXPECT_EQ(reader.readLine(255), " rest of line");
    std::size_t length = 0;
    EXPECT_EQ(reader.readLine(3, &length), "abc");  // the rest of a long line is consumed
    EXPECT_EQ(length, 6U);
    EXPECT_EQ(reader.readLine(255), "last");  // a last line without its line end
    EXPECT_EQ(reader.readLine(255), std::nullopt);
    EXPECT_EQ(reader.scanInteger(), std::nullopt);
}

TEST(InputReader, LongWordsAreConsumedButNotKept) {
    InputReader reader = readerOver(std::string(100000, 't') + " FALSE");
    EXPECT_EQ(reader.scanWord(8), std::string(8, 't'));
    EXPECT_EQ(reader.scanWord(8), "FALSE");
}

TEST(InputReader, BufferStaysBoundedWhenRefillsEndInACarriageReturn) {
    // every refill ends with a CR, so each peek at it reads the next chunk
    std::string input;
    for (int i = 0; i < 2000; ++i) input += std::string(4095, 'x') + "\r";
    InputReader reader = readerOver(input, 4096);
    std::size_t length = 0;
    std::size_t largest = 0;
    while (reader.readLine(0, &length)) largest = std::max(largest, reader.bufferedBytes());
    EXPECT_EQ(length, input.size());
    EXPECT_LE(largest, 2U * 4096U);
}

TEST(InputReader, EndOfInputIsStickyAndNeverWaits) {
    InputReader reader = readerOver("1");
    EXPECT_EQ(reader.scanInteger(), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reader.scanInteger(), std::nullopt);
        EXPECT_EQ(reader.scanReal(), std::nullopt);
        EXPECT_EQ(reader.scanCharacter(), std::nullopt);
        EXPECT_EQ(reader.scanWord(), std::nullopt);
        EXPECT_EQ(reader.readLine(10), std::nullopt);
        EXPECT_EQ(reader.nextKeyByte(), InputReader::kEnd);
        EXPECT_FALSE(reader.keyByteReady());
    }
}

TEST(InputReader, OutputIsFlushedBeforeTheDeviceIsRead) {
    InputReader reader = readerOver("ab", 1);
    int waits = 0;
    reader.setBeforeWait([&] { ++waits; });
    EXPECT_EQ(reader.get(), 'a');
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(reader.get(), 'b');
    EXPECT_EQ(waits, 2);
}

TEST(InputReader, PipedKeysAndReadsShareOneStream) {
    InputReader reader = readerOver("7\r\nq");
    EXPECT_EQ(reader.scanInteger(), 7);
    EXPECT_TRUE(reader.keyByteReady());
    EXPECT_EQ(reader.nextKeyByte(), '\n');  // CR LF is one line end for keys too
    EXPECT_EQ(reader.nextKeyByteWithin(0), 'q');
    EXPECT_EQ(reader.nextKeyByteWithin(30), InputReader::kEnd);
    reader.discardTypedAhead();  // piped input is never discarded
}

TEST(InputReader, PipedInputIsNotDiscarded) {
    InputReader reader = readerOver("1 2");
    EXPECT_EQ(reader.scanInteger(), 1);
    reader.discardTypedAhead();
    EXPECT_EQ(reader.scanInteger(), 2);
}

struct FixedLines : LineSource {
    std::vector<std::string> lines;
    std::size_t next = 0;
    std::optional<std::string> readLine(std::size_t) override {
        if (next == lines.size()) return std::nullopt;
        return lines[next++];
    }
};

TEST(InputReader, TerminalKeepsKeysApartFromLines) {
    FixedLines editor;
    editor.lines = {"42\n", "second\n"};
    InputReader reader = readerOver("xy", 4096, /*terminal=*/true);
    reader.setLineSource(&editor);
    EXPECT_EQ(reader.scanInteger(), 42);
    // the line end left by the number is not a key press
    EXPECT_EQ(reader.nextKeyByte(), 'x');
    EXPECT_EQ(reader.readLine(255), "");
    EXPECT_EQ(reader.readLine(255), "second");
    reader.discardTypedAhead();  // a terminal's typed-ahead keys go
    EXPECT_FALSE(reader.keyByteReady());
    EXPECT_EQ(reader.readLine(255), std::nullopt);
}

TEST(InputReader, TerminalWithoutEditorReadsLinesFromTheDevice) {
    InputReader reader = readerOver("ab", 4096, /*terminal=*/true);
    EXPECT_EQ(reader.nextKeyByte(), 'a');
    // a key typed ahead of a line read starts that line
    EXPECT_EQ(reader.readLine(255), "b");
}

TEST(ByteKeySource, EachByteIsAKeyWithEnterForLineEnds) {
    InputReader reader = readerOver("a\n\t");
    ByteKeySource keys(reader);
    EXPECT_TRUE(keys.keyWaiting());
    EXPECT_EQ(keys.nextKey(), (KeyEvent{0, 'a'}));
    EXPECT_EQ(keys.nextKey(), (KeyEvent{vk::kEnter, 13}));
    EXPECT_EQ(keys.nextKey(), (KeyEvent{vk::kTab, 9}));
    EXPECT_FALSE(keys.keyWaiting());
    EXPECT_EQ(keys.nextKey(), std::nullopt);
}

}  // namespace
}  // namespace lousa
