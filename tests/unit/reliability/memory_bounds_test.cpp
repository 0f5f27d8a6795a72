// Word memory and stack growth under hostile code: a large code vector keeps
// its contiguous region whole, runaway stacks end with a bounded outcome.

#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"
#include "vm/word_memory.hpp"

namespace lousa {
namespace {

const std::string kMemoryMessage =
    latin1(" => Erro de execução na linha 0...\n => Esse programa não pode ser executado, porque usa muita memória!");

TEST(MemoryBounds, LargeCodeRegionGrowsWithoutLosingCodeOrWritingPastItsEnd) {
    // A code vector bigger than the default contiguous region (found by the
    // hostile 10,000,000-word program): growing the region for a write above
    // the code once shrank it back to the default size.
    WordMemory memory;
    const UWord codeWords = WordMemory::kDenseLimit + 1000000;
    memory.reserveDense(codeWords);
    memory.write(codeWords - 1, 43);
    memory.write(WordMemory::kDenseLimit + 10, 58);
    memory.write(codeWords + 500, 7);  // the stack, just above the code
    EXPECT_EQ(memory.read(codeWords + 500), 7);
    EXPECT_EQ(memory.read(codeWords - 1), 43);
    EXPECT_EQ(memory.read(WordMemory::kDenseLimit + 10), 58);
    EXPECT_GE(memory.denseSize(), std::size_t{codeWords} + 501);
}

TEST(MemoryBounds, SparseWordsStopAtTheirLimitAsExhaustedMemory) {
    WordMemory memory;
    const UWord base = 1500000000;
    for (UWord i = 0; i < WordMemory::kSparseLimit; ++i) memory.write(base + i, 1);
    EXPECT_EQ(memory.sparseSize(), WordMemory::kSparseLimit);
    EXPECT_THROW(memory.write(base + WordMemory::kSparseLimit, 1), MemoryCeilingReached);
    // Words already held can still change, and zeroing one makes room.
    memory.write(base, 5);
    EXPECT_EQ(memory.read(base), 5);
    memory.write(base + 1, 0);
    EXPECT_NO_THROW(memory.write(base + WordMemory::kSparseLimit, 2));
    EXPECT_EQ(memory.read(base + WordMemory::kSparseLimit), 2);
}

TEST(MemoryBounds, RecursionWithoutFrameEntryEndsWithTheMemoryMessage) {
    // ENTER_JUMP 1 100 4; then CALL 0 0 at word 4 calls itself forever.
    Interpretador m({94, 1, 100, 4, 25, 0, 0}, "", nullptr);
    m.runBudget(5000000);
    EXPECT_FALSE(m.running);
    ASSERT_TRUE(m.runtimeErrorRaised);
    EXPECT_EQ(m.runtimeErrorText, kMemoryMessage);
    EXPECT_EQ(m.memory.sparseSize(), 0U);
}

TEST(MemoryBounds, EndlessPushLoopEndsWithTheMemoryMessageWithinBoundedMemory) {
    // ENTER_JUMP 1 100 4; word 4: PUSH 1; JUMP 4.
    Interpretador m({94, 1, 100, 4, 58, 1, 60, 4}, "", nullptr);
    // Two instructions a word: the budget is more than the dense region and
    // the sparse limit together hold, so the run must have stopped on its own.
    m.runBudget(4 * (std::uint64_t{WordMemory::kDenseLimit} + WordMemory::kSparseLimit));
    EXPECT_EQ(m.memory.sparseSize(), WordMemory::kSparseLimit);
    EXPECT_LE(m.memory.denseSize(), std::size_t{m.memory.denseLimit()});
    EXPECT_EQ(m.pc, 4);  // stopped at the PUSH that found no room
    EXPECT_EQ(m.runtimeErrorText, kMemoryMessage);  // not a silent end
}

}  // namespace
}  // namespace lousa
