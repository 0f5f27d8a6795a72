#include <chrono>

#include "unit/compute/vm_fixture.hpp"

namespace lousa::test {
namespace {

constexpr Word kVarA = 600;
constexpr Word kVarB = 601;
const char* const kBadElement = " => O elemento do conjunto n\xE3o \xE9 v\xE1lido nessa atribui\xE7\xE3o! ";

// Stores a set value into the variable at address, as STORE_SET does.
void storeSet(Vm& vm, Word address, const std::vector<Word>& pairs) {
    vm.m.pc = 0;
    vm.push(address);
    vm.pushSet(pairs);
    vm.step();
}

std::vector<Word> loadSet(Vm& vm, Word address) {
    vm.m.pc = 1;
    vm.push(address);
    vm.step();
    return vm.m.popWordList();
}

TEST(SetVariables, StoreMakesAnEntryOnlyForANonEmptyFirstValue) {
    Vm vm({op(Opcode::STORE_SET), op(Opcode::LOAD_SET)});
    storeSet(vm, kVarA, {});
    EXPECT_EQ(vm.m.readWord(kVarA), 0);
    EXPECT_EQ(vm.m.sets.size(), 0u);
    EXPECT_EQ(vm.depth(), 0);

    // A single reversed pair counts as a value: the entry is made, and empty.
    storeSet(vm, kVarB, {5, 3});
    EXPECT_EQ(vm.m.readWord(kVarB), 1);
    EXPECT_EQ(loadSet(vm, kVarB), std::vector<Word>{});

    storeSet(vm, kVarA, {4, 6, 1, 3});
    EXPECT_EQ(vm.m.readWord(kVarA), 2);
    EXPECT_EQ(loadSet(vm, kVarA), (std::vector<Word>{1, 6}));
    storeSet(vm, kVarA, {9, 9});  // the same entry again
    EXPECT_EQ(vm.m.readWord(kVarA), 2);
    EXPECT_EQ(vm.m.sets.size(), 2u);
    EXPECT_EQ(loadSet(vm, kVarA), (std::vector<Word>{9, 9}));
    storeSet(vm, kVarA, {});  // empties the entry, keeps the id
    EXPECT_EQ(vm.m.readWord(kVarA), 2);
    EXPECT_EQ(loadSet(vm, kVarA), std::vector<Word>{});
    EXPECT_EQ(vm.depth(), 0);
}

// STORE_SET copies a value into its entry while it checks it; a value that
// proves not canonical there is stored in its canonical form all the same,
// whatever part of it was copied, and the other entries keep theirs.
TEST(SetVariables, AValueCopiedInPartBeforeItProvesNotCanonicalIsStoredCanonical) {
    struct Case {
        const char* name;
        std::vector<Word> value;
        std::vector<Word> stored;
    };
    const Case cases[] = {
        {"canonical", {1, 2, 4, 9}, {1, 2, 4, 9}},
        {"touching at the end", {1, 2, 4, 5, 6, 9}, {1, 2, 4, 9}},
        {"overlapping at the end", {1, 2, 4, 7, 6, 9}, {1, 2, 4, 9}},
        {"out of order at the end", {4, 5, 7, 9, 1, 2}, {1, 2, 4, 5, 7, 9}},
        {"an empty pair at the end", {1, 2, 4, 5, 9, 7}, {1, 2, 4, 5}},
        {"an empty pair first", {9, 7, 1, 2}, {1, 2}},
        {"the room's size, canonical", {1, 1, 3, 3, 5, 5, 7, 7, 9, 9, 11, 11}, {1, 1, 3, 3, 5, 5, 7, 7, 9, 9, 11, 11}},
        {"the room's size, not canonical", {1, 1, 3, 3, 5, 5, 7, 7, 9, 9, 10, 11}, {1, 1, 3, 3, 5, 5, 7, 7, 9, 11}},
        {"past the room, not canonical", {1, 1, 3, 3, 5, 5, 7, 7, 9, 9, 11, 11, 12, 13}, {1, 1, 3, 3, 5, 5, 7, 7, 9, 9, 11, 13}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Vm vm({op(Opcode::STORE_SET), op(Opcode::LOAD_SET)});
        storeSet(vm, kVarA, {20, 21, 30, 31, 40, 41, 50, 51});  // an entry with room for 12 words
        storeSet(vm, kVarB, {60, 61});
        storeSet(vm, kVarA, c.value);
        EXPECT_EQ(vm.depth(), 0);
        EXPECT_EQ(vm.m.sets.size(), 2u);
        EXPECT_EQ(loadSet(vm, kVarA), c.stored);
        EXPECT_EQ(loadSet(vm, kVarB), (std::vector<Word>{60, 61}));
    }
}

TEST(SetVariables, LoadOfAnEmptyVariablePushesTheCountAlone) {
    Vm vm({op(Opcode::STORE_SET), op(Opcode::LOAD_SET)});
    vm.push(77);
    vm.m.pc = 1;
    vm.push(kVarA);
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{77, 0}));
    EXPECT_EQ(vm.m.pc, 2);
}

TEST(SetVariables, VariablesSharingAnIdShareTheValue) {
    Vm vm({op(Opcode::STORE_SET), op(Opcode::LOAD_SET)});
    storeSet(vm, kVarA, {1, 2});
    vm.m.writeWord(kVarB, vm.m.readWord(kVarA));  // a record copied whole copies the id
    storeSet(vm, kVarB, {7, 8});
    EXPECT_EQ(loadSet(vm, kVarA), (std::vector<Word>{7, 8}));
}

TEST(SetVariables, AnIdTheTableNeverGaveIsTreatedAsNoEntry) {
    // A set variable overwritten by other data, or read back from a file.
    Vm vm({op(Opcode::STORE_SET), op(Opcode::LOAD_SET)});
    vm.m.writeWord(kVarA, 12345);
    EXPECT_EQ(loadSet(vm, kVarA), std::vector<Word>{});
    storeSet(vm, kVarA, {3, 4});
    EXPECT_EQ(vm.m.readWord(kVarA), 1);
    EXPECT_EQ(loadSet(vm, kVarA), (std::vector<Word>{3, 4}));

    vm.m.writeWord(kVarB, -7);
    storeSet(vm, kVarB, {});
    EXPECT_EQ(vm.m.readWord(kVarB), 0);  // no stale id that a later entry could alias
    EXPECT_EQ(vm.m.sets.size(), 1u);
}

TEST(SetVariables, StoreAndLoadThroughAHeapPointer) {
    Vm vm({op(Opcode::STORE_SET), op(Opcode::LOAD_SET)});
    const Word block = vm.m.heap.allocate(3);
    storeSet(vm, block - 2, {10, 20});
    EXPECT_EQ(vm.m.readWordAt(block, 2), 1);
    EXPECT_EQ(loadSet(vm, block - 2), (std::vector<Word>{10, 20}));
}

TEST(CheckSet, EveryPairMustLieWithinTheBounds) {
    Vm pass({op(Opcode::CHECK_SET), 0, 255});
    pass.pushSet({0, 255, 10, 20});
    const auto before = pass.stack();
    pass.step();
    EXPECT_EQ(pass.stack(), before);
    EXPECT_EQ(pass.m.pc, 3);

    for (const std::vector<Word>& bad : {std::vector<Word>{10, 300}, std::vector<Word>{-1, 5},
                                         std::vector<Word>{1, 2, 3, 256}}) {
        Vm vm({op(Opcode::LINE), 9, op(Opcode::CHECK_SET), 0, 255});
        vm.step();
        vm.pushSet(bad);
        EXPECT_EQ(vm.failingStep(), kBadElement);
        EXPECT_EQ(vm.m.runtimeErrorText, errorText(9, kBadElement));
    }
}

Word inSet(Word x, const std::vector<Word>& pairs) {
    Vm vm({op(Opcode::IN_SET)});
    vm.push(33);
    vm.push(x);
    vm.pushSet(pairs);
    vm.step();
    EXPECT_EQ(vm.depth(), 2);
    EXPECT_EQ(vm.stack()[0], 33);
    EXPECT_EQ(vm.m.pc, 1);
    return vm.top();
}

TEST(InSet, ScansThePairsAsTheyAre) {
    EXPECT_EQ(inSet(5, {1, 10}), 1);
    EXPECT_EQ(inSet(11, {1, 10}), 0);
    EXPECT_EQ(inSet(1, {1, 10}), 1);
    EXPECT_EQ(inSet(0, {}), 0);
    EXPECT_EQ(inSet(7, {20, 30, 6, 8}), 1);  // not in order
    EXPECT_EQ(inSet(7, {9, 5}), 0);          // a reversed pair holds nothing
    EXPECT_EQ(inSet(-2147483647 - 1, {-2147483647 - 1, 0}), 1);
}

// Runs a two-operand set instruction and returns what it leaves on the stack.
std::vector<Word> setOp(Opcode code, const std::vector<Word>& a, const std::vector<Word>& b) {
    Vm vm({op(code)});
    vm.push(44);
    vm.pushSet(a);
    vm.pushSet(b);
    vm.step();
    EXPECT_EQ(vm.m.pc, 1);
    std::vector<Word> words = vm.stack();
    EXPECT_EQ(words.at(0), 44);
    words.erase(words.begin());
    return words;
}

TEST(SetOperations, ResultsAreCanonicalWordLists) {
    EXPECT_EQ(setOp(Opcode::SET_DIFF, {1, 10}, {3, 4}), (std::vector<Word>{1, 2, 5, 10, 2}));
    EXPECT_EQ(setOp(Opcode::SET_DIFF, {3, 4}, {1, 10}), (std::vector<Word>{0}));
    EXPECT_EQ(setOp(Opcode::SET_INTER, {1, 5}, {4, 9}), (std::vector<Word>{4, 5, 1}));
    EXPECT_EQ(setOp(Opcode::SET_INTER, {1, 3}, {7, 9}), (std::vector<Word>{0}));
    EXPECT_EQ(setOp(Opcode::SET_UNION, {7, 9}, {1, 3, 4, 5}), (std::vector<Word>{1, 5, 7, 9, 2}));
    EXPECT_EQ(setOp(Opcode::SET_UNION, {}, {}), (std::vector<Word>{0}));
}

TEST(SetOperations, TestsGiveOneOrZero) {
    EXPECT_EQ(setOp(Opcode::EQ_SET, {1, 2, 3, 3}, {1, 3}), (std::vector<Word>{1}));
    EXPECT_EQ(setOp(Opcode::EQ_SET, {1, 2}, {1, 3}), (std::vector<Word>{0}));
    EXPECT_EQ(setOp(Opcode::SUBSET, {}, {1, 3}), (std::vector<Word>{1}));
    EXPECT_EQ(setOp(Opcode::SUBSET, {2, 2}, {1, 3}), (std::vector<Word>{1}));
    EXPECT_EQ(setOp(Opcode::SUBSET, {1, 3}, {2, 2}), (std::vector<Word>{0}));
    EXPECT_EQ(setOp(Opcode::SUPERSET, {1, 3}, {2, 2}), (std::vector<Word>{1}));
    EXPECT_EQ(setOp(Opcode::SUPERSET, {2, 2}, {1, 3}), (std::vector<Word>{0}));
}

TEST(SetStack, TheSameWordsWhereverTheStackLies) {
    // Set values move between the stack and the table many words at once
    // where the stack lies in the contiguous region; elsewhere word by word.
    struct Place {
        const char* name;
        Word base;      // sp before the operands (0: four words below the region's end)
        UWord watched;  // words below this are watched
    };
    const Place places[] = {
        {"contiguous", 1000, 0},
        {"at the region's end", 0, 0},
        {"far beyond the region", 2000000000, 0},
        {"watched words", 1000, 5000},
    };
    // Past the region, so that storing the variable's id grows the region
    // under the stored value.
    constexpr Word var = 5000;
    for (const Place& place : places) {
        SCOPED_TRACE(place.name);
        Vm vm({op(Opcode::STORE_SET), op(Opcode::LOAD_SET), op(Opcode::SET_UNION), op(Opcode::CHECK_SET), 0, 255});
        vm.m.writeWord(1000, 0);
        const auto base = place.base != 0 ? place.base : static_cast<Word>(vm.m.memory.denseSize()) - 4;
        ASSERT_LT(static_cast<std::size_t>(var), vm.m.memory.denseLimit());
        ASSERT_GT(static_cast<std::size_t>(var), vm.m.memory.denseSize() + 100);
        vm.m.memory.watchBelow(place.watched);
        vm.m.sp = base;
        vm.push(var);
        vm.pushSet({10, 12, 1, 3});
        vm.pushSet({4, 5, 20, 20});
        vm.m.pc = 2;
        vm.step();
        std::vector<Word> words;
        for (Word a = base + 1; a <= vm.m.sp; ++a) words.push_back(vm.m.readWord(a));
        EXPECT_EQ(words, (std::vector<Word>{var, 1, 5, 10, 12, 20, 20, 3}));
        vm.step();
        EXPECT_EQ(vm.m.pc, 6);
        vm.m.pc = 0;
        vm.step();
        EXPECT_EQ(vm.m.sp, base);
        EXPECT_EQ(vm.m.readWord(var), 1);
        EXPECT_EQ(loadSet(vm, var), (std::vector<Word>{1, 5, 10, 12, 20, 20}));
        EXPECT_EQ(vm.m.memory.watchedWordsChanged(), place.watched != 0);
    }
}

TEST(HostileSets, AHugeCountIsCutAtTheStackInsteadOfLoopingOrAllocating) {
    const auto start = std::chrono::steady_clock::now();
    for (const Opcode code : {Opcode::IN_SET, Opcode::CHECK_SET, Opcode::SET_UNION, Opcode::EQ_SET,
                              Opcode::STORE_SET}) {
        Vm vm({op(code), -5, 5});
        vm.pushAll({1, 2, 3});
        vm.push(1000000000);
        vm.step();
        EXPECT_GT(vm.m.pc, 0);
    }
    // The stack pointer itself driven far out: the count is cut at the
    // contiguous region, not at sp.
    Vm vm({op(Opcode::SET_UNION)});
    vm.m.sp = 2000000000;
    vm.push(1000000000);
    vm.step();
    Vm in({op(Opcode::IN_SET)});
    in.m.sp = 2000000000;
    in.push(1000000000);
    in.step();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // generous for sanitizer builds
}

}  // namespace
}  // namespace lousa::test
