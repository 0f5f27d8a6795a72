#include "unit/compute/vm_fixture.hpp"

namespace lousa::test {
namespace {

TEST(Jumps, JumpFalseTreatsOnlyOneAsTrue) {
    for (const auto& [value, target] : {std::pair<Word, Word>{1, 2}, {0, 50}, {2, 50}, {-1, 50}}) {
        Vm vm({op(Opcode::JUMP_FALSE), 50});
        vm.pushAll({9, value});
        vm.step();
        EXPECT_EQ(vm.m.pc, target) << value;
        EXPECT_EQ(vm.stack(), (std::vector<Word>{9}));
    }
    Vm jump({op(Opcode::JUMP), 77});
    jump.step();
    EXPECT_EQ(jump.m.pc, 77);
}

std::vector<Word> callAt10(Word levels, Word displacement) {
    std::vector<Word> code(100, 0);
    code[10] = op(Opcode::CALL);
    code[11] = levels;
    code[12] = displacement;
    return code;
}

TEST(Calls, CallBuildsTheFrameAndFollowsStaticLinks) {
    // Frames: outer at 2000, middle at 3000 (static link 2000), current at
    // 4000 (static link 3000).
    for (const auto& [levels, link] : {std::pair<Word, Word>{0, 4000}, {1, 3000}, {2, 2000}}) {
        Vm vm(callAt10(levels, 30));
        vm.m.writeWord(3000, 2000);
        vm.m.writeWord(4000, 3000);
        vm.m.bp = 4000;
        vm.m.sp = 4010;
        vm.m.pc = 10;
        vm.step();
        EXPECT_EQ(vm.m.pc, 40);
        EXPECT_EQ(vm.m.sp, 4013);
        EXPECT_EQ(vm.m.bp, 4011);
        EXPECT_EQ(vm.m.readWord(4011), link);  // static link
        EXPECT_EQ(vm.m.readWord(4012), 4000);  // dynamic link
        EXPECT_EQ(vm.m.readWord(4013), 13);    // return address
    }
}

TEST(Calls, ReturnsRestoreTheCallerAndDropParameters) {
    // A frame at 1010 whose caller's frame is at 900, with two parameter
    // words beneath it and a local at 1013.
    Vm vm({op(Opcode::RET_PROC), 2});
    vm.m.writeWord(1010, 900);
    vm.m.writeWord(1011, 900);
    vm.m.writeWord(1012, 55);
    vm.m.bp = 1010;
    vm.m.sp = 1013;
    vm.m.scopes.push("P", 1010);
    vm.step();
    EXPECT_EQ(vm.m.sp, 1007);  // three words below the frame's bp
    EXPECT_EQ(vm.m.pc, 55);
    EXPECT_EQ(vm.m.bp, 900);
    EXPECT_EQ(vm.m.scopes.size(), 1u);
}

TEST(Calls, FunctionReturnsLeaveTheirResultWhereTheParametersWere) {
    // Real result (two words at bp + 3), one parameter word.
    Vm real({op(Opcode::RET_FUNC), 1, 2, 0});
    real.m.writeWord(1010, 900);
    real.m.writeWord(1011, 900);
    real.m.writeWord(1012, 55);
    real.m.storeReal(2.5, 1014, 1013);
    real.m.bp = 1010;
    real.m.sp = 1014;
    real.m.scopes.push("F", 1010);
    real.step();
    EXPECT_EQ(real.m.sp, 1010);
    EXPECT_EQ(real.topReal(), 2.5);
    EXPECT_EQ(real.m.pc, 55);
    EXPECT_EQ(real.m.bp, 900);
    EXPECT_EQ(real.m.scopes.size(), 1u);

    // String result: abc with its -1, no parameters.
    Vm str({op(Opcode::RET_FUNC), 0, 256, 1});
    str.m.bp = 1010;
    str.m.writeWord(1012, 55);
    const std::vector<Word> result{'a', 'b', 'c', -1};
    for (std::size_t i = 0; i < result.size(); ++i) str.m.writeWord(1013 + static_cast<Word>(i), result[i]);
    str.m.sp = 1013 + 256;
    str.step();
    EXPECT_EQ(str.m.sp, 1013);  // the marker at bp, where the frame began, then c, b, a
    EXPECT_EQ(str.popString(), "abc");
    EXPECT_EQ(str.m.sp, 1009);
    EXPECT_EQ(str.m.pc, 55);

    // A 255-character result with no -1 after it is copied whole and no more.
    Vm full({op(Opcode::RET_FUNC), 0, 256, 1});
    full.m.bp = 1010;
    for (Word i = 0; i < 300; ++i) full.m.writeWord(1013 + i, 'k');
    full.m.sp = 1013 + 256;
    full.step();
    EXPECT_EQ(full.popString(), std::string(255, 'k'));
    EXPECT_EQ(full.m.sp, 1009);
}

TEST(Frames, EnterZeroesItsWordsAndChecksTheLimitInclusively) {
    Vm vm({op(Opcode::ENTER), 3, 10});
    vm.m.sp = 500;
    for (Word a = 501; a <= 504; ++a) vm.m.writeWord(a, 9);
    vm.step();
    EXPECT_EQ(vm.m.sp, 503);
    EXPECT_EQ(vm.m.pc, 3);
    EXPECT_EQ(vm.m.readWord(501), 0);
    EXPECT_EQ(vm.m.readWord(503), 0);
    EXPECT_EQ(vm.m.readWord(504), 9);

    Vm exact({op(Opcode::ENTER), 3, 7});
    exact.m.sp = 799990;  // 799993 + 7 = 800000 is allowed
    exact.step();
    EXPECT_EQ(exact.m.sp, 799993);

    Vm over({op(Opcode::LINE), 4, op(Opcode::ENTER), 3, 8});
    over.step();
    over.m.sp = 799990;
    EXPECT_EQ(over.failingStep(), kTooMuchMemory);
    EXPECT_EQ(over.m.runtimeErrorText, errorText(4, kTooMuchMemory));
}

TEST(Frames, EnterJumpSetsTheFrameAndFailsBeforeZeroing) {
    Vm vm({op(Opcode::ENTER_JUMP), 2, 100, 40});
    vm.m.bp = 600;
    vm.m.writeWord(603, 7);
    vm.m.writeWord(604, 7);
    vm.m.writeWord(605, 7);
    vm.m.writeWord(606, 7);
    vm.step();
    EXPECT_EQ(vm.m.sp, 605);
    EXPECT_EQ(vm.m.pc, 40);
    EXPECT_EQ(vm.m.readWord(603), 7);  // the n zeroed words end at bp + n + 3
    EXPECT_EQ(vm.m.readWord(604), 0);
    EXPECT_EQ(vm.m.readWord(605), 0);
    EXPECT_EQ(vm.m.readWord(606), 7);

    Vm big({op(Opcode::ENTER_JUMP), 900000, 0, 40});
    big.m.bp = 600;
    big.m.writeWord(700, 7);
    EXPECT_EQ(big.failingStep(), kTooMuchMemory);
    EXPECT_EQ(big.m.readWord(700), 7);
}

TEST(Frames, ReserveMovesSpWithoutWriting) {
    Vm vm({op(Opcode::RESERVE), 2, op(Opcode::RESERVE), -5});
    vm.m.writeWord(Vm::kStackBase + 1, 8);
    vm.step();
    EXPECT_EQ(vm.depth(), 2);
    EXPECT_EQ(vm.m.readWord(Vm::kStackBase + 1), 8);
    vm.step();
    EXPECT_EQ(vm.depth(), 2);
    EXPECT_EQ(vm.m.pc, 4);
}

TEST(Scopes, ScopeEnterRecordsTheNameAndBpAndSkipsIt) {
    std::vector<Word> code{op(Opcode::SCOPE_ENTER), 'S', 'O', 'M', 'A', -1};
    Vm vm(code);
    vm.m.bp = 1234;
    vm.step();
    EXPECT_EQ(vm.m.pc, 6);
    ASSERT_EQ(vm.m.scopes.size(), 2u);
    EXPECT_EQ(vm.m.scopes.top().name, "SOMA");
    EXPECT_EQ(vm.m.scopes.top().frameBase, 1234);

    std::vector<Word> longName{op(Opcode::SCOPE_ENTER)};
    longName.insert(longName.end(), 255, 'N');
    longName.push_back(-1);
    Vm longer(longName);
    longer.step();
    EXPECT_EQ(longer.m.pc, 257);
    EXPECT_EQ(longer.m.scopes.top().name, std::string(255, 'N'));
}

TEST(Halt, StopsTheRunAfterAdvancing) {
    Vm vm({op(Opcode::HALT)});
    vm.step();
    EXPECT_FALSE(vm.m.running.load());
    EXPECT_EQ(vm.m.pc, 1);
}

}  // namespace
}  // namespace lousa::test
