// The translation tier against the reference loop: the same memory,
// registers, heap words, error text and line, and under a budget the same
// count of executed instructions, wherever the budget cuts a fused form.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/loop.hpp"
#include "engine/tier.hpp"
#include "engine/translation.hpp"
#include "tools/assembler.hpp"
#include "vm/interpretador.hpp"
#include "unit/vm/random_programs.hpp"

namespace lousa {
namespace {

using testing::Outcome;
using testing::runOn;

constexpr std::uint64_t kBudget = 100'000;

void expectSame(const Outcome& fast, const Outcome& reference, const std::string& what) {
    ASSERT_EQ(fast.error, reference.error) << what << reference.text;
    EXPECT_EQ(fast.text, reference.text) << what;
    EXPECT_EQ(fast.pc, reference.pc) << what;
    EXPECT_EQ(fast.sp, reference.sp) << what;
    EXPECT_EQ(fast.bp, reference.bp) << what;
    EXPECT_EQ(fast.line, reference.line) << what;
    EXPECT_EQ(fast.executed, reference.executed) << what;
    EXPECT_EQ(fast.heapWords, reference.heapWords) << what;
    ASSERT_EQ(fast.dense.size(), reference.dense.size()) << what;
    for (std::size_t i = 0; i < reference.dense.size(); ++i)
        ASSERT_EQ(fast.dense[i], reference.dense[i]) << what << ", word " << i;
}

// Every budget from 1 to past the end: each cut, inside a fused form or not,
// leaves the machine as the reference leaves it.
void expectSameAtEveryBudget(const std::vector<Word>& code, const std::string& what) {
    const Outcome whole = runOn(code, Tier::reference, kBudget);
    ASSERT_LT(whole.executed, kBudget) << what << " must end";
    for (std::uint64_t budget = 1; budget <= whole.executed + 1; ++budget)
        expectSame(runOn(code, Tier::fast, budget), runOn(code, Tier::reference, budget),
                   what + ", budget " + std::to_string(budget));
    Outcome unbudgeted = runOn(code, Tier::fast);
    unbudgeted.executed = whole.executed;
    expectSame(unbudgeted, whole, what + ", no budget");
}

TEST(TranslationTier, RandomProgramsMatchTheReference) {
    std::mt19937 rng(1207);
    int errors = 0, patched = 0, compared = 0;
    for (int round = 0; round < 1500; ++round) {
        const std::vector<Word> code = testing::randomProgram(rng);
        const std::string what = "round " + std::to_string(round);
        const Outcome reference = runOn(code, Tier::reference, kBudget);
        expectSame(runOn(code, Tier::fast, kBudget), reference, what);
        // A budget that ends the run somewhere inside it.
        const std::uint64_t cut = 1 + rng() % std::max<std::uint64_t>(reference.executed, 1);
        expectSame(runOn(code, Tier::fast, cut), runOn(code, Tier::reference, cut), what + ", cut " + std::to_string(cut));
        if (::testing::Test::HasFatalFailure()) return;
        if (reference.executed >= kBudget) continue;
        Outcome fast = runOn(code, Tier::fast);
        fast.executed = reference.executed;
        expectSame(fast, reference, what + ", no budget");
        ++compared;
        errors += reference.error ? 1 : 0;
        for (std::size_t i = 0; i < code.size(); ++i) {
            if (reference.dense[i] != code[i]) {
                ++patched;
                break;
            }
        }
    }
    // Every kind of run was exercised.
    EXPECT_GT(errors, 50);
    EXPECT_GT(compared - errors, 50);
    EXPECT_GT(patched, 20);
}

// A loop that rewrites, each time round, the operand of one of its own
// PUSH instructions and the opcode after it (ADD_INT or SUB_INT), and a
// store into the instruction that directly follows the store.
TEST(TranslationTier, SelfPatchingCodeGivesTheExactResult) {
    // bp is the code size, 73: ADDR_UP 0 -47 names word 26, -46 word 27, -2 word 71.
    const std::vector<Word> program = {
        94, 2, 100, 4,                                                    // 0: ENTER_JUMP 2 100 4; i at bp+3, s at bp+4
        126, 0, 3, 58, 0, 8, 1,                                           // 4: i := 0
        127, 0, 3, 58, 10, 73, 40, 64,                                    // 11: while i < 10
        126, 0, 4, 127, 0, 4, 58, 1, 1, 8, 1,                             // 19: s := s + k (k: word 26, ADD_INT: word 27)
        126, 0, -47, 127, 0, 3, 58, 3, 85, 8, 1,                          // 30: word 26 := i * 3
        126, 0, -46, 127, 0, 3, 58, 2, 84, 58, 113, 85, 58, 1, 1, 8, 1,  // 41: word 27 := (i mod 2) * 113 + 1
        126, 0, 3, 64, 60, 11,                                            // 58: i := i + 1; loop
        126, 0, -2, 58, 43, 8, 1,                                         // 64: word 71 := HALT
        60, 0};                                                           // 71: JUMP 0, replaced by the store just before
    ASSERT_EQ(program.size(), 73U);

    Word s = 0, k = 1, op = 1;
    for (Word i = 0; i < 10; ++i) {
        s = op == 1 ? s + k : s - k;
        k = i * 3;
        op = (i % 2) * 113 + 1;
    }
    const std::size_t sAt = program.size() + 4;
    for (const Tier tier : {Tier::reference, Tier::fast}) {
        const Outcome o = runOn(program, tier);
        ASSERT_FALSE(o.error) << tierName(tier) << o.text;
        EXPECT_EQ(o.dense[sAt], s) << tierName(tier);
        EXPECT_EQ(o.dense[71], 43) << tierName(tier);  // the HALT it wrote, and ran
        EXPECT_EQ(o.pc, 72) << tierName(tier);
    }
    expectSameAtEveryBudget(program, "self-patching loop");
}

// Run-time errors raised by the second or later instruction of a fused form,
// and cases where a fused form's common case does not hold: the text, its
// line, pc and the count are the reference's.
TEST(TranslationTier, ErrorsInsideFusedFormsMatchTheReference) {
    struct Case {
        const char* name;
        std::vector<Word> body;  // after ENTER_JUMP 4 100 4 (locals at bp+3..bp+6, all 0)
    };
    const std::vector<Case> cases = {
        {"PUSH 0; MOD_INT", {62, 5, 58, 9, 58, 0, 84, 43}},
        {"LOAD_UP 0; MOD_INT by a zero local", {62, 6, 58, 9, 127, 0, 3, 84, 43}},
        {"CHECK_INDEX; INDEX_ADDR", {62, 7, 126, 0, 4, 127, 0, 3, 65, 1, 5, 24, 1, 1, 58, 1, 8, 1, 43}},
        {"FIELD; LOAD_N of a wild address", {62, 8, 58, 2000000000, 52, 5, 121, 1, 43}},
        {"local against constant, wild frame", {62, 9, 127, 0, 100000000, 58, 3, 73, 40, 4, 43}},
        {"ENTER past the memory limit", {62, 10, 57, 900000, 0, 43}},
        {"STORE_N into the code", {62, 11, 126, 0, -2, 58, 43, 8, 1, 58, 0, 43}},
        {"INC of a heap word, then of a local and a jump", {62, 12, 89, 4, 64, 126, 0, 3, 64, 60, 15, 43}},
        {"RET_PROC with no frame", {62, 13, 42, 0}},
        {"LOAD_N 2 past the contiguous memory", {62, 14, 58, 5000000, 121, 2, 43}},
        {"PUSH_N whose count runs past the code", {62, 15, 112, 2147483647, 43}},
        {"SCOPE_ENTER; ENTER past the memory limit", {62, 16, 87, 70, -1, 57, 900000, 0, 43}},
        {"LOAD_UP 0 of a wild slot; PUSH; ADD_INT", {62, 17, 127, 0, 100000000, 58, 3, 1, 43}},
        {"local := wild local + constant", {62, 18, 126, 0, 3, 127, 0, 100000000, 58, 1, 1, 8, 1, 43}},
        {"local := local - wild local", {62, 19, 126, 0, 3, 127, 0, 4, 127, 0, 100000000, 114, 8, 1, 43}},
        {"code word := local + constant", {62, 20, 126, 0, -2, 127, 0, 3, 58, 43, 1, 8, 1, 58, 0, 43}},
        {"PUSH; STORE_N 1 at a wild address", {62, 21, 58, 2000000000, 58, 7, 8, 1, 43}},
        {"PUSH; STORE_N 1 into a heap block", {62, 22, 89, 4, 58, 7, 8, 1, 89, 2, 58, 9, 8, 1, 43}},
        {"real local of a wild slot, then ADD_REAL", {62, 23, 103, 0, 0, 126, 0, 100000000, 121, 2, 2, 43}},
        {"two real locals, the second wild, then MUL_REAL",
         {62, 24, 126, 0, 3, 121, 2, 126, 0, 100000000, 121, 2, 86, 43}},
        {"NaN compared with a real constant", {62, 25, 103, 1, 0x7FF00000, 103, 0, 0x3FF00000, 75, 43}},
        {"real local copied from a wild slot", {62, 26, 126, 0, 3, 126, 0, 100000000, 121, 2, 8, 2, 43}},
        {"real local copied into the code", {62, 27, 126, 0, -4, 126, 0, 3, 121, 2, 8, 2, 43}},
        {"element index below its bounds", {62, 28, 126, 0, 4, 127, 0, 3, 127, 0, 5, 65, 1, 5, 24, 1, 1, 58, 1, 8, 1, 43}},
        {"element load from a wild base", {62, 29, 58, 2000000000, 127, 0, 3, 65, 0, 5, 24, 1, 1, 121, 1, 43}},
        {"AND_INT; JUMP_FALSE taken", {62, 30, 58, 1, 58, 2, 5, 40, 13, 43}},
        {"ADD_INT; STORE_N 1 at a wild address", {62, 31, 58, 2000000000, 58, 1, 58, 2, 1, 8, 1, 43}},
        {"SUB_INT; STORE_N 1 into a heap block", {62, 32, 89, 3, 58, 1, 58, 2, 114, 8, 1, 43}},
        {"JUMP to RET_PROC with no frame", {62, 33, 60, 8, 43, 42, 0}},
        {"two locals, the second wild, then ADD_INT", {62, 34, 127, 0, 3, 127, 0, 100000000, 1, 43}},
        {"local := local mod a zero constant", {62, 35, 126, 0, 3, 127, 0, 4, 58, 0, 84, 8, 1, 43}},
        {"x mod k stored into a heap block", {62, 36, 89, 2, 127, 0, 3, 58, 3, 84, 8, 1, 43}},
        {"constant stored into a heap element",
         {62, 37, 126, 0, 3, 89, 4, 8, 1, 127, 0, 3, 127, 0, 4, 65, 0, 3, 24, 1, 1, 58, 9, 8, 1, 43}},
        {"constant stored into an element above its bounds",
         {62, 38, 126, 0, 4, 58, 5, 8, 1, 127, 0, 3, 127, 0, 4, 65, 0, 3, 24, 1, 1, 58, 9, 8, 1, 43}},
        {"counted loop, its test after LINE, back by INC and JUMP",
         {62, 40, 126, 0, 3, 58, 0, 8, 1, 62, 41, 127, 0, 3, 58, 3, 74, 40, 29, 126, 0, 3, 64, 60, 13, 43}},
        {"while loop, back by a JUMP after LINE, leaving by GT_INT",
         {62, 42, 126, 0, 3, 58, 0, 8, 1, 127, 0, 3, 58, 3, 18, 40, 29, 126, 0, 3, 64, 62, 43, 60, 13, 43}},
        {"constant stored into an element of the code", {62, 39, 58, 0, 127, 0, 4, 65, 0, 3, 24, 1, 1, 58, 9, 8, 1, 43}},
        {"argument local + constant, a call and a return", {62, 51, 127, 0, 3, 58, 1, 1, 25, 0, 4, 43, 42, 1}},
        {"element through a local base holding 2, loaded and tested by JUMP_FALSE",
         {62, 52, 126, 0, 3, 126, 0, 5, 8, 1, 126, 0, 5, 58, 2, 8, 1, 127, 0, 3, 127, 0, 4, 65, 0, 1, 24, 1, 1, 121, 1, 40, 39,
          62, 53, 43}},
        {"real sum stored into a heap pair", {62, 44, 89, 4, 103, 0, 0x3FF00000, 126, 0, 3, 121, 2, 2, 8, 2, 43}},
        {"real product stored into the code", {62, 45, 58, 5, 103, 0, 0x40000000, 126, 0, 3, 121, 2, 86, 8, 2, 43}},
        {"product of two real locals, the second wild, added",
         {62, 46, 103, 0, 0x3FF00000, 126, 0, 3, 121, 2, 126, 0, 100000000, 121, 2, 86, 2, 43}},
        {"NaN compared with a real constant, and-ed with true",
         {62, 47, 58, 1, 103, 0, 0x7FF80000, 103, 0, 0x40100000, 77, 5, 40, 20, 62, 48, 43}},
        {"real compared with a constant, and-ed with false, jump taken",
         {62, 49, 58, 0, 103, 0, 0x3FF00000, 103, 0, 0x40100000, 75, 5, 40, 20, 62, 50, 43}},
        // Strings: local 3 := 'ab' (PUSH -1; PUSH_N 2 'b' 'a'; STORE_STR 5) before the form tried.
        {"STR into too small a variable", {62, 54, 58, 12345, 126, 0, 3, 69, 3, 43}},
        {"a string loaded from a wild frame slot", {62, 55, 126, 0, 100000000, 125, 255, 43}},
        {"a string stored into the code", {62, 56, 126, 0, -12, 58, -1, 112, 2, 'a', 'b', 12, 5, 43}},
        {"a character with high bits searched in a local's string",
         {62, 57, 126, 0, 3, 58, -1, 112, 2, 'b', 'a', 12, 5, 58, 'b' + 256, 126, 0, 3, 125, 5, 92, 1, 43}},
        {"a literal joined to a local's string, then cut by COPY and stored",
         {62, 58, 126, 0, 3, 58, -1, 112, 2, 'b', 'a', 12, 5, 126, 0, 4, 58, -1, 112, 2, 'y', 'x', 126, 0, 3, 125, 5, 3, 0,
          58, 2, 58, 2, 31, 12, 5, 43}},
        {"a local's string joined to the words beneath, down into the code",
         {62, 59, 126, 0, 3, 58, -1, 112, 2, 'b', 'a', 12, 5, 126, 0, 3, 125, 5, 3, 0, 43}},
        // The string beneath runs down to the -1 at word 9 (the translated PUSH -1): the
        // join writes its result over word 10, HALT, which becomes ADD_INT; the JUMP then
        // runs the new word, not the old translation.
        {"a string joined into translated code, which then runs",
         {58, 0, 40, 12, 58, -1, 43, 43, 126, 0, 7, 58, 1, 8, 1, 126, 0, 3, 125, 5, 3, 0, 60, 10}},
        // Sets: local 3 := [1..5] (a new entry) before the form tried.
        {"a set element outside CHECK_SET's bounds, then STORE_SET",
         {62, 60, 126, 0, 3, 58, 1, 58, 5, 58, 1, 9, 126, 0, 3, 58, 1, 58, 9, 58, 1, 17, 0, 5, 9, 43}},
        {"a constructor out of order checked and stored into an entry",
         {62, 61, 126, 0, 3, 58, 1, 58, 5, 58, 1, 9, 126, 0, 3, 58, 7, 58, 9, 58, 1, 28, 1, 58, 2, 17, 0, 20, 9, 43}},
        {"a set loaded from a wild address, then a union", {62, 62, 58, 2000000000, 122, 58, 0, 119, 43}},
        {"a set tested for the last word of the code, where the stack lies",
         {62, 63, 126, 0, 3, 58, 1, 58, 5, 58, 1, 9, 80, 8, 126, 0, 3, 122, 63, 40, 25, 43, 43}},
        // Frames at the edges of what the tier runs itself (up to 4096 words).
        {"SCOPE_ENTER of an empty name; ENTER 3 words", {62, 64, 87, -1, 57, 3, 0, 43}},
        {"ENTER of 4096 words, then of 4097", {62, 65, 57, 4096, 0, 57, 4097, 0, 43}},
        {"ENTER of -1 words", {62, 66, 57, -1, 0, 43}},
        {"RET_FUNC whose parameters reach below the code", {62, 67, 41, 4000, 1, 0}},
        {"RET_FUNC of 4097 parameter words", {62, 68, 41, 4097, 1, 0}},
        {"RET_FUNC whose result lands in the code", {62, 71, 41, 3, 1, 0}},
        {"RET_FUNC of no result word", {62, 69, 41, 0, 0, 0}},
        {"RET_FUNC of four result words, with no frame beneath", {62, 70, 41, 1, 4, 0}},
    };
    for (const Case& c : cases) {
        std::vector<Word> code = {94, 4, 100, 4};
        code.insert(code.end(), c.body.begin(), c.body.end());
        expectSameAtEveryBudget(code, c.name);
    }
    // A call whose frame sits at the end of the contiguous memory (1024
    // words once the first frame is written), returning four words: the
    // link words inside it, the result words partly past it.
    for (Word k = 990; k <= 1010; ++k) {
        // LINE; RESERVE k; CALL 0 f; HALT; f: RET_FUNC 0 4 0
        const std::vector<Word> code = {94, 4, 100, 4, 62, 72, 59, k, 25, 0, 4, 43, 41, 0, 4, 0};
        expectSameAtEveryBudget(code, "a frame at the end of the contiguous memory, RESERVE " + std::to_string(k));
    }
}

// Heap words written by fused forms, each on a page of its own, until the
// memory ceiling stops the run: both tiers stop at the same write, with the
// same registers (the storing instruction's words taken), words, count and
// error.
TEST(TranslationTier, MemoryCeilingInsideFusedHeapWritesMatchesTheReference) {
    struct Case {
        const char* name;
        std::vector<Word> preamble;                  // after ENTER_JUMP 5 100 4
        std::vector<Word> (*write)(Word k, Word a);  // the k-th write, a = its word's address
    };
    const std::vector<Case> cases = {
        {"PUSH; STORE_N 1", {89, 1000000}, [](Word, Word a) { return std::vector<Word>{58, a, 58, 7, 8, 1}; }},
        {"PUSH; PUSH; ADD_INT; STORE_N 1", {89, 1000000},
         [](Word, Word a) { return std::vector<Word>{58, a, 58, 3, 58, 4, 1, 8, 1}; }},
        {"PUSH; PUSH; MOD_INT; STORE_N 1", {89, 1000000},
         [](Word, Word a) { return std::vector<Word>{58, a, 58, 10, 58, 3, 84, 8, 1}; }},
        {"two words by STORE_N 2", {89, 1000000},
         [](Word, Word a) { return std::vector<Word>{58, a, 58, 1, 58, 2, 8, 2}; }},
        {"INC", {89, 1000000}, [](Word, Word a) { return std::vector<Word>{58, a, 64}; }},
        {"constant stored into an element", {126, 0, 3, 89, 1000000, 8, 1},
         [](Word k, Word) {
             return std::vector<Word>{126, 0, 4, 58, k * 1024, 8, 1, 127, 0, 3, 127, 0, 4, 65, 0, 999999, 24, 1, 1, 58, 9, 8, 1};
         }},
    };
    for (const Case& c : cases) {
        std::vector<Word> code = {94, 5, 100, 4};
        code.insert(code.end(), c.preamble.begin(), c.preamble.end());
        for (Word k = 0; k < 60; ++k) {
            const std::vector<Word> write = c.write(k, -2 - 1024 * k);  // the block's words run down from -2
            code.insert(code.end(), write.begin(), write.end());
        }
        code.push_back(43);
        Outcome outcomes[2];
        for (const Tier tier : {Tier::fast, Tier::reference}) {
            Interpretador m(code, testing::scratchProgramPath(), nullptr);
            m.tier = tier;
            m.memoryAccount.ceiling = m.memoryAccount.used() + 30 * 4200;  // room for about 30 pages
            const std::uint64_t executed = m.runBudget(kBudget);
            outcomes[tier == Tier::fast ? 0 : 1] = testing::outcomeOf(m);
            outcomes[tier == Tier::fast ? 0 : 1].executed = executed;
        }
        EXPECT_TRUE(outcomes[1].error) << c.name << ": the ceiling must stop the run";
        expectSame(outcomes[0], outcomes[1], c.name);
    }
}

// A bench listing with its tagged sizes (a line ending in ;@NAME or
// ;@NAME+k, ;@NAME-k) made small: the last number on the line becomes the
// size given for NAME, plus k.
std::vector<Word> smallBenchProgram(const std::string& name, const std::map<std::string, Word>& sizes) {
    std::ifstream in(std::string(LOUSA_SOURCE_DIR) + "/bench/programs/" + name + ".lst");
    std::string line;
    std::string listing;
    const std::regex tag(R"(;\s*@([A-Z]+)([+-]\d+)?\s*$)");
    const std::regex lastNumber(R"((-?\d+)(\s*)$)");
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_search(line, m, tag) && sizes.contains(m[1].str())) {
            const Word size = sizes.at(m[1].str()) + (m[2].matched ? std::stoi(m[2].str()) : 0);
            std::string code = line.substr(0, line.find(';'));
            code = std::regex_replace(code, lastNumber, std::to_string(size) + "$2");
            line = code;
        }
        listing += line + "\n";
    }
    const tool::AsmResult result = tool::assemble(listing);
    EXPECT_TRUE(result.ok()) << name;
    EXPECT_FALSE(result.code.empty()) << name;
    return result.code;
}

// The bench programs, laid out as the compiler lays out real programs, at
// small sizes: their locals hold real values (which the random programs'
// mostly zero frames do not), and budgets cut them all over their runs.
TEST(TranslationTier, BenchProgramsAtSmallSizesMatchTheReference) {
    const std::vector<std::pair<std::string, std::map<std::string, Word>>> programs = {
        {"mandel", {{"W", 6}, {"H", 4}}}, {"fib", {{"N", 11}}},  {"sieve", {{"N", 400}}}, {"loop", {{"N", 300}}},
        {"list", {{"N", 60}}},            {"sets", {{"N", 40}}}, {"strings", {{"N", 200}}},
    };
    std::mt19937 rng(99);
    for (const auto& [name, sizes] : programs) {
        const std::vector<Word> code = smallBenchProgram(name, sizes);
        if (code.empty()) continue;
        const Outcome whole = runOn(code, Tier::reference, 50'000'000);
        ASSERT_FALSE(whole.error) << name << whole.text;
        ASSERT_LT(whole.executed, 1'000'000U) << name << " must stay small";
        ASSERT_GT(whole.executed, 1'000U) << name;
        Outcome fast = runOn(code, Tier::fast);
        fast.executed = whole.executed;
        expectSame(fast, whole, name + ", no budget");
        for (int cut = 0; cut < 60; ++cut) {
            const std::uint64_t budget = 1 + rng() % whole.executed;
            expectSame(runOn(code, Tier::fast, budget), runOn(code, Tier::reference, budget),
                       name + ", budget " + std::to_string(budget));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

// The random programs reach every internal instruction but the calls and
// returns (which CallsAndReturnsMatchThePlainLoop and the end-to-end
// programs run), both its common case and, for the fused forms, the
// reference steps of the rest: otherwise the comparison above proves
// nothing about them.
TEST(TranslationTier, RandomProgramsReachEveryInternalInstruction) {
    std::mt19937 rng(1207);
    engine::DispatchCounts counts;
    std::uint64_t slow = 0;
    for (int round = 0; round < 1500; ++round) {
        Interpretador m(testing::randomProgram(rng), testing::scratchProgramPath(), nullptr);
        std::uint64_t executed = 0;
        const std::uint64_t before = counts.referenceSteps;
        try {
            m.start();
            engine::loop<true, true>(m, kBudget, executed, &counts);
        } catch (...) {
        }
        slow += counts.referenceSteps - before;
    }
    for (std::size_t i = 0; i < engine::kIopCount; ++i) {
        const std::string_view name = engine::kIopTable[i].name;
        if (name.starts_with("Call") || name.find("Ret") != std::string_view::npos) continue;
        EXPECT_GT(counts.perIop[i], 0U) << name;
    }
    EXPECT_GT(slow, 1000U);
}

// A recursive function as the compiler lays it out: SCOPE_ENTER and ENTER,
// LINE and the test of n, a JUMP to its RET_FUNC, two calls through level 1
// whose sum is stored in the result. Every budget cuts it somewhere.
TEST(TranslationTier, RecursiveCallsMatchTheReferenceAtEveryBudget) {
    // 0: ENTER_JUMP 2 100 main
    // 4: f: SCOPE_ENTER "F"; ENTER 1 100; LINE 5; LOAD_UP 0 -1; PUSH 2; LT_INT; JUMP_FALSE else
    //    LINE 5; ADDR_UP 0 3; LOAD_UP 0 -1; STORE_N 1; JUMP end
    //    else: LINE 6; ADDR_UP 0 3; LOAD_UP 0 -1; PUSH 1; SUB_INT; CALL 1 f; LOAD_UP 0 -1; PUSH 2; SUB_INT;
    //    CALL 1 f; ADD_INT; STORE_N 1
    //    end: RET_FUNC 1 1 0
    // main: ADDR_UP 0 3; PUSH 6; CALL 0 f; STORE_N 1; HALT
    std::vector<Word> code = {94, 2, 100, 0};
    const Word f = 4;
    code.insert(code.end(), {87, 70, -1, 57, 1, 100, 62, 5, 127, 0, -1, 58, 2, 73, 40, 0});
    const std::size_t elseSlot = code.size() - 1;
    code.insert(code.end(), {62, 5, 126, 0, 3, 127, 0, -1, 8, 1, 60, 0});
    const std::size_t endSlot = code.size() - 1;
    code[elseSlot] = static_cast<Word>(code.size());
    code.insert(code.end(), {62, 6, 126, 0, 3, 127, 0, -1, 58, 1, 114, 25, 1, 0});
    code.back() = f - static_cast<Word>(code.size() - 3);
    code.insert(code.end(), {127, 0, -1, 58, 2, 114, 25, 1, 0});
    code.back() = f - static_cast<Word>(code.size() - 3);
    code.insert(code.end(), {1, 8, 1});
    code[endSlot] = static_cast<Word>(code.size());
    code.insert(code.end(), {41, 1, 1, 0});
    code[3] = static_cast<Word>(code.size());
    code.insert(code.end(), {126, 0, 3, 58, 6, 25, 0, 0});
    code.back() = f - static_cast<Word>(code.size() - 3);
    code.insert(code.end(), {8, 1, 43});
    const Outcome whole = runOn(code, Tier::fast);
    ASSERT_FALSE(whole.error) << whole.text;
    EXPECT_EQ(whole.dense[code.size() + 3], 8);  // fib(6)
    expectSameAtEveryBudget(code, "recursive calls");
}

// Runs m on the translation tier and asks it to stop after 50 ms.
void runUntilStopped(Interpretador& m) {
    m.tier = Tier::fast;
    std::thread stopper([&m] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m.requestStop();
    });
    m.run();
    stopper.join();
}

TEST(TranslationTier, StopRequestEndsAnEndlessLoop) {
    // ENTER_JUMP 1 100 4; 4: i := i + 1 (ADDR_UP 0 3; INC); JUMP 4.
    Interpretador m({94, 1, 100, 4, 126, 0, 3, 64, 60, 4}, "", nullptr);
    runUntilStopped(m);
    EXPECT_FALSE(m.runtimeErrorRaised);
    EXPECT_EQ(m.pc, 4);  // at the loop's head, between two instructions
    EXPECT_GT(m.readWord(m.codeSize + 3), 0);
}

// The same with the loop's test at its head, which the back edge runs with
// it: the stop comes between the jump and the test, before the test's LINE.
TEST(TranslationTier, StopRequestEndsALoopWhoseBackEdgeRunsItsTest) {
    struct Case {
        const char* name;
        std::vector<Word> code;
        Word lineAtStop;
    };
    const std::vector<Case> cases = {
        // 4: while i >= 0 do i := i + 1 (ADDR_UP 0 3; INC; JUMP 4)
        {"INC and JUMP", {94, 1, 100, 4, 127, 0, 3, 58, 0, 19, 40, 18, 126, 0, 3, 64, 60, 4, 43}, 0},
        // 4: LINE 7; the same test; ADDR_UP 0 3; INC; LINE 8; JUMP 4
        {"LINE and JUMP", {94, 1, 100, 4, 62, 7, 127, 0, 3, 58, 0, 19, 40, 22, 126, 0, 3, 64, 62, 8, 60, 4, 43}, 8},
    };
    for (const Case& c : cases) {
        Interpretador m(c.code, "", nullptr);
        runUntilStopped(m);
        EXPECT_FALSE(m.runtimeErrorRaised) << c.name;
        EXPECT_EQ(m.pc, 4) << c.name;
        EXPECT_EQ(m.currentLine, c.lineAtStop) << c.name;
        EXPECT_GT(m.readWord(m.codeSize + 3), 0) << c.name;
    }
}

TEST(TranslationTier, TiersAreNamed) {
    EXPECT_EQ(tierByName("reference"), Tier::reference);
    EXPECT_EQ(tierByName("fast"), Tier::fast);
    EXPECT_EQ(tierByName("Fast"), std::nullopt);
    EXPECT_EQ(tierByName(""), std::nullopt);
    for (const Tier tier : {Tier::reference, Tier::fast}) EXPECT_EQ(tierByName(tierName(tier)), tier);
}

// The translation is lazy and its size follows the code run, not the code's size.
TEST(TranslationTier, TranslatesOnlyWhatRuns) {
    std::vector<Word> code = {94, 0, 100, 4, 58, 1, 43};
    code.resize(200000, 79);  // never reached
    Interpretador m(code, "", nullptr);
    m.tier = Tier::fast;
    m.run();
    ASSERT_TRUE(m.translation);
    EXPECT_LT(m.translation->instructions().size(), 10U);
}

}  // namespace
}  // namespace lousa
