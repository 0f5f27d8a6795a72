// The set instructions work in place where the stack lies in the contiguous
// region and word by word elsewhere. Random sequences of them, with set
// values in every form (canonical, reversed, overlapping, touching, empty,
// bounds at the word's ends) and counts that lie, must leave the same words
// (those above sp included), errors and table whichever way they ran.

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "unit/compute/vm_fixture.hpp"

namespace lousa::test {
namespace {

// The code: every set instruction at a fixed address.
enum At : Word { kStore = 0, kLoad, kUnion, kInter, kDiff, kEq, kSubset, kSuperset, kIn, kCheckWide = 9, kCheckSmall = 12 };
std::vector<Word> setCode() {
    return {op(Opcode::STORE_SET), op(Opcode::LOAD_SET), op(Opcode::SET_UNION), op(Opcode::SET_INTER),
            op(Opcode::SET_DIFF),  op(Opcode::EQ_SET),   op(Opcode::SUBSET),    op(Opcode::SUPERSET),
            op(Opcode::IN_SET),    op(Opcode::CHECK_SET), -3,                   260,
            op(Opcode::CHECK_SET), -5,                    5};
}

constexpr Word kFiller = 600;     // words above the base that a lying count may take in
constexpr Word kWindow = 1600;    // words above the base compared
constexpr Word kVariables = 100;  // set variables here, in the contiguous region of every place

struct Outcome {
    std::vector<Word> words;  // the window above the base
    Word depth = 0;           // sp - base
    Word pc = 0;
    std::string error;
    std::vector<std::vector<Word>> table;
    std::vector<Word> variables;
    std::size_t charged = 0;  // the account without the words held sparsely
};

// A set value's words and the count pushed with it.
struct Value {
    std::vector<Word> words;
    Word count;
};

class Generator {
public:
    Generator(unsigned seed, bool edges) : random_(seed), edges_(edges) {}

    Word element() {
        if (edges_ && pick(6) == 0) {
            const Word extreme[] = {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX, -1, 0, 255, 256};
            return extreme[pick(8)];
        }
        return static_cast<Word>(pick(264)) - 3;
    }
    // A value; `honest` keeps its count true.
    Value value(bool honest = false) {
        Value v;
        const Word pairs = static_cast<Word>(pick(7));
        switch (pick(4)) {
            case 0:  // canonical
                for (Word i = 0; i < pairs; ++i) v.words.insert(v.words.end(), {element(), element()});
                v.words = ListaConjuntos::normalize(v.words);
                break;
            case 1: {  // ranges in order, each overlapping, touching or apart from the last
                Word low = std::min(element(), 1000);
                for (Word i = 0; i < pairs; ++i) {
                    const Word high = low + static_cast<Word>(pick(3));
                    v.words.insert(v.words.end(), {low, high});
                    low = high + static_cast<Word>(pick(3));
                }
                break;
            }
            default:  // anything, reversed pairs included
                for (Word i = 0; i < pairs; ++i) v.words.insert(v.words.end(), {element(), element()});
        }
        v.count = static_cast<Word>(v.words.size() / 2);
        if (!honest && !edges_ && pick(5) == 0) v.count += static_cast<Word>(pick(12)) - 3;  // a lie, either way
        return v;
    }
    std::size_t pick(std::size_t n) { return random_() % n; }

private:
    std::mt19937 random_;
    bool edges_;
};

void pushValue(Vm& vm, const Value& v) {
    for (const Word w : v.words) vm.push(w);
    vm.push(v.count);
}

// Runs random set instructions with the stack at `base`. Edge runs use the
// extreme elements with true counts; the others lie about counts (but for a
// value stored, whose address must stay a variable's) with elements small
// enough that a count read from them stays in the filler.
Outcome run(unsigned seed, bool edges, Word base, UWord watched) {
    Vm vm(setCode());
    Generator g(seed, edges);
    vm.m.writeWord(kVariables + 8, 0);
    if (base == 0) base = static_cast<Word>(vm.m.memory.denseSize()) - kFiller - 3;  // pushes cross the region's end
    vm.m.memory.watchBelow(watched);
    for (Word i = 1; i <= kFiller; ++i) vm.m.writeWord(base + i, static_cast<Word>(g.pick(4)));
    Outcome o;
    for (unsigned step = 0; step <= seed % 40 && o.error.empty(); ++step) {
        vm.m.sp = base + kFiller;
        const Word variable = kVariables + static_cast<Word>(g.pick(4));
        if (g.pick(10) == 0) vm.m.writeWord(variable, g.element());  // an id the table never gave
        const Word drawn = static_cast<Word>(g.pick(11));
        const Word at = drawn == 10 ? kCheckSmall : drawn;
        switch (at) {
            case kStore:
                vm.push(variable);
                pushValue(vm, g.value(true));
                break;
            case kLoad:
                vm.push(variable);
                break;
            case kIn:
                vm.push(g.element());
                pushValue(vm, g.value());
                break;
            case kCheckWide:
            case kCheckSmall:
                pushValue(vm, g.value());
                break;
            default:
                pushValue(vm, g.value());
                pushValue(vm, g.value());
        }
        vm.m.pc = at;
        try {
            vm.step();
        } catch (const ExecaoInterpretador&) {
            o.error = vm.m.runtimeErrorText;
        }
        o.depth = vm.m.sp - base;
        o.pc = vm.m.pc;
    }
    for (Word i = 1; i <= kWindow; ++i) o.words.push_back(vm.m.readWord(base + i));
    for (Word id = 1; id <= static_cast<Word>(vm.m.sets.size()); ++id) o.table.push_back(vm.m.sets.get(id));
    for (Word i = 0; i < 4; ++i) o.variables.push_back(vm.m.readWord(kVariables + i));
    o.charged = vm.m.memoryAccount.used() - vm.m.memory.sparseSize() * WordMemory::kSparseWordBytes;
    return o;
}

TEST(SetPlaces, RandomSequencesLeaveTheSameStateWhereverTheStackLies) {
    struct Place {
        const char* name;
        Word base;      // 0: at the contiguous region's end
        UWord watched;  // words below this are watched, so written one by one
    };
    const Place places[] = {
        {"far beyond the region", 2000000000, 0},  // the reference: word by word throughout
        {"contiguous", 5000, 0},
        {"at the region's end", 0, 0},
        {"watched words", 5000, 9000},
    };
    int errors = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        const bool edges = seed % 3 == 0;
        const Outcome reference = run(seed, edges, places[0].base, places[0].watched);
        errors += reference.error.empty() ? 0 : 1;
        for (const Place& place : places) {
            SCOPED_TRACE(std::string(place.name) + ", seed " + std::to_string(seed));
            const Outcome o = run(seed, edges, place.base, place.watched);
            ASSERT_EQ(o.error, reference.error);
            ASSERT_EQ(o.depth, reference.depth);
            ASSERT_EQ(o.pc, reference.pc);
            ASSERT_EQ(o.words, reference.words);
            ASSERT_EQ(o.table, reference.table);
            ASSERT_EQ(o.variables, reference.variables);
            ASSERT_EQ(o.charged, reference.charged);
        }
    }
    // Sequences that end in the element check and sequences that do not.
    EXPECT_GT(errors, 10);
    EXPECT_LT(errors, 290);
}

}  // namespace
}  // namespace lousa::test

namespace lousa::test {
namespace {

// A count past the bottom of the stack is cut at the words beneath it, the
// code's own words included: with words [op, a, b, 10, 20, 30, 40] beneath a
// count of 1000 at address 7, the value is (a, b) (10, 20) (30, 40).
TEST(SetPlaces, ACountPastTheStackTakesEveryWordBeneathItAsPairs) {
    struct Case {
        const char* name;
        Opcode code;
        Word a, b;
        std::string error;           // empty: none
        Word sp, pc;                 // after the instruction
        std::vector<Word> fromZero;  // words from address 0 up to sp
    };
    const Case cases[] = {
        // The element is the opcode word at 0 (63), which lies in (0, 200).
        {"membership", Opcode::IN_SET, 0, 200, "", 0, 1, {1}},
        {"membership outside", Opcode::IN_SET, 64, 200, "", 0, 1, {0}},
        {"check within", Opcode::CHECK_SET, 0, 50, "", 7, 3, {17, 0, 50, 10, 20, 30, 40, 1000}},
        {"check outside", Opcode::CHECK_SET, -5, 5, " => O elemento do conjunto n\xE3o \xE9 v\xE1lido nessa atribui\xE7\xE3o! ", 7, 0, {}},
        // The left value's count is the opcode word, with no word beneath it.
        {"union", Opcode::SET_UNION, 0, 50, "", 2, 1, {0, 50, 1}},
        {"union of apart ranges", Opcode::SET_UNION, 22, 25, "", 6, 1, {10, 20, 22, 25, 30, 40, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Vm vm({op(c.code), c.a, c.b});
        vm.m.sp = 2;
        vm.pushAll({10, 20, 30, 40, 1000});
        if (!c.error.empty()) {
            EXPECT_EQ(vm.failingStep(), c.error);
            continue;
        }
        vm.step();
        EXPECT_EQ(vm.m.sp, c.sp);
        EXPECT_EQ(vm.m.pc, c.pc);
        std::vector<Word> words;
        for (Word a = 0; a <= vm.m.sp; ++a) words.push_back(vm.m.readWord(a));
        EXPECT_EQ(words, c.fromZero);
    }
}

}  // namespace
}  // namespace lousa::test
