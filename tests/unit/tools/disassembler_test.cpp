// Disassembly: whatever the words, the listing assembles back to them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "tools/assembler.hpp"
#include "tools/disassembler.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::tool {
namespace {

using Code = std::vector<Word>;

Code reassembled(const Code& code) {
    const std::string listing = disassemble(code, "test");
    const AsmResult r = assemble(listing);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : std::to_string(r.errors[0].line) + ": " + r.errors[0].message) << "\n"
                        << listing;
    return r.code;
}

TEST(Disassembler, ReadableListing) {
    const Code code = assemble(
                          "        ENTER_JUMP 2 100 main\n"
                          "proc:   SCOPE_ENTER \"SOMA\"\n"
                          "        RET_PROC 0\n"
                          "main:   PUSH_STR \"Olá\"\n"
                          "        PUSH_REAL 2.5\n"
                          "        CALL 0 proc\n"
                          "        JUMP 1000\n"
                          "        JUMP 5\n"
                          "        HALT\n")
                          .code;
    const std::string listing = disassemble(code, "prog");
    EXPECT_NE(listing.find(" 0:      ENTER_JUMP 2 100 L12\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" 4: L4:  SCOPE_ENTER \"SOMA\"\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("12: L12: PUSH -1\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("PUSH_N 3 -96 108 79  ; \"Olá\"\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("PUSH_REAL 0 1074003968  ; 2.5\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("CALL 0 L4  ; SOMA\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("JUMP 1000  ; to 1000, outside the code\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("JUMP 5  ; to 5, inside an instruction\n"), std::string::npos) << listing;
    EXPECT_EQ(reassembled(code), code);
}

TEST(Disassembler, WordsThatAreNoInstructionBecomeData) {
    // Unassigned and out-of-range opcodes, and instructions cut short by the
    // end of the code or by counts and names that do not fit.
    const std::vector<Code> cases = {
        {4, 10, -1, 147, 2147483647, 43},
        {58},
        {25, 0},
        {112, 5, 1, 2},
        {112, -1, 43},
        {87, 65, 66},
        {87, 300, -2, -1, 43},
        {103, 0},
        {}};
    for (const Code& code : cases) EXPECT_EQ(reassembled(code), code);

    const std::string listing = disassemble({112, 5, 1, 2}, "t");
    EXPECT_NE(listing.find(".word 112  ; PUSH_N: count 5 does not fit in the code"), std::string::npos) << listing;
}

TEST(Disassembler, LongNamesAndStrings) {
    // A name of 255 characters is one instruction; one of 256 is not.
    Code code = {87};
    code.insert(code.end(), 255, 'x');
    code.push_back(-1);
    EXPECT_EQ(reassembled(code), code);
    EXPECT_NE(disassemble(code, "t").find("SCOPE_ENTER \"xxx"), std::string::npos);
    code.insert(code.begin() + 1, 'y');
    EXPECT_EQ(reassembled(code), code);
    const std::string listing = disassemble(code, "t");
    EXPECT_EQ(listing.find(" SCOPE_ENTER \""), std::string::npos) << listing;
    EXPECT_NE(listing.find(".word 87  ; SCOPE_ENTER: name without its -1 marker"), std::string::npos) << listing;
}

TEST(Disassembler, RandomCodeRoundTrips) {
    std::mt19937 random(2024);
    for (int round = 0; round < 300; ++round) {
        Code code;
        const int n = static_cast<int>(random() % 120);
        for (int i = 0; i < n; ++i) {
            switch (random() % 6) {
                case 0: code.push_back(static_cast<Word>(random())); break;
                case 1: code.push_back(-1); break;
                case 2: code.push_back(static_cast<Word>(random() % 20)); break;
                default: code.push_back(static_cast<Word>(random() % 150)); break;
            }
        }
        ASSERT_EQ(reassembled(code), code) << "round " << round;
    }
}

TEST(Disassembler, EveryEndToEndProgramRoundTrips) {
    namespace fs = std::filesystem;
    int programs = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(LOUSA_SOURCE_DIR) / "tests" / "programs")) {
        const fs::path listingPath = entry.path() / "program.lst";
        if (!fs::exists(listingPath)) continue;
        std::ifstream in(listingPath, std::ios::binary);
        const std::string listing{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const AsmResult original = assemble(listing);
        ASSERT_TRUE(original.ok()) << listingPath << ":" << original.errors[0].line << ": " << original.errors[0].message;
        EXPECT_EQ(reassembled(original.code), original.code) << listingPath;
        ++programs;
    }
    EXPECT_GE(programs, 3);
}

}  // namespace
}  // namespace lousa::tool
