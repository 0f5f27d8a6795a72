#include <cmath>
#include <limits>
#include <memory>

#include "unit/compute/vm_fixture.hpp"

namespace lousa::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Runs a one-instruction program on the given stack and returns the machine.
std::unique_ptr<Vm> runInts(std::vector<Word> code, std::initializer_list<Word> stack) {
    auto vm = std::make_unique<Vm>(std::move(code));
    vm->pushAll(stack);
    vm->step();
    return vm;
}

TEST(IntegerArithmetic, WrapsModulo32Bits) {
    EXPECT_EQ(runInts({op(Opcode::ADD_INT)}, {2147483647, 1})->top(), -2147483648);
    EXPECT_EQ(runInts({op(Opcode::SUB_INT)}, {-2147483647 - 1, 1})->top(), 2147483647);
    EXPECT_EQ(runInts({op(Opcode::MUL_INT)}, {65536, 65536})->top(), 0);
    EXPECT_EQ(runInts({op(Opcode::MUL_INT)}, {-3, 7})->top(), -21);
    EXPECT_EQ(runInts({op(Opcode::NEG_INT)}, {-2147483647 - 1})->top(), -2147483647 - 1);
    EXPECT_EQ(runInts({op(Opcode::SUCC)}, {2147483647})->top(), -2147483647 - 1);
    EXPECT_EQ(runInts({op(Opcode::PRED)}, {-2147483647 - 1})->top(), 2147483647);
    EXPECT_EQ(runInts({op(Opcode::SQR), 1}, {65537})->top(), 131073);  // 65537^2 mod 2^32
    EXPECT_EQ(runInts({op(Opcode::SQR), 1}, {-46341})->top(), -2147479015);
}

TEST(IntegerArithmetic, BinaryOperationsConsumeOneWordAndAdvanceByOne) {
    for (const Opcode code : {Opcode::ADD_INT, Opcode::SUB_INT, Opcode::MUL_INT, Opcode::DIV_INT, Opcode::MOD_INT,
                              Opcode::AND_INT, Opcode::OR_INT, Opcode::XOR_INT}) {
        const auto vm = runInts({op(code)}, {99, 12, 5});
        EXPECT_EQ(vm->depth(), 2) << kOpcodeTable[static_cast<std::size_t>(code)].mnemonic;
        EXPECT_EQ(vm->stack()[0], 99);
        EXPECT_EQ(vm->m.pc, 1);
    }
}

TEST(IntegerArithmetic, DivisionTruncatesTowardZero) {
    EXPECT_EQ(runInts({op(Opcode::DIV_INT)}, {-7, 2})->top(), -3);
    EXPECT_EQ(runInts({op(Opcode::DIV_INT)}, {7, -2})->top(), -3);
    EXPECT_EQ(runInts({op(Opcode::MOD_INT)}, {-7, 2})->top(), -1);
    EXPECT_EQ(runInts({op(Opcode::MOD_INT)}, {7, -2})->top(), 1);
    // The quotient that does not fit wraps; its remainder is 0. No trap.
    EXPECT_EQ(runInts({op(Opcode::DIV_INT)}, {-2147483647 - 1, -1})->top(), -2147483647 - 1);
    EXPECT_EQ(runInts({op(Opcode::MOD_INT)}, {-2147483647 - 1, -1})->top(), 0);
    EXPECT_EQ(runInts({op(Opcode::DIV_INT)}, {-2147483647 - 1, 2})->top(), -1073741824);
}

TEST(IntegerArithmetic, DivisionByZeroStopsWithTheStackUntouched) {
    for (const Opcode code : {Opcode::DIV_INT, Opcode::MOD_INT}) {
        Vm vm({op(Opcode::LINE), 12, op(code)});
        vm.step();
        vm.pushAll({5, 0});
        EXPECT_EQ(vm.failingStep(), kDivisionByZero);
        EXPECT_EQ(vm.m.runtimeErrorText, errorText(12, kDivisionByZero));
        EXPECT_EQ(vm.stack(), (std::vector<Word>{5, 0}));
        EXPECT_FALSE(vm.m.running.load());
    }
}

TEST(IntegerArithmetic, BitwiseAndBooleanOperations) {
    EXPECT_EQ(runInts({op(Opcode::AND_INT)}, {12, 10})->top(), 8);
    EXPECT_EQ(runInts({op(Opcode::OR_INT)}, {12, 10})->top(), 14);
    EXPECT_EQ(runInts({op(Opcode::XOR_INT)}, {12, 10})->top(), 6);
    EXPECT_EQ(runInts({op(Opcode::NOT_INT)}, {0})->top(), -1);
    EXPECT_EQ(runInts({op(Opcode::NOT_BOOL)}, {0})->top(), 1);
    EXPECT_EQ(runInts({op(Opcode::NOT_BOOL)}, {7})->top(), 0);
    EXPECT_EQ(runInts({op(Opcode::ODD)}, {-3})->top(), -1);
    EXPECT_EQ(runInts({op(Opcode::ODD)}, {4})->top(), 0);
    EXPECT_EQ(runInts({op(Opcode::ODD)}, {-2147483647 - 1})->top(), 0);
}

TEST(IntegerArithmetic, IncAndDecUpdateVariablesInMemoryAndHeap) {
    Vm vm({op(Opcode::INC), op(Opcode::DEC), op(Opcode::INC)});
    vm.m.writeWord(500, 2147483647);
    const Word block = vm.m.heap.allocate(3);
    vm.m.writeWordAt(block, 2, -2147483647 - 1);
    vm.push(500);
    vm.step();
    EXPECT_EQ(vm.m.readWord(500), -2147483647 - 1);
    vm.push(block - 2);
    vm.step();
    EXPECT_EQ(vm.m.readWordAt(block, 2), 2147483647);
    vm.push(block - 2);
    vm.step();
    EXPECT_EQ(vm.m.readWordAt(block, 2), -2147483647 - 1);
    EXPECT_EQ(vm.depth(), 0);
    EXPECT_EQ(vm.m.pc, 3);
}

TEST(RealArithmetic, BinaryOperationsReplaceFourWordsByTwo) {
    struct Case {
        Opcode code;
        double a, b, expected;
    };
    for (const Case& c : {Case{Opcode::ADD_REAL, 1.5, 2.25, 3.75}, Case{Opcode::SUB_REAL, 1.5, 2.25, -0.75},
                          Case{Opcode::MUL_REAL, 1.5, -2.0, -3.0}, Case{Opcode::DIV_REAL, 1.0, 4.0, 0.25}}) {
        Vm vm({op(c.code)});
        vm.push(77);
        vm.pushReal(c.a);
        vm.pushReal(c.b);
        vm.step();
        EXPECT_EQ(vm.depth(), 3);
        EXPECT_EQ(vm.topReal(), c.expected);
        EXPECT_EQ(vm.stack()[0], 77);
        EXPECT_EQ(vm.m.pc, 1);
    }
}

TEST(RealArithmetic, DivisionByEitherZeroFailsButNaNDivides) {
    for (const double zero : {0.0, -0.0}) {
        Vm vm({op(Opcode::DIV_REAL)});
        vm.pushReal(1.0);
        vm.pushReal(zero);
        EXPECT_EQ(vm.failingStep(), kDivisionByZero);
    }
    Vm vm({op(Opcode::DIV_REAL)});
    vm.pushReal(1.0);
    vm.pushReal(kNaN);
    vm.step();
    EXPECT_TRUE(std::isnan(vm.topReal()));
}

TEST(RealArithmetic, NegationAndAbsoluteValue) {
    Vm neg({op(Opcode::NEG_REAL)});
    neg.pushReal(2.5);
    neg.step();
    EXPECT_EQ(neg.topReal(), -2.5);

    Vm absInt({op(Opcode::ABS), 1});
    absInt.pushAll({-5});
    absInt.step();
    EXPECT_EQ(absInt.stack(), (std::vector<Word>{5}));
    EXPECT_EQ(absInt.m.pc, 2);
    EXPECT_EQ(runInts({op(Opcode::ABS), 1}, {-2147483647 - 1})->top(), -2147483647 - 1);

    Vm absReal({op(Opcode::ABS), 0});
    absReal.pushReal(-3.5);
    absReal.step();
    EXPECT_EQ(absReal.topReal(), 3.5);
    EXPECT_EQ(absReal.depth(), 2);

    Vm negZero({op(Opcode::ABS), 0});
    negZero.pushReal(-0.0);
    negZero.step();
    EXPECT_TRUE(std::signbit(negZero.topReal()));  // -0.0 is not below zero: left alone
}

TEST(RealArithmetic, ToRealWidensTheIntegerOnTopOrBeneathAReal) {
    Vm top({op(Opcode::TO_REAL), 2});
    top.pushAll({7});
    top.step();
    EXPECT_EQ(top.depth(), 2);
    EXPECT_EQ(top.topReal(), 7.0);
    EXPECT_EQ(top.m.pc, 2);

    Vm beneath({op(Opcode::TO_REAL), 1});
    beneath.push(-7);
    beneath.pushReal(2.5);
    beneath.step();
    ASSERT_EQ(beneath.depth(), 4);
    EXPECT_EQ(beneath.topReal(), 2.5);
    const auto words = beneath.stack();
    EXPECT_EQ(realOf(words[0], words[1]), -7.0);
}

TEST(RealFunctions, IntegerArgumentsWidenInPlace) {
    struct Case {
        Opcode code;
        Word argument;
        double expected;
    };
    for (const Case& c : {Case{Opcode::ARCTAN, 1, 0.7853981633974483}, Case{Opcode::COS, 0, 1.0},
                          Case{Opcode::SIN, 0, 0.0}, Case{Opcode::EXP, 0, 1.0}, Case{Opcode::LN, 1, 0.0},
                          Case{Opcode::SQRT, 9, 3.0}, Case{Opcode::FRAC, 4, 0.0}}) {
        Vm vm({op(c.code), 1});
        vm.pushAll({55, c.argument});
        vm.step();
        EXPECT_EQ(vm.depth(), 3) << kOpcodeTable[static_cast<std::size_t>(c.code)].mnemonic;
        EXPECT_DOUBLE_EQ(vm.topReal(), c.expected);
        EXPECT_EQ(vm.stack()[0], 55);
        EXPECT_EQ(vm.m.pc, 2);
    }
}

TEST(RealFunctions, RealArgumentsAreReplacedInPlace) {
    struct Case {
        Opcode code;
        double argument;
        double expected;
    };
    for (const Case& c : {Case{Opcode::ARCTAN, 1.0, std::atan(1.0)}, Case{Opcode::COS, 3.0, std::cos(3.0)},
                          Case{Opcode::SIN, 3.0, std::sin(3.0)}, Case{Opcode::EXP, 1.0, std::exp(1.0)},
                          Case{Opcode::LN, 10.0, std::log(10.0)}, Case{Opcode::SQRT, 2.0, std::sqrt(2.0)},
                          Case{Opcode::SQR, 1.5, 2.25}}) {
        Vm vm({op(c.code), 0});
        vm.pushReal(c.argument);
        vm.step();
        EXPECT_EQ(vm.depth(), 2);
        EXPECT_EQ(vm.topReal(), c.expected);
    }
}

TEST(RealFunctions, LnOfZeroAndSqrtOfNegativesFail) {
    Vm ln({op(Opcode::LN), 0});
    ln.pushReal(-0.0);
    EXPECT_EQ(ln.failingStep(), " => O argumento da fun\xE7\xE3o LN n\xE3o pode ser zero! ");

    Vm lnInt({op(Opcode::LN), 1});
    lnInt.push(0);
    EXPECT_EQ(lnInt.failingStep(), " => O argumento da fun\xE7\xE3o LN n\xE3o pode ser zero! ");

    const std::string sqrtMessage = " => O argumento da fun\xE7\xE3o SQRT n\xE3o pode ser menor que zero!";
    for (const double x : {-1.0, kNaN, -kInf}) {
        Vm vm({op(Opcode::SQRT), 0});
        vm.pushReal(x);
        EXPECT_EQ(vm.failingStep(), sqrtMessage) << x;
    }
    Vm sqrtInt({op(Opcode::SQRT), 1});
    sqrtInt.push(-1);
    EXPECT_EQ(sqrtInt.failingStep(), sqrtMessage);

    Vm negZero({op(Opcode::SQRT), 0});
    negZero.pushReal(-0.0);
    negZero.step();
    EXPECT_EQ(negZero.topReal(), 0.0);
    EXPECT_TRUE(std::signbit(negZero.topReal()));

    Vm lnNegative({op(Opcode::LN), 0});
    lnNegative.pushReal(-1.0);
    lnNegative.step();
    EXPECT_TRUE(std::isnan(lnNegative.topReal()));
}

double fracOf(double x) {
    Vm vm({op(Opcode::FRAC), 0});
    vm.pushReal(x);
    vm.step();
    EXPECT_EQ(vm.depth(), 2);
    return vm.topReal();
}

TEST(RealFunctions, FracKeepsTheSignAndCutsTheWholePartTo32Bits) {
    EXPECT_EQ(fracOf(3.75), 0.75);
    EXPECT_EQ(fracOf(-3.75), -0.75);
    EXPECT_EQ(fracOf(2147483647.5), 0.5);
    // Beyond 2^31 the whole part loses its high bits: 2^33 + 0.5 keeps 2^33.
    EXPECT_EQ(fracOf(8589934592.5), 8589934592.5);
    EXPECT_EQ(fracOf(4294967298.25), 4294967296.25);
    EXPECT_TRUE(std::isnan(fracOf(kNaN)));
    EXPECT_EQ(fracOf(kInf), kInf);
    EXPECT_EQ(fracOf(1e300), 1e300);
}

Word intOfReal(double x) {
    Vm vm({op(Opcode::INT), 0});
    vm.push(5);
    vm.pushReal(x);
    vm.step();
    EXPECT_EQ(vm.depth(), 2);
    EXPECT_EQ(vm.stack()[0], 5);
    return vm.top();
}

TEST(Conversions, IntRoundsToSinglePrecisionThenTruncates) {
    EXPECT_EQ(intOfReal(3.99), 3);
    EXPECT_EQ(intOfReal(-3.99), -3);
    EXPECT_EQ(intOfReal(16777217.0), 16777216);
    EXPECT_EQ(intOfReal(2.9999999), 3);
    EXPECT_EQ(runInts({op(Opcode::INT), 1}, {9})->stack(), (std::vector<Word>{9}));
    EXPECT_EQ(runInts({op(Opcode::INT), 1}, {16777217})->top(), 16777216);
    // Out of the 32-bit range: the low 32 bits of the 64-bit truncation.
    EXPECT_EQ(intOfReal(3000000000.0), -1294967296);
    // No 64-bit value: NaN, infinities and huge magnitudes give 0.
    EXPECT_EQ(intOfReal(kNaN), 0);
    EXPECT_EQ(intOfReal(kInf), 0);
    EXPECT_EQ(intOfReal(-kInf), 0);
    EXPECT_EQ(intOfReal(1e300), 0);
    EXPECT_EQ(intOfReal(9.3e18), 0);
}

Word roundOrTrunc(Opcode code, double x) {
    Vm vm(code == Opcode::ROUND ? std::vector<Word>{op(code), 2} : std::vector<Word>{op(code)});
    vm.pushReal(x);
    vm.step();
    EXPECT_EQ(vm.depth(), 1);
    return vm.top();
}

TEST(Conversions, RoundHalvesUpwardAndTruncTowardZero) {
    EXPECT_EQ(roundOrTrunc(Opcode::ROUND, 2.5), 3);
    EXPECT_EQ(roundOrTrunc(Opcode::ROUND, -2.5), -2);
    EXPECT_EQ(roundOrTrunc(Opcode::ROUND, -2.6), -3);
    EXPECT_EQ(roundOrTrunc(Opcode::TRUNC, -2.7), -2);
    EXPECT_EQ(roundOrTrunc(Opcode::TRUNC, 2.7), 2);
    EXPECT_EQ(runInts({op(Opcode::ROUND), 1}, {-7})->stack(), (std::vector<Word>{-7}));
    // Out of range: the same defined path as INT, never undefined behaviour.
    EXPECT_EQ(roundOrTrunc(Opcode::ROUND, 3000000000.0), -1294967296);
    EXPECT_EQ(roundOrTrunc(Opcode::TRUNC, -3000000000.5), 1294967296);
    EXPECT_EQ(roundOrTrunc(Opcode::ROUND, kNaN), 0);
    EXPECT_EQ(roundOrTrunc(Opcode::TRUNC, -kInf), 0);
    EXPECT_EQ(roundOrTrunc(Opcode::TRUNC, 1e19), 0);
}

TEST(Random, FollowsTheGeneratorAndReducesSafely) {
    Vm vm({op(Opcode::RANDOM), op(Opcode::RANDOM), op(Opcode::RANDOM), op(Opcode::RANDOM)});
    vm.m.randomState = 0;
    vm.push(32768);
    vm.step();  // state 1
    EXPECT_EQ(vm.top(), 0);
    vm.push(32768);
    vm.step();  // state 22695478
    EXPECT_EQ(vm.top(), 346);
    vm.push(-100);
    vm.step();  // state 2156045615, draw 130; a negative n gives the C remainder of the draw
    EXPECT_EQ(vm.top(), 30);
    vm.push(0);
    vm.step();
    EXPECT_EQ(vm.top(), 0);
    EXPECT_EQ(vm.depth(), 4);

    Vm many({op(Opcode::RANDOM)});
    for (const Word n : {7, -7, 1, -1, 2147483647, -2147483647 - 1}) {
        many.m.pc = 0;
        many.push(n);
        many.step();
        const Word r = many.top();
        EXPECT_GE(r, 0) << n;
        if (n != -2147483647 - 1) {
            EXPECT_LT(r, n < 0 ? -static_cast<std::int64_t>(n) : n) << n;
        }
    }
}

}  // namespace
}  // namespace lousa::test
