// The reference threaded loop's fast paths against the plain loop: random
// programs of the hot instructions (random_programs.hpp) must leave the same
// memory, registers, heap words and error text either way.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "vm/interpretador.hpp"
#include "unit/vm/random_programs.hpp"

namespace lousa {
namespace {

using testing::Outcome;
using testing::randomProgram;
using testing::runOn;

constexpr std::uint64_t kBudget = 100'000;

// The threaded run has no budget: callers run the plain loop first and skip
// programs that do not end within kBudget (stores into the code can turn a
// forward jump into a loop).
Outcome runWith(const std::vector<Word>& code, bool threaded, bool* ended = nullptr) {
    const Outcome o = runOn(code, Tier::reference, threaded ? 0 : kBudget);
    if (ended) *ended = o.executed < kBudget;
    return o;
}

TEST(FastPaths, ThreadedLoopMatchesThePlainLoop) {
    std::mt19937 rng(2026);
    int errors = 0;
    for (int round = 0; round < 1500; ++round) {
        const std::vector<Word> code = randomProgram(rng);
        bool ended = false;
        const Outcome plain = runWith(code, false, &ended);
        if (!ended) continue;
        const Outcome fast = runWith(code, true);
        errors += plain.error ? 1 : 0;
        ASSERT_EQ(fast.error, plain.error) << "round " << round;
        ASSERT_EQ(fast.text, plain.text) << "round " << round;
        ASSERT_EQ(fast.pc, plain.pc) << "round " << round;
        ASSERT_EQ(fast.sp, plain.sp) << "round " << round;
        ASSERT_EQ(fast.bp, plain.bp) << "round " << round;
        ASSERT_EQ(fast.line, plain.line) << "round " << round;
        ASSERT_EQ(fast.dense.size(), plain.dense.size()) << "round " << round;
        for (std::size_t i = 0; i < plain.dense.size(); ++i)
            ASSERT_EQ(fast.dense[i], plain.dense[i]) << "round " << round << ", word " << i << ", code size " << code.size();
        ASSERT_EQ(fast.heapWords, plain.heapWords) << "round " << round;
    }
    // Both kinds of ending were exercised.
    EXPECT_GT(errors, 0);
    EXPECT_LT(errors, 1500);
}

// Calls, frames and returns: a recursive function (the result in its first
// local) called through levels 0 and 1, compared the same way.
TEST(FastPaths, CallsAndReturnsMatchThePlainLoop) {
    // 0: ENTER_JUMP 2 100 main
    // 4: f: ENTER 1 100; LOAD_UP 0 -1; PUSH 2; LT_INT; JUMP_FALSE else
    //    ADDR_UP 0 3; LOAD_UP 0 -1; STORE_N 1; JUMP end
    //    else: ADDR_UP 0 3; LOAD_UP 0 -1; PUSH 1; SUB_INT; CALL 1 f; LOAD_UP 0 -1; PUSH 2; SUB_INT; CALL 1 f;
    //    ADD_INT; STORE_N 1
    //    end: RET_FUNC 1 1 0
    // main: PUSH 15; CALL 0 f; ADDR_UP 0 3 ... store the result in a global; HALT
    std::vector<Word> code = {94, 2, 100, 0};
    const Word f = 4;
    code.insert(code.end(), {57, 1, 100, 127, 0, -1, 58, 2, 73, 40, 0});
    const std::size_t elseSlot = code.size() - 1;
    code.insert(code.end(), {126, 0, 3, 127, 0, -1, 8, 1, 60, 0});
    const std::size_t endSlot = code.size() - 1;
    code[elseSlot] = static_cast<Word>(code.size());
    code.insert(code.end(), {126, 0, 3, 127, 0, -1, 58, 1, 114, 25, 1, 0});
    code.back() = f - static_cast<Word>(code.size() - 3);
    code.insert(code.end(), {127, 0, -1, 58, 2, 114, 25, 1, 0});
    code.back() = f - static_cast<Word>(code.size() - 3);
    code.insert(code.end(), {1, 8, 1});
    code[endSlot] = static_cast<Word>(code.size());
    code.insert(code.end(), {41, 1, 1, 0});
    code[3] = static_cast<Word>(code.size());
    code.insert(code.end(), {126, 0, 3, 58, 15, 25, 0, 0});
    code.back() = f - static_cast<Word>(code.size() - 3);
    code.insert(code.end(), {8, 1, 43});
    const Outcome plain = runWith(code, false);
    const Outcome fast = runWith(code, true);
    ASSERT_FALSE(plain.error) << plain.text;
    EXPECT_EQ(plain.dense[static_cast<std::size_t>(code.size()) + 3], 610);  // fib(15)
    EXPECT_EQ(fast.dense, plain.dense);
    EXPECT_EQ(fast.sp, plain.sp);
    EXPECT_EQ(fast.pc, plain.pc);
}

// Two NaN operands: the first one's NaN comes through, quieted, in both loops.
TEST(FastPaths, RealOperationsPassOnTheFirstNaN) {
    const Word aHigh = static_cast<Word>(0x7FF00000u), aLow = 1;           // signalling NaN
    const Word bHigh = static_cast<Word>(0xFFF80000u), bLow = 7;           // quiet NaN, sign set
    for (const Word op : {2, 115, 86}) {
        // ENTER_JUMP 0 100 4; PUSH_REAL a; PUSH_REAL b; op; HALT
        const std::vector<Word> code = {94, 0, 100, 4, 103, aLow, aHigh, 103, bLow, bHigh, op, 43};
        for (const bool threaded : {false, true}) {
            const Outcome o = runWith(code, threaded);
            ASSERT_FALSE(o.error);
            const auto top = static_cast<std::size_t>(o.sp);
            EXPECT_EQ(o.dense[top], aLow) << op;
            EXPECT_EQ(o.dense[top - 1], static_cast<Word>(0x7FF80000u)) << op;
        }
    }
}

}  // namespace
}  // namespace lousa
