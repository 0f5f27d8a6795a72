#include <limits>

#include "unit/compute/vm_fixture.hpp"

namespace lousa::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr Word kMin = -2147483647 - 1;

Word compareInts(Opcode code, Word a, Word b) {
    Vm vm({op(code)});
    vm.pushAll({42, a, b});
    vm.step();
    EXPECT_EQ(vm.depth(), 2);
    EXPECT_EQ(vm.stack()[0], 42);
    EXPECT_EQ(vm.m.pc, 1);
    return vm.top();
}

Word compareReals(Opcode code, double a, double b) {
    Vm vm({op(code)});
    vm.push(42);
    vm.pushReal(a);
    vm.pushReal(b);
    vm.step();
    EXPECT_EQ(vm.depth(), 2);  // four words became one
    EXPECT_EQ(vm.stack()[0], 42);
    EXPECT_EQ(vm.m.pc, 1);
    return vm.top();
}

// Operands given as strings; kind says which of them are single characters.
Word compareStrings(Opcode code, Word kind, const std::string& a, const std::string& b) {
    Vm vm({op(code), kind});
    vm.push(42);
    if (kind == 1 || kind == 3)
        vm.push(static_cast<signed char>(a.at(0)));
    else
        vm.pushString(a);
    if (kind == 2 || kind == 3)
        vm.push(static_cast<signed char>(b.at(0)));
    else
        vm.pushString(b);
    vm.step();
    EXPECT_EQ(vm.depth(), 2) << a << " / " << b;
    EXPECT_EQ(vm.stack()[0], 42);
    EXPECT_EQ(vm.m.pc, 2);
    return vm.top();
}

TEST(IntegerComparisons, AreSigned) {
    EXPECT_EQ(compareInts(Opcode::GT_INT, -1, 1), 0);
    EXPECT_EQ(compareInts(Opcode::GT_INT, 2147483647, kMin), 1);
    EXPECT_EQ(compareInts(Opcode::GE_INT, 5, 5), 1);
    EXPECT_EQ(compareInts(Opcode::GE_INT, 4, 5), 0);
    EXPECT_EQ(compareInts(Opcode::EQ_INT, 7, 7), 1);
    EXPECT_EQ(compareInts(Opcode::EQ_INT, 7, -7), 0);
    EXPECT_EQ(compareInts(Opcode::LT_INT, 3, 5), 1);
    EXPECT_EQ(compareInts(Opcode::LT_INT, kMin, 2147483647), 1);
    EXPECT_EQ(compareInts(Opcode::LE_INT, 5, 5), 1);
    EXPECT_EQ(compareInts(Opcode::LE_INT, 6, 5), 0);
}

TEST(RealComparisons, FollowIeeeAndTheNegatedFormsForLessThan) {
    EXPECT_EQ(compareReals(Opcode::GT_REAL, 2.5, 2.25), 1);
    EXPECT_EQ(compareReals(Opcode::GE_REAL, 2.5, 2.5), 1);
    EXPECT_EQ(compareReals(Opcode::EQ_REAL, 0.0, -0.0), 1);
    EXPECT_EQ(compareReals(Opcode::LT_REAL, 1.0, 2.0), 1);
    EXPECT_EQ(compareReals(Opcode::LE_REAL, 2.0, 1.0), 0);
    for (const auto& [a, b] : {std::pair{kNaN, 1.0}, std::pair{1.0, kNaN}}) {
        EXPECT_EQ(compareReals(Opcode::GT_REAL, a, b), 0);
        EXPECT_EQ(compareReals(Opcode::GE_REAL, a, b), 0);
        EXPECT_EQ(compareReals(Opcode::EQ_REAL, a, b), 0);
        // Written as "not greater" and "not greater or equal": true with a NaN.
        EXPECT_EQ(compareReals(Opcode::LE_REAL, a, b), 1);
        EXPECT_EQ(compareReals(Opcode::LT_REAL, a, b), 1);
    }
}

TEST(StringComparisons, OrderByUnsignedBytesWithPrefixesFirst) {
    EXPECT_EQ(compareStrings(Opcode::GE_STR, 0, "abc", "abd"), 0);
    EXPECT_EQ(compareStrings(Opcode::GE_STR, 0, "abc", "ab"), 1);
    EXPECT_EQ(compareStrings(Opcode::GE_STR, 0, "", ""), 1);
    EXPECT_EQ(compareStrings(Opcode::LT_STR, 0, "abc", "abd"), 1);
    EXPECT_EQ(compareStrings(Opcode::LT_STR, 0, "ab", "abc"), 1);
    EXPECT_EQ(compareStrings(Opcode::LE_STR, 0, "b", "abc"), 0);
    EXPECT_EQ(compareStrings(Opcode::GT_STR, 0, "b", "abc"), 1);
    EXPECT_EQ(compareStrings(Opcode::EQ_STR, 0, "abc", "abc"), 1);
    EXPECT_EQ(compareStrings(Opcode::EQ_STR, 0, "abc", "abcd"), 0);
    EXPECT_EQ(compareStrings(Opcode::EQ_STR, 0, "", "a"), 0);
    // A byte of 128 or more is a negative word but sorts after ASCII.
    EXPECT_EQ(compareStrings(Opcode::GT_STR, 0, "\xE9t\xE9", "zebra"), 1);
    EXPECT_EQ(compareStrings(Opcode::LT_STR, 0, "z", "\x82"), 1);
}

TEST(StringComparisons, CharacterOperandsByKind) {
    EXPECT_EQ(compareStrings(Opcode::EQ_STR, 3, "a", "a"), 1);
    EXPECT_EQ(compareStrings(Opcode::EQ_STR, 3, "a", "b"), 0);
    EXPECT_EQ(compareStrings(Opcode::LE_STR, 1, "a", "a"), 1);
    EXPECT_EQ(compareStrings(Opcode::LT_STR, 1, "a", "a"), 0);
    EXPECT_EQ(compareStrings(Opcode::LT_STR, 1, "a", "ab"), 1);
    EXPECT_EQ(compareStrings(Opcode::GT_STR, 2, "ab", "a"), 1);
    EXPECT_EQ(compareStrings(Opcode::EQ_STR, 2, "", "x"), 0);
    // Kinds outside 1..3 mean two strings.
    EXPECT_EQ(compareStrings(Opcode::EQ_STR, 9, "hi", "hi"), 1);
}

TEST(StringComparisons, ACharacterWordComparesByItsLowByte) {
    Vm vm({op(Opcode::EQ_STR), 3});
    vm.pushAll({'a' + 256, 'a'});
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{1}));
}

TEST(StringComparisons, AStringWithoutItsMarkerIsConsumedBoundedly) {
    // Nothing but non-marker words down to the stack base and beyond: the
    // operand is taken as the longest string a pop would take, and the
    // instruction ends instead of scanning the whole memory.
    Vm vm({op(Opcode::EQ_STR), 0});
    for (int i = 0; i < 10000; ++i) vm.push('x');
    vm.step();
    EXPECT_EQ(vm.m.pc, 2);
    EXPECT_EQ(vm.top(), 1);  // two 4097-character runs of x
    EXPECT_EQ(vm.depth(), 10000 - 2 * 4097 + 1);
}

TEST(Outside, BoundsAreInclusive) {
    const auto outside = [](Word v, Word low, Word high) {
        Vm vm({op(Opcode::OUTSIDE)});
        vm.pushAll({v, low, high});
        vm.step();
        EXPECT_EQ(vm.depth(), 1);
        return vm.top();
    };
    EXPECT_EQ(outside(5, 1, 5), 0);
    EXPECT_EQ(outside(1, 1, 5), 0);
    EXPECT_EQ(outside(6, 1, 5), 1);
    EXPECT_EQ(outside(0, 1, 5), 1);
    EXPECT_EQ(outside(3, 5, 1), 1);
    EXPECT_EQ(outside(kMin, kMin, 0), 0);
}

}  // namespace
}  // namespace lousa::test
