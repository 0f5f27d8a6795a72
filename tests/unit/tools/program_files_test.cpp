// What the tool's messages may show of a file's bytes.

#include "tools/program_files.hpp"

#include <gtest/gtest.h>

namespace lousa::tool {
namespace {

TEST(Printable, ControlsAndBrokenUtf8AreQuotedTextIsKept) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain text: a.lst", "plain text: a.lst"},
        {"a\x1B[2Jb", "a\\x1B[2Jb"},
        {"tab\there\nnl\x7F", "tab\\x09here\\x0Anl\\x7F"},
        {"ação ☺ 𝄞", "ação ☺ 𝄞"},                  // two-, three- and four-byte sequences
        {"\xC2\x9B" "31m", "\\xC2\\x9B31m"},              // U+009B, the C1 control sequence introducer
        {"\x9B" "31m", "\\x9B31m"},                       // a lone continuation byte
        {"\xE9t\xE9", "\\xE9t\\xE9"},                     // Latin-1, not UTF-8
        {"\xC0\xAF \xE0\x80\xAF \xED\xA0\x80", "\\xC0\\xAF \\xE0\\x80\\xAF \\xED\\xA0\\x80"},  // overlong, surrogate
        {"\xF4\x90\x80\x80 \xE2\x82", "\\xF4\\x90\\x80\\x80 \\xE2\\x82"},                    // past U+10FFFF, cut
    };
    for (const auto& c : cases) EXPECT_EQ(printable(c.in), c.out) << c.in;
}

TEST(BinaryListing, TextPassesControlBytesDoNot) {
    for (const char* text : {"HALT\r\n", "\tPUSH 1\f\v\n", "HALT\n\x1A", "PUSH_STR \"\x1B\"\n", "ação\n"})
        EXPECT_NO_THROW(refuseBinaryListing(text, "x")) << text;
    for (const std::string& bytes : {std::string("HALT\0", 5), std::string("\x7F" "ELF\x02\x01"), std::string("a\x01")})
        EXPECT_THROW(refuseBinaryListing(bytes, "x"), ToolError);
}

}  // namespace
}  // namespace lousa::tool
