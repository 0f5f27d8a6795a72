// The fetch-dispatch loop on straight-line blocks of compiled statements:
// instructions executed per second.

#include <benchmark/benchmark.h>

#include <functional>
#include <vector>

#include "vm/interpretador.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::bench {
namespace {

constexpr Word op(Opcode o) { return static_cast<Word>(o); }

constexpr std::uint64_t kStatementsPerBlock = 64;
constexpr std::uint64_t kStepsPerRun = 1'000'000;
constexpr Word kBlockStart = 6;

// ENTER_JUMP to word 4, JUMP to the block, the statement repeated (each copy
// laid out for its own address), JUMP back to the block's start.
std::vector<Word> loopOver(const std::function<std::vector<Word>(Word at)>& statementAt) {
    std::vector<Word> code = {op(Opcode::ENTER_JUMP), 2, 4000, 4, op(Opcode::JUMP), kBlockStart};
    for (std::uint64_t i = 0; i < kStatementsPerBlock; ++i) {
        const std::vector<Word> statement = statementAt(static_cast<Word>(code.size()));
        code.insert(code.end(), statement.begin(), statement.end());
    }
    code.push_back(op(Opcode::JUMP));
    code.push_back(kBlockStart);
    return code;
}

// Runs the code under a budget and checks that the counter word at bp + 3
// went up once per completed statement.
void runBlock(benchmark::State& state, const std::vector<Word>& code, std::uint64_t instructionsPerStatement) {
    Interpretador machine(code, "", nullptr);
    const Word counter = static_cast<Word>(code.size()) + 3;
    const std::uint64_t perPass = kStatementsPerBlock * instructionsPerStatement + 1;
    std::uint64_t executed = 0;
    for (auto _ : state) {
        const Word before = machine.readWord(counter);
        const std::uint64_t steps = machine.runBudget(kStepsPerRun);
        executed += steps;
        const std::uint64_t looped = steps - 2;  // ENTER_JUMP and the first JUMP
        const std::uint64_t statements = looped / perPass * kStatementsPerBlock +
                                         std::min(looped % perPass / instructionsPerStatement, kStatementsPerBlock);
        const auto counted = static_cast<std::uint64_t>(static_cast<UWord>(wrapSub(machine.readWord(counter), before)));
        if (machine.runtimeErrorRaised || steps != kStepsPerRun || counted != statements) {
            state.SkipWithError(machine.runtimeErrorRaised ? machine.runtimeErrorText.c_str() : "the block did not count as expected");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(executed));
}

// LINE 1; counter := counter + 1 (ADDR_UP, LOAD_UP, PUSH, ADD_INT, STORE_N).
void BM_DispatchStatement(benchmark::State& state) {
    const auto code = loopOver([](Word) {
        return std::vector<Word>{op(Opcode::LINE),    1, op(Opcode::ADDR_UP), 0, 3, op(Opcode::LOAD_UP), 0, 3,
                                 op(Opcode::PUSH),    1, op(Opcode::ADD_INT), op(Opcode::STORE_N), 1};
    });
    runBlock(state, code, 6);
}
BENCHMARK(BM_DispatchStatement)->Unit(benchmark::kMillisecond);

// The test of a loop, falling through, then the increment of its variable:
// LOAD_UP, PUSH, LE_INT, JUMP_FALSE (to the next statement either way),
// ADDR_UP, INC.
void BM_DispatchCompareBranch(benchmark::State& state) {
    const auto code = loopOver([](Word at) {
        return std::vector<Word>{op(Opcode::LOAD_UP), 0,  4, op(Opcode::PUSH), 1, op(Opcode::LE_INT), op(Opcode::JUMP_FALSE),
                                 at + 8,              op(Opcode::ADDR_UP), 0, 3, op(Opcode::INC)};
    });
    runBlock(state, code, 6);
}
BENCHMARK(BM_DispatchCompareBranch)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lousa::bench
