// The machine's state after construction, its memory primitives and value layouts.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vm/interpretador.hpp"

namespace lousa {
namespace {

TEST(MachineConstruction, CodeLandsInLowWordsAndFrameBeginsAfterIt) {
    Interpretador m({43, 7, 9}, "/dir/", nullptr);
    EXPECT_EQ(m.bp, 3);
    EXPECT_EQ(m.codeSize, 3);
    EXPECT_EQ(m.readWord(0), 43);
    EXPECT_EQ(m.readWord(2), 9);
    EXPECT_EQ(m.readWord(3), 0);
    EXPECT_EQ(m.runnerDirectory, "/dir/");
    EXPECT_EQ(m.currentLine, 0);
    EXPECT_FALSE(m.pendingLineFeed);
    EXPECT_EQ(m.pendingKey, 0);
    ASSERT_EQ(m.scopes.size(), 1U);
    EXPECT_EQ(m.scopes.top().name, "PROGRAM");
    EXPECT_EQ(m.scopes.top().frameBase, 3);
    EXPECT_EQ(m.sets.size(), 0U);
}

TEST(WordMemory, NeverWrittenWordsReadZeroAndWritesLandWhereAddressed) {
    Interpretador m({43}, "", nullptr);
    EXPECT_EQ(m.readWord(5000), 0);
    m.writeWordAt(1000, 7, 99);
    EXPECT_EQ(m.readWord(1007), 99);
    EXPECT_EQ(m.readWordAt(1000, 7), 99);
    m.writeWord(123456, -5);
    EXPECT_EQ(m.readWord(123456), -5);
}

TEST(WordMemory, WildAddressesAreHeldSparselyWithoutGrowingTheDenseRegion) {
    Interpretador m({43}, "", nullptr);
    m.writeWord(2000000000, 17);
    m.writeWord(2147483647, 18);
    EXPECT_EQ(m.readWord(2000000000), 17);
    EXPECT_EQ(m.readWord(2147483647), 18);
    EXPECT_EQ(m.readWord(1999999999), 0);
    EXPECT_LE(m.memory.denseSize(), std::size_t{WordMemory::kDenseLimit});
    EXPECT_EQ(m.memory.sparseSize(), 2U);
    m.writeWord(2000000000, 0);  // a zero write frees the sparse word
    EXPECT_EQ(m.memory.sparseSize(), 1U);
}

TEST(WordMemory, NonNegativeBaseWithNegativeOffsetStaysOutOfTheHeap) {
    Interpretador m({43}, "", nullptr);
    const Word block = m.heap.allocate(4);  // -2: words at -2..-5
    m.writeWordAt(block, 1, 55);
    m.writeWordAt(1, -4, 77);  // address -3 reached from a non-negative base
    EXPECT_EQ(m.readWordAt(block, 1), 55);
    EXPECT_EQ(m.readWordAt(1, -4), 77);
}

TEST(WordMemory, NegativeBaseAddressesHeapDownward) {
    Interpretador m({43}, "", nullptr);
    const Word block = m.heap.allocate(3);
    EXPECT_EQ(block, -2);
    m.writeWordAt(block, 0, 10);
    m.writeWordAt(block, 2, 12);
    EXPECT_EQ(m.readWord(-2), 10);
    EXPECT_EQ(m.readWord(-4), 12);
    EXPECT_EQ(m.readWordAt(block, 2), 12);
}

TEST(Reals, KeepHighHalfAtLowerAddressAndRoundTripBitPatterns) {
    Interpretador m({43}, "", nullptr);
    m.sp = 100;
    for (const double value : {1.0, -2.5, 0.1, -0.0, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::denorm_min()}) {
        m.pushReal(value);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(m.topReal()), std::bit_cast<std::uint64_t>(value));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(m.popReal()), std::bit_cast<std::uint64_t>(value));
    }
    m.storeReal(1.0, 201, 200);
    EXPECT_EQ(m.readWord(200), 1072693248);
    EXPECT_EQ(m.readWord(201), 0);
    EXPECT_EQ(m.readReal(200), 1.0);
    const double nan = Interpretador::realFromWords(0x7FF80000, 0);
    EXPECT_TRUE(std::isnan(nan));
}

TEST(StringsOnTheStack, PushPutsFirstCharacterOnTopAboveTheMarker) {
    Interpretador m({43}, "", nullptr);
    m.sp = 50;
    m.pushString("abc");
    EXPECT_EQ(m.sp, 54);
    EXPECT_EQ(m.readWord(54), 'a');
    EXPECT_EQ(m.readWord(53), 'b');
    EXPECT_EQ(m.readWord(52), 'c');
    EXPECT_EQ(m.readWord(51), -1);
    EXPECT_EQ(m.popString(), "abc");
    EXPECT_EQ(m.sp, 50);
}

TEST(StringsOnTheStack, LongStringsAreCutAndHighBytesStoredNegative) {
    Interpretador m({43}, "", nullptr);
    m.sp = 10;
    m.pushString(std::string(300, 'x'));
    EXPECT_EQ(m.sp, 10 + 256);
    m.popString();
    m.pushString("\xE3z");
    EXPECT_EQ(m.readWord(m.sp), -29);
    EXPECT_EQ(m.popString(), "\xE3z");
    m.pushString(std::string("ab\0cd", 5));  // stops at the first NUL
    EXPECT_EQ(m.popString(), "ab");
}

TEST(StringsOnTheStack, PopStringWithoutMarkerStopsInsteadOfWalkingMemory) {
    Interpretador m({43}, "", nullptr);
    m.sp = 100000;  // all words below read 0: no marker anywhere
    const std::string s = m.popString();
    EXPECT_LE(s.size(), 4097U);
    EXPECT_GE(m.sp, 100000 - 4098);
}

TEST(StringsOnTheStack, OperandKindsSayWhichSideIsACharacter) {
    Interpretador m({43}, "", nullptr);
    m.sp = 10;
    m.push('x');
    m.push('y');
    auto [l3, r3] = m.popStringOperands(3);
    EXPECT_EQ(l3, "x");
    EXPECT_EQ(r3, "y");
    EXPECT_EQ(m.sp, 10);

    m.push('c');
    m.pushString("str");
    auto [l1, r1] = m.popStringOperands(1);
    EXPECT_EQ(l1, "c");
    EXPECT_EQ(r1, "str");

    m.pushString("left");
    m.push('r');
    auto [l2, r2] = m.popStringOperands(2);
    EXPECT_EQ(l2, "left");
    EXPECT_EQ(r2, "r");
    EXPECT_EQ(m.sp, 10);
}

TEST(StringVariables, ReadStopsAtMarkerOrCapacity) {
    Interpretador m({43}, "", nullptr);
    m.writeStringVar(200, 5, "abc");
    EXPECT_EQ(m.readWord(203), -1);
    EXPECT_EQ(m.readStringVar(200), "abc");
    m.writeStringVar(300, 3, "abcdef");
    EXPECT_EQ(m.readWord(303), 0);  // full: no marker
    EXPECT_EQ(m.readStringAt(300, 3), "abc");
}

TEST(WordLists, RoundTripInPushOrderAndWildCountsStayBounded) {
    Interpretador m({43}, "", nullptr);
    m.sp = 20;
    m.pushWordList(std::vector<Word>{1, 3, 7, 9});
    EXPECT_EQ(m.readWord(m.sp), 2);
    EXPECT_EQ(m.popWordList(), (std::vector<Word>{1, 3, 7, 9}));
    EXPECT_EQ(m.sp, 20);

    m.push(1000000000);  // a count no stack can hold
    const auto list = m.popWordList();
    EXPECT_LE(list.size(), 22U);
}

TEST(FileNames, DirectoryOfUsesWhicheverSeparatorComesLast) {
    EXPECT_EQ(directoryOf("prog"), "");
    EXPECT_EQ(directoryOf("C:\\pasta\\prog.exe"), "C:\\pasta\\");
    EXPECT_EQ(directoryOf("/a/b\\c/prog"), "/a/b\\c/");
    EXPECT_EQ(directoryOf("/a/b/c\\prog"), "/a/b/c\\");
}

TEST(Texts, DecimalAndHexadecimal) {
    EXPECT_EQ(decimalText(-2147483647 - 1), "-2147483648");
    EXPECT_EQ(hexText(-16), "fffffff0");
    EXPECT_EQ(hexText(255), "ff");
    EXPECT_EQ(hexText(0), "0");
}

}  // namespace
}  // namespace lousa
