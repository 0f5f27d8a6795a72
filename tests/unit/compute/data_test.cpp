#include <chrono>

#include "unit/compute/vm_fixture.hpp"

namespace lousa::test {
namespace {

TEST(Constants, PushPushNAndPushReal) {
    Vm vm({op(Opcode::PUSH), -9, op(Opcode::PUSH_N), 3, 5, 6, 7, op(Opcode::PUSH_REAL), 0, 1072693248});
    vm.step();
    vm.step();
    EXPECT_EQ(vm.m.pc, 7);
    vm.step();
    EXPECT_EQ(vm.m.pc, 10);
    const auto words = vm.stack();
    EXPECT_EQ(std::vector<Word>(words.begin(), words.begin() + 4), (std::vector<Word>{-9, 5, 6, 7}));
    EXPECT_EQ(words[4], 1072693248);  // high half beneath
    EXPECT_EQ(vm.topReal(), 1.0);
}

TEST(StackWords, DupAndPops) {
    Vm vm({op(Opcode::DUP), 2, op(Opcode::DUP), 0, op(Opcode::POP), op(Opcode::POP_N), 2, op(Opcode::POP_N), -4});
    vm.pushAll({1, 7});
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{1, 7, 7, 7}));
    vm.step();
    EXPECT_EQ(vm.depth(), 4);
    vm.step();
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{1}));
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{1}));
    EXPECT_EQ(vm.m.pc, 9);
}

// DUP writes its words at once where they lie in the contiguous region and
// outside the watched words, else one push at a time: the same words and
// stack height either way.
TEST(StackWords, DupLeavesTheSameWordsWhereverTheStackLies) {
    struct Place {
        const char* name;
        Word sp;        // 0: two words below the contiguous region's end
        UWord watched;  // words below this are watched
    };
    const Place places[] = {
        {"contiguous", 1000, 0},
        {"at the region's end", 0, 0},
        {"watched words", 1000, 2000},
    };
    for (const Place& place : places) {
        for (const Word n : {1, 2, 5, 17}) {
            SCOPED_TRACE(std::string(place.name) + ", DUP " + std::to_string(n));
            Vm vm({op(Opcode::DUP), n});
            vm.m.writeWord(1000, 0);  // the region past the code
            const Word sp = place.sp != 0 ? place.sp : static_cast<Word>(vm.m.memory.denseSize()) - 2;
            vm.m.memory.watchBelow(place.watched);
            vm.m.sp = sp;
            vm.m.writeWord(sp, 42);
            // The word above them stays (where writing it does not grow the region).
            const bool marked = static_cast<std::size_t>(sp + n + 1) < vm.m.memory.denseSize();
            if (marked) vm.m.writeWord(sp + n + 1, 99);
            vm.step();
            EXPECT_EQ(vm.m.sp, sp + n);
            EXPECT_EQ(vm.m.pc, 2);
            for (Word i = 0; i <= n; ++i) EXPECT_EQ(vm.m.readWord(sp + i), 42) << i;
            EXPECT_EQ(vm.m.readWord(sp + n + 1), marked ? 99 : 0);
        }
    }
}

TEST(Variables, StoreNAndLoadNInMemoryAndHeap) {
    Vm vm({op(Opcode::STORE_N), 2, op(Opcode::STORE_N), 2, op(Opcode::LOAD_N), 2, op(Opcode::LOAD_N), 2});
    const Word block = vm.m.heap.allocate(2);
    vm.pushAll({500, 11, 12});
    vm.step();
    EXPECT_EQ(vm.m.readWord(500), 11);
    EXPECT_EQ(vm.m.readWord(501), 12);
    vm.pushAll({block, 21, 22});
    vm.step();
    EXPECT_EQ(vm.m.readWord(block), 21);
    EXPECT_EQ(vm.m.readWord(block - 1), 22);
    EXPECT_EQ(vm.depth(), 0);
    vm.push(500);
    vm.step();
    vm.push(block);
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{11, 12, 21, 22}));
}

TEST(Variables, AddrUpAndLoadUpFollowStaticLinks) {
    Vm vm({op(Opcode::ADDR_UP), 2, 5, op(Opcode::LOAD_UP), 1, 4, op(Opcode::LOAD_UP), 0, 3});
    vm.m.writeWord(3000, 2000);  // middle frame's static link
    vm.m.writeWord(4000, 3000);  // current frame's static link
    vm.m.writeWord(3004, 34);
    vm.m.writeWord(4003, 43);
    vm.m.bp = 4000;
    vm.step();
    vm.step();
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{2005, 34, 43}));
    EXPECT_EQ(vm.m.pc, 9);
}

TEST(Addressing, FieldAndIndexAddrGoDownwardInTheHeap) {
    Vm field({op(Opcode::FIELD), 3, op(Opcode::FIELD), 3});
    field.push(200);
    field.step();
    EXPECT_EQ(field.top(), 203);
    field.writeTop(-200);
    field.step();
    EXPECT_EQ(field.top(), -203);

    // array [1..3, 1..4] of real, element (2, 3): pairs (1, 3) and (2, 4).
    for (const auto& [base, expected] : {std::pair<Word, Word>{1000, 1012}, {-50, -62}}) {
        Vm vm({op(Opcode::INDEX_ADDR), 2, 2});
        vm.pushAll({base, 1, 3, 2, 4});
        vm.step();
        EXPECT_EQ(vm.stack(), (std::vector<Word>{expected}));
        EXPECT_EQ(vm.m.pc, 3);
    }
    // Three dimensions [0..1, 0..2, 0..3] of integers, element (1, 2, 3): 12 + 8 + 3.
    Vm three({op(Opcode::INDEX_ADDR), 3, 1});
    three.pushAll({100, 1, 2, 2, 3, 3, 4});
    three.step();
    EXPECT_EQ(three.stack(), (std::vector<Word>{123}));
}

TEST(Checks, RangeAndIndexMessagesNameTheBoundsAndTheIndex) {
    Vm ok({op(Opcode::CHECK_RANGE), 1, 10, op(Opcode::CHECK_INDEX), 1, 10, op(Opcode::CHECK_RANGE_AT), 1, 10});
    ok.push(10);
    ok.step();
    EXPECT_EQ(ok.stack(), (std::vector<Word>{10}));
    ok.writeTop(3);
    ok.step();
    EXPECT_EQ(ok.stack(), (std::vector<Word>{2, 10}));
    ok.m.writeWord(700, 1);
    ok.push(700);
    ok.step();
    EXPECT_EQ(ok.depth(), 2);

    Vm low({op(Opcode::CHECK_RANGE), 1, 10});
    low.push(0);
    EXPECT_EQ(low.failingStep(), " => A vari\xE1vel deve receber um valor entre 1 e 10!");
    EXPECT_EQ(low.stack(), (std::vector<Word>{0}));

    Vm negative({op(Opcode::CHECK_RANGE_AT), -5, 5});
    negative.m.writeWord(700, 6);
    negative.push(700);
    EXPECT_EQ(negative.failingStep(), " => A vari\xE1vel deve receber um valor entre -5 e 5!");

    Vm index({op(Opcode::CHECK_INDEX), 1, 10});
    index.push(11);
    EXPECT_EQ(index.failingStep(), " => A posi\xE7\xE3o 11 est\xE1 fora dos limites do vetor!");
}

TEST(DynamicVariables, NewAndDisposeThroughTheHeap) {
    Vm vm({op(Opcode::NEW), 3, op(Opcode::NEW), 1, op(Opcode::DISPOSE), op(Opcode::NEW), 0});
    vm.step();
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{-2, -5}));
    vm.m.writeWord(-5, 9);
    vm.step();  // disposes -5
    EXPECT_EQ(vm.m.readWord(-5), 0);
    EXPECT_EQ(vm.m.heap.liveBlocks(), 1u);
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{-2, -6}));
}

TEST(DynamicVariables, NewPastTheIndexSpaceRaisesTheMemoryMessage) {
    Vm vm({op(Opcode::NEW), 2147483000, op(Opcode::NEW), 1000});
    vm.step();
    EXPECT_EQ(vm.top(), -2);
    EXPECT_EQ(vm.failingStep(), kTooMuchMemory);
}

// Operand words that only broken or hostile code holds: each instruction
// must end in a sound, bounded way.
TEST(HostileOperands, HugeCountsEndWithTheMemoryMessage) {
    for (const Opcode code : {Opcode::DUP, Opcode::PUSH_N, Opcode::LOAD_N, Opcode::STORE_N}) {
        Vm vm({op(code), 2000000000});
        vm.push(5);
        EXPECT_EQ(vm.failingStep(), kTooMuchMemory) << kOpcodeTable[static_cast<std::size_t>(code)].mnemonic;
    }
    // The same with sp already driven below 0: the count alone is too big.
    Vm below({op(Opcode::DUP), 2000000000});
    below.m.sp = -2000000000;
    EXPECT_EQ(below.failingStep(), kTooMuchMemory);
}

TEST(HostileOperands, NegativeCountsDoNothing) {
    for (const Opcode code : {Opcode::DUP, Opcode::POP_N, Opcode::PUSH_N, Opcode::RESERVE}) {
        Vm vm({op(code), -2000000000});
        vm.pushAll({4, 5});
        vm.step();
        EXPECT_EQ(vm.stack(), (std::vector<Word>{4, 5}));
        EXPECT_EQ(vm.m.pc, 2);
    }
    Vm store({op(Opcode::STORE_N), -3});
    store.pushAll({4, 500});
    store.step();
    EXPECT_EQ(store.stack(), (std::vector<Word>{4}));  // only the address is taken
    Vm load({op(Opcode::LOAD_N), -3});
    load.pushAll({4, 500});
    load.step();
    EXPECT_EQ(load.stack(), (std::vector<Word>{4}));
    Vm enter({op(Opcode::ENTER), -3, 0});
    enter.step();
    EXPECT_EQ(enter.depth(), -3);
}

TEST(HostileOperands, WildAddressesAndPopsStayBounded) {
    const auto start = std::chrono::steady_clock::now();
    Vm vm({op(Opcode::STORE_N), 1, op(Opcode::STORE_N), 1, op(Opcode::LOAD_N), 1, op(Opcode::LOAD_N), 1});
    vm.pushAll({2000000000, 77});
    vm.step();
    vm.pushAll({-2000000000, 78});
    vm.step();
    vm.push(2000000000);
    vm.step();
    vm.push(-2000000000);
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{77, 0}));  // no block there: the write is lost
    EXPECT_LT(vm.m.memory.denseSize(), std::size_t{1} << 24);

    Vm pop({op(Opcode::POP_N), 2000000000, op(Opcode::PUSH), 5});
    pop.step();
    pop.step();  // the push lands in the heap's address space and is lost
    EXPECT_EQ(pop.m.pc, 4);

    Vm levels({op(Opcode::LOAD_UP), 2000000000, 0});
    levels.m.bp = 600;
    levels.m.writeWord(600, 600);  // a frame that is its own static link
    levels.step();
    EXPECT_EQ(levels.m.pc, 3);

    Vm dims({op(Opcode::INDEX_ADDR), 2000000000, 1});
    dims.step();
    EXPECT_EQ(dims.m.pc, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // generous for sanitizer builds
}

// Static links that lead into a loop (a tail of frames, then frames that
// link round in a circle): any number of levels gives the frame a step by
// step walk gives, and 2^31 - 1 levels take no longer than a few.
TEST(HostileOperands, StaticLinkWalksAreExactThroughLoopedChains) {
    struct Chain {
        Word tail;
        Word period;
    };
    for (const Chain chain : {Chain{0, 1}, Chain{3, 1}, Chain{5, 7}, Chain{4, 3}, Chain{70000, 3}, Chain{9, 65541}}) {
        Vm vm({op(Opcode::ADDR_UP), 0, 0});
        // Frame k of the chain lives at 10000 + 4k; the last links back to the loop's first.
        const Word frames = chain.tail + chain.period;
        const auto frame = [](Word k) { return 10000 + 4 * k; };
        for (Word k = 0; k < frames; ++k) vm.m.writeWord(frame(k), frame(k + 1 < frames ? k + 1 : chain.tail));
        vm.m.bp = frame(0);
        for (const Word levels : {0, 1, 2, frames - 1, frames, 65536, 65537, 1000001, 2147483647}) {
            SCOPED_TRACE(testing::Message() << chain.tail << "+" << chain.period << " frames, " << levels << " levels");
            Word expected = 0;
            if (levels <= 3000000) {
                Word base = frame(0);
                for (Word i = 0; i < levels; ++i) base = vm.m.readWord(base);
                expected = base;
            } else {
                expected = levels < chain.tail ? frame(levels) : frame(chain.tail + (levels - chain.tail) % chain.period);
            }
            vm.m.pc = 0;
            vm.m.writeWord(1, levels);
            vm.step();
            EXPECT_EQ(vm.top(), expected);
            vm.m.sp = Vm::kStackBase;
        }
    }
}

TEST(HostileOperands, NewOfTwoThousandMillionWordsAllocatesNothingUpFront) {
    Vm vm({op(Opcode::NEW), 2000000000, op(Opcode::STORE_N), 1});
    vm.step();
    const Word block = vm.top();
    EXPECT_EQ(vm.m.heap.pageCount(), 0u);
    vm.pushAll({block - 1999999999, 9});
    vm.step();
    EXPECT_EQ(vm.m.readWord(block - 1999999999), 9);
    EXPECT_LT(vm.m.heap.footprint(), std::size_t{1} << 16);
}

}  // namespace
}  // namespace lousa::test
