// The dispatch loop, invalid opcodes and the run-time error text.

#include <gtest/gtest.h>

#include "vm/interpretador.hpp"
#include "vm/opcode_table.hpp"

namespace lousa {
namespace {

const std::string kInvalid = " => Erro de execu\xE7\xE3o na linha 0...\nInstru\xE7\xE3o inv\xE1lida";

TEST(RunLoop, HaltAloneEndsNormally) {
    Interpretador m({43}, "", nullptr);
    m.run();
    EXPECT_FALSE(m.running);
    EXPECT_FALSE(m.runtimeErrorRaised);
    EXPECT_EQ(m.pc, 1);
}

TEST(RunLoop, EveryUnassignedOrOutOfRangeOpcodeIsInvalid) {
    for (const Word op : {4, 10, 11, 30, 70, 71, 105, 123, 124, 128, 129, 147, -1, -2147483647 - 1, 1000}) {
        Interpretador m({op, 0, 0}, "", nullptr);
        m.run();
        EXPECT_TRUE(m.runtimeErrorRaised) << op;
        EXPECT_FALSE(m.running);
        EXPECT_EQ(m.runtimeErrorText, kInvalid) << op;
    }
}

TEST(RunLoop, ErrorTextNamesTheCurrentLineInLatin1) {
    // LINE 12, then an invalid opcode
    Interpretador m({62, 12, 4}, "", nullptr);
    m.run();
    EXPECT_EQ(m.runtimeErrorText, " => Erro de execu\xE7\xE3o na linha 12...\nInstru\xE7\xE3o inv\xE1lida");
    Interpretador negative({62, -3, 4}, "", nullptr);
    negative.run();
    EXPECT_EQ(negative.runtimeErrorText.substr(0, 36), " => Erro de execu\xE7\xE3o na linha -3...\n");
}

TEST(RunLoop, JumpOutsideTheCodeEndsAsInvalidInstruction) {
    for (const Word target : {3, 1000000, 2000000000, -5}) {
        Interpretador m({60, target, 43}, "", nullptr);
        m.run();
        EXPECT_TRUE(m.runtimeErrorRaised) << target;
        EXPECT_EQ(m.runtimeErrorText, kInvalid) << target;
    }
}

TEST(RunLoop, EachRunKeepsItsOwnError) {
    Interpretador bad({4}, "", nullptr);
    Interpretador good({43}, "", nullptr);
    bad.run();
    good.run();
    EXPECT_TRUE(bad.runtimeErrorRaised);
    EXPECT_EQ(bad.runtimeErrorText.substr(bad.runtimeErrorText.size() - 4), "lida");
    EXPECT_FALSE(good.runtimeErrorRaised);
    EXPECT_TRUE(good.runtimeErrorText.empty());
    bad.run();  // a second run of the same machine starts clean and fails again
    EXPECT_TRUE(bad.runtimeErrorRaised);
}

TEST(RunLoop, BudgetStopsAnEndlessProgram) {
    Interpretador m({60, 0}, "", nullptr);  // JUMP 0 forever
    EXPECT_EQ(m.runBudget(1000), 1000U);
    EXPECT_FALSE(m.runtimeErrorRaised);
}

TEST(RunLoop, BudgetCountsTheInstructionThatRaisedAnError) {
    Interpretador m({62, 1, 62, 2, 4}, "", nullptr);  // LINE 1, LINE 2, invalid
    EXPECT_EQ(m.runBudget(100), 3U);
    EXPECT_TRUE(m.runtimeErrorRaised);
}

TEST(OpcodeTable, HoldsEveryAssignedNumberOnceWithItsOperandShape) {
    EXPECT_EQ(kAssignedOpcodeCount, 136);
    EXPECT_EQ(opcodeInfo(4), nullptr);
    EXPECT_EQ(opcodeInfo(147), nullptr);
    EXPECT_EQ(opcodeInfo(-1), nullptr);
    ASSERT_NE(opcodeInfo(94), nullptr);
    EXPECT_EQ(opcodeInfo(94)->mnemonic, "ENTER_JUMP");
    EXPECT_EQ(opcodeInfo(94)->operands, "wwa");
    EXPECT_EQ(opcodeInfo(25)->operands, "wd");
    EXPECT_TRUE(opcodeInfo(112)->variableLength());
    EXPECT_TRUE(opcodeInfo(87)->variableLength());
    EXPECT_EQ(opcodeByMnemonic("CON_WRITE"), 130);
    EXPECT_EQ(opcodeByMnemonic("NOPE"), std::nullopt);
    for (const auto& info : kOpcodeTable) {
        if (info.assigned()) {
            EXPECT_EQ(opcodeByMnemonic(info.mnemonic), info.number);
        }
    }
}

}  // namespace
}  // namespace lousa
