#include <cmath>
#include <functional>

#include "unit/compute/vm_fixture.hpp"

namespace lousa::test {
namespace {

constexpr Word kVar = 600;  // a string variable in memory

// The words of a variable of the given capacity, for checking terminators.
std::vector<Word> varWords(const Vm& vm, Word address, Word count) {
    std::vector<Word> words;
    for (Word i = 0; i < count; ++i) words.push_back(vm.m.readWordAt(address, i));
    return words;
}

void setVar(Vm& vm, Word address, const std::string& s, Word capacity) { vm.m.writeStringVar(address, capacity, s); }

std::vector<Word> chars(const std::string& s) {
    std::vector<Word> words;
    for (const char c : s) words.push_back(static_cast<signed char>(c));
    return words;
}

std::string concat(Word kind, const std::string& a, const std::string& b) {
    Vm vm({op(Opcode::CONCAT), kind});
    if (kind == 1 || kind == 3)
        vm.push(static_cast<signed char>(a[0]));
    else
        vm.pushString(a);
    if (kind == 2 || kind == 3)
        vm.push(static_cast<signed char>(b[0]));
    else
        vm.pushString(b);
    vm.step();
    EXPECT_EQ(vm.m.pc, 2);
    std::string result = vm.popString();
    EXPECT_EQ(vm.depth(), 0);
    return result;
}

TEST(Concat, JoinsOperandsOfEveryKindAndCutsAt255AndAtAByteZero) {
    EXPECT_EQ(concat(0, "abc", "de"), "abcde");
    EXPECT_EQ(concat(3, "x", "y"), "xy");
    EXPECT_EQ(concat(1, "x", "yz"), "xyz");
    EXPECT_EQ(concat(2, "xy", "z"), "xyz");
    EXPECT_EQ(concat(0, std::string(200, 'a'), std::string(100, 'b')), std::string(200, 'a') + std::string(55, 'b'));
    EXPECT_EQ(concat(0, std::string("ab\0cd", 5), "e"), "ab");
    EXPECT_EQ(concat(2, "ab", std::string(1, '\0')), "ab");
    EXPECT_EQ(concat(3, std::string(1, '\0'), "y"), "");
    EXPECT_EQ(concat(0, "", ""), "");
}

TEST(StoreStr, WritesUpToTheCapacityAndTerminatesShorterStrings) {
    const auto store = [](const std::string& s) {
        Vm vm({op(Opcode::STORE_STR), 5});
        for (Word i = 0; i < 6; ++i) vm.m.writeWord(kVar + i, 99);
        vm.push(77);
        vm.push(kVar);
        vm.pushString(s);
        vm.step();
        EXPECT_EQ(vm.stack(), (std::vector<Word>{77}));
        EXPECT_EQ(vm.m.pc, 2);
        return varWords(vm, kVar, 6);
    };
    EXPECT_EQ(store("abc"), (std::vector<Word>{'a', 'b', 'c', -1, 99, 99}));
    EXPECT_EQ(store("abcdef"), (std::vector<Word>{'a', 'b', 'c', 'd', 'e', 99}));
    EXPECT_EQ(store("abcde"), (std::vector<Word>{'a', 'b', 'c', 'd', 'e', 99}));
    EXPECT_EQ(store(""), (std::vector<Word>{-1, 99, 99, 99, 99, 99}));
}

TEST(StoreStr, WritesDownwardIntoAHeapVariable) {
    Vm vm({op(Opcode::STORE_STR), 4});
    const Word block = vm.m.heap.allocate(4);
    vm.push(block);
    vm.pushString("hi");
    vm.step();
    EXPECT_EQ(varWords(vm, block, 3), (std::vector<Word>{'h', 'i', -1}));
    EXPECT_EQ(vm.m.readWord(block - 1), 'i');
}

TEST(CharToStr, MakesAOneCharacterString) {
    Vm vm({op(Opcode::CHAR_TO_STR)});
    vm.push('z');
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{-1, 'z'}));
}

std::string copy(const std::string& s, Word index, Word count) {
    Vm vm({op(Opcode::COPY)});
    vm.pushString(s);
    vm.pushAll({index, count});
    vm.step();
    std::string result = vm.popString();
    EXPECT_EQ(vm.depth(), 0);
    return result;
}

TEST(Copy, TakesOneBasedSubstringsAndClampsIndicesAndCounts) {
    EXPECT_EQ(copy("hello", 2, 3), "ell");
    EXPECT_EQ(copy("hello", 0, 2), "he");
    EXPECT_EQ(copy("hello", -2147483647 - 1, 2), "he");
    EXPECT_EQ(copy("hello", 5, 10), "o");
    EXPECT_EQ(copy("hello", 6, 1), "");
    EXPECT_EQ(copy("hello", 7, 1), "");
    EXPECT_EQ(copy("hello", 2147483647, 1), "");
    EXPECT_EQ(copy("hello", 1, 0), "");
    EXPECT_EQ(copy("hello", 1, -5), "");
    EXPECT_EQ(copy("hello", 1, 2147483647), "hello");
    EXPECT_EQ(copy(std::string("a\0b", 3), 1, 3), std::string("a\0b", 3));  // a byte 0 stays
}

std::string editVar(Opcode code, std::vector<Word> operands, const std::string& initial, Word capacity,
                    const std::function<void(Vm&)>& pushArgs) {
    std::vector<Word> program{op(code)};
    program.insert(program.end(), operands.begin(), operands.end());
    Vm vm(program);
    setVar(vm, kVar, initial, capacity);
    pushArgs(vm);
    vm.step();
    EXPECT_EQ(vm.depth(), 0);
    EXPECT_EQ(vm.m.pc, static_cast<Word>(program.size()));
    return vm.m.readStringAt(kVar, capacity);
}

std::string del(const std::string& s, Word index, Word count) {
    return editVar(Opcode::DELETE, {10}, s, 10, [&](Vm& vm) { vm.pushAll({kVar, index, count}); });
}

TEST(Delete, RemovesCharactersOnlyWithinTheString) {
    EXPECT_EQ(del("hello", 2, 2), "hlo");
    EXPECT_EQ(del("hello", 4, 10), "hel");
    EXPECT_EQ(del("hello", 5, 1), "hell");
    EXPECT_EQ(del("hello", 1, 5), "");
    EXPECT_EQ(del("hello", 6, 1), "hello");
    EXPECT_EQ(del("hello", 0, 1), "hello");
    EXPECT_EQ(del("hello", 2, 0), "hello");
    EXPECT_EQ(del("hello", 2, 2147483647), "h");
}

std::string insert(const std::string& source, const std::string& s, Word index, Word capacity) {
    return editVar(Opcode::INSERT, {capacity, 0}, s, capacity, [&](Vm& vm) {
        vm.pushString(source);
        vm.pushAll({kVar, index});
    });
}

TEST(Insert, PlacesTheSourceByIndexAndLosesWhatPassesTheCapacity) {
    EXPECT_EQ(insert("XY", "hello", 1, 10), "XYhello");
    EXPECT_EQ(insert("XY", "hello", 3, 10), "heXYllo");
    EXPECT_EQ(insert("XY", "hello", 5, 10), "hellXYo");
    EXPECT_EQ(insert("XY", "hello", 6, 10), "helloXY");
    EXPECT_EQ(insert("XY", "hello", 9, 10), "helloXY");
    EXPECT_EQ(insert("XY", "hello", -3, 10), "XYhello");
    EXPECT_EQ(insert("XY", "hello", 1, 6), "XYhell");
    EXPECT_EQ(insert("XY", "", 1, 6), "XY");
}

TEST(Insert, ACharacterSourceAndACapacityWithoutTerminator) {
    Vm vm({op(Opcode::INSERT), 6, 1});
    setVar(vm, kVar, "hello", 6);
    vm.m.writeWord(kVar + 6, 55);
    vm.pushAll({'!' + 256, kVar, 3});  // the character is the word's low byte
    vm.step();
    EXPECT_EQ(varWords(vm, kVar, 7), (std::vector<Word>{'h', 'e', '!', 'l', 'l', 'o', 55}));
}

TEST(Str, WritesDecimalTextOrFailsWhenItDoesNotFit) {
    const auto str = [](Word value, Word capacity) {
        Vm vm({op(Opcode::STR), capacity});
        vm.m.writeWord(kVar + 4, 99);
        vm.pushAll({value, kVar});
        vm.step();
        EXPECT_EQ(vm.depth(), 0);
        return varWords(vm, kVar, 5);
    };
    EXPECT_EQ(str(-123, 4), (std::vector<Word>{'-', '1', '2', '3', 99}));
    EXPECT_EQ(str(0, 10), (std::vector<Word>{'0', -1, 0, 0, 99}));
    EXPECT_EQ(str(-2147483647 - 1, 11).size(), 5u);

    Vm vm({op(Opcode::LINE), 3, op(Opcode::STR), 3});
    vm.step();
    vm.pushAll({-123, kVar});
    EXPECT_EQ(vm.failingStep(), " => Cadeia muito pequena para converter de inteiro para string em STR!");
    EXPECT_EQ(vm.m.runtimeErrorText,
              errorText(3, " => Cadeia muito pequena para converter de inteiro para string em STR!"));
    EXPECT_EQ(vm.m.readWord(kVar), 0);  // nothing written
}

TEST(StrToBlock, LaysTheStringOutAsAVariableAboveTheTop) {
    Vm vm({op(Opcode::STR_TO_BLOCK), 4});
    vm.m.writeWord(Vm::kStackBase + 4, 88);
    vm.pushString("ab");
    vm.step();
    EXPECT_EQ(vm.stack(), (std::vector<Word>{'a', 'b', -1, 88}));

    Vm full({op(Opcode::STR_TO_BLOCK), 2});
    full.pushString("abc");
    full.step();
    EXPECT_EQ(full.stack(), (std::vector<Word>{'a', 'b'}));
}

TEST(StrLength, CountsCharactersAboveTheMarker) {
    for (const std::string& s : {std::string(), std::string("hello"), std::string(255, 'q')}) {
        Vm vm({op(Opcode::STR_LENGTH)});
        vm.push(5);
        vm.pushString(s);
        vm.step();
        EXPECT_EQ(vm.stack(), (std::vector<Word>{5, static_cast<Word>(s.size())}));
    }
}

Word pos(Word kind, const std::string& sub, const std::string& s) {
    Vm vm({op(Opcode::STR_POS), kind});
    if (kind == 1 || kind == 3)
        vm.push(sub[0]);
    else
        vm.pushString(sub);
    if (kind == 2 || kind == 3)
        vm.push(s[0]);
    else
        vm.pushString(s);
    vm.step();
    EXPECT_EQ(vm.depth(), 1);
    return vm.top();
}

TEST(StrPos, FindsTheFirstOccurrence) {
    EXPECT_EQ(pos(0, "lo", "hello"), 4);
    EXPECT_EQ(pos(0, "l", "hello"), 3);
    EXPECT_EQ(pos(0, "x", "hello"), 0);
    EXPECT_EQ(pos(0, "", "hello"), 1);
    EXPECT_EQ(pos(0, "hello!", "hello"), 0);
    EXPECT_EQ(pos(1, "o", "hello"), 5);
    EXPECT_EQ(pos(3, "a", "a"), 1);
    EXPECT_EQ(pos(2, "ab", "b"), 0);
    EXPECT_EQ(pos(0, "ab", std::string(253, 'a') + "b"), 253);
    EXPECT_EQ(pos(0, "\xE9", "caf\xE9"), 4);
}

TEST(StringsOnTheStack, OperandsWithoutTheirMarkerAreTakenAsFarAsAPopGoes) {
    // Each instruction ends, consuming the operand as popString would
    // (4097 words) rather than scanning the whole memory.
    for (const Opcode code : {Opcode::COPY, Opcode::STR_LENGTH, Opcode::CONCAT, Opcode::STR_POS}) {
        Vm vm({op(code), 0});
        for (int i = 0; i < 9000; ++i) vm.push('z');
        vm.step();
        EXPECT_LE(vm.depth(), 9000 - 4097 + 300) << kOpcodeTable[static_cast<std::size_t>(code)].mnemonic;
        EXPECT_GE(vm.m.pc, 1);
    }
}

TEST(Upcase, UsesTheCodePageTableForStringsOnly) {
    Vm vm({op(Opcode::UPCASE), 1});
    // "ação, über, ñ, z" in code page 850
    vm.pushString("a\x87\xC6o \x81" "ber \xA4 z1");
    vm.step();
    EXPECT_EQ(vm.popString(), "A\x80\xC7O \x9A" "BER \xA5 Z1");
    EXPECT_EQ(vm.depth(), 0);

    Vm all({op(Opcode::UPCASE), 1});
    const std::string lower = "\x81\x82\x83\x84\x85\x87\x88\x89\x8B\x8C\x93\x94\x96\xA0\xA1\xA2\xA3\xA4\xC6\xE4";
    const std::string upper = "\x9A\x90\xB6\x8E\xB7\x80\xD2\xD3\xD8\xD7\xE2\x99\xEA\xB5\xD6\xE0\xE9\xA5\xC7\xE5";
    all.pushString(lower);
    all.step();
    EXPECT_EQ(all.popString(), upper);

    // A single character: a-z only; the accented letter stays as it is.
    for (const auto& [in, out] : {std::pair<Word, Word>{'q', 'Q'}, std::pair<Word, Word>{-121, -121},
                                  std::pair<Word, Word>{'Q', 'Q'}, std::pair<Word, Word>{'{', '{'}}) {
        Vm single({op(Opcode::UPCASE), 0});
        single.pushAll({7, in});
        single.step();
        EXPECT_EQ(single.stack(), (std::vector<Word>{7, out}));
        EXPECT_EQ(single.m.pc, 2);
    }
}

struct ValResult {
    Word integer = 0;
    double real = 0;
    Word code = 0;
};

ValResult val(const std::string& text, bool integerTarget) {
    constexpr Word kTarget = 700;
    constexpr Word kCode = 710;
    Vm vm({op(Opcode::VAL), integerTarget ? 1 : 2, 1});
    vm.pushString(text);
    vm.pushAll({kTarget, kCode});
    vm.step();
    EXPECT_EQ(vm.depth(), 0);
    EXPECT_EQ(vm.m.pc, 3);
    return ValResult{vm.m.readWord(kTarget), vm.m.readReal(kTarget), vm.m.readWord(kCode)};
}

TEST(Val, ConvertsTheNumberPrefixAndReportsWhereItStopped) {
    const auto integer = [](const std::string& t) {
        const ValResult r = val(t, true);
        return std::pair{r.integer, r.code};
    };
    EXPECT_EQ(integer("123"), (std::pair<Word, Word>{123, 0}));
    EXPECT_EQ(integer("12a"), (std::pair<Word, Word>{12, 3}));
    EXPECT_EQ(integer("abc"), (std::pair<Word, Word>{0, 1}));
    EXPECT_EQ(integer(""), (std::pair<Word, Word>{0, 0}));
    EXPECT_EQ(integer("2.9"), (std::pair<Word, Word>{2, 0}));
    EXPECT_EQ(integer(" 7"), (std::pair<Word, Word>{7, 0}));
    EXPECT_EQ(integer("-8"), (std::pair<Word, Word>{-8, 0}));
    EXPECT_EQ(integer("   "), (std::pair<Word, Word>{0, 1}));
    EXPECT_EQ(integer("7 "), (std::pair<Word, Word>{7, 2}));
    EXPECT_EQ(integer("+"), (std::pair<Word, Word>{0, 1}));
    EXPECT_EQ(integer("1e"), (std::pair<Word, Word>{1, 2}));  // an exponent needs digits
    EXPECT_EQ(integer("1e+"), (std::pair<Word, Word>{1, 2}));
    EXPECT_EQ(integer("1e2x"), (std::pair<Word, Word>{100, 4}));
    // Forms the C library would take but a Pascal number is not.
    EXPECT_EQ(integer("0x10"), (std::pair<Word, Word>{0, 2}));
    EXPECT_EQ(integer("inf"), (std::pair<Word, Word>{0, 1}));
    EXPECT_EQ(integer("nan"), (std::pair<Word, Word>{0, 1}));
    // Out of the integer range: the defined conversion, not undefined behaviour.
    EXPECT_EQ(integer("3000000000"), (std::pair<Word, Word>{-1294967296, 0}));
    EXPECT_EQ(integer("1e300"), (std::pair<Word, Word>{0, 0}));
    EXPECT_EQ(integer("1e400"), (std::pair<Word, Word>{0, 0}));

    EXPECT_EQ(val("3.25", false).real, 3.25);
    EXPECT_EQ(val(".5", false).real, 0.5);
    EXPECT_EQ(val("5.", false).real, 5.0);
    EXPECT_EQ(val("-1.5e3", false).real, -1500.0);
    EXPECT_EQ(val("2,5", false).real, 2.0);
    EXPECT_EQ(val("2,5", false).code, 2);
    EXPECT_TRUE(std::isinf(val("1e400", false).real));
}

TEST(Val, TakesACharacterSourceAndWritesRealsDownwardInTheHeap) {
    Vm vm({op(Opcode::VAL), 1, 0, op(Opcode::VAL), 2, 1});
    vm.pushAll({'7', 700, 710});
    vm.step();
    EXPECT_EQ(vm.m.readWord(700), 7);
    EXPECT_EQ(vm.m.readWord(710), 0);

    const Word block = vm.m.heap.allocate(2);
    vm.pushString("0.5");
    vm.pushAll({block, 710});
    vm.step();
    EXPECT_EQ(realOf(vm.m.readWord(block), vm.m.readWord(block - 1)), 0.5);
}

TEST(LoadStr, PushesTheVariableUpToItsMarkerOrCapacity) {
    const auto load = [](Word capacity, const std::vector<Word>& words) {
        Vm vm({op(Opcode::LOAD_STR), capacity});
        for (std::size_t i = 0; i < words.size(); ++i) vm.m.writeWord(kVar + static_cast<Word>(i), words[i]);
        vm.push(kVar);
        vm.step();
        EXPECT_EQ(vm.m.pc, 2);
        std::string s = vm.popString();
        EXPECT_EQ(vm.depth(), 0);
        return s;
    };
    EXPECT_EQ(load(3, chars("abcd")), "abc");
    EXPECT_EQ(load(10, {'a', 'b', -1, 'c'}), "ab");
    EXPECT_EQ(load(10, {-1}), "");
    EXPECT_EQ(load(0, chars("abc")), "");
    EXPECT_EQ(load(-5, chars("abc")), "");
    // A capacity no string has is read as far as a string value goes.
    EXPECT_EQ(load(2147483647, std::vector<Word>(300, 'k')), std::string(255, 'k'));
}

// String instructions read and write the words where they lie when the
// stack and the variable are in the contiguous region, and word by word
// elsewhere: both must leave the same words, including when a variable
// overlaps the stack words an instruction moves.
TEST(StringsWhereverTheyLie, TheContiguousRegionActsAsWordByWord) {
    constexpr Word kAt = 1 << 30;  // a layout word kAt + k is the address base + k
    const auto text = [](const std::string& s) {  // a string value as pushed: marker, then last character first
        std::vector<Word> words{-1};
        for (std::size_t i = s.size(); i-- > 0;) words.push_back(static_cast<signed char>(s[i]));
        return words;
    };
    const auto join = [](std::initializer_list<std::vector<Word>> parts) {
        std::vector<Word> words;
        for (const auto& part : parts) words.insert(words.end(), part.begin(), part.end());
        return words;
    };
    const std::vector<Word> pad(10, 0);
    struct Case {
        const char* name;
        std::vector<Word> code;
        std::vector<Word> layout;  // the words from base + 1 up; the last one is the top of the stack
    };
    const std::string full(255, 'z');
    const Case cases[] = {
        {"load", {op(Opcode::LOAD_STR), 10}, join({chars("abc"), {-1}, pad, {kAt + 1}})},
        {"load a full variable", {op(Opcode::LOAD_STR), 255}, join({chars(full), pad, {kAt + 1}})},
        {"load the variable at sp", {op(Opcode::LOAD_STR), 10}, join({pad, {kAt + 11}})},
        {"load a variable reaching above sp", {op(Opcode::LOAD_STR), 10}, join({pad, chars("ab"), {kAt + 11}})},
        {"store", {op(Opcode::STORE_STR), 10}, join({pad, {kAt + 1}, text("hello")})},
        {"store cut", {op(Opcode::STORE_STR), 3}, join({pad, {kAt + 1}, text("hello")})},
        {"store a full string", {op(Opcode::STORE_STR), 255}, join({pad, {kAt + 1}, text(full)})},
        {"store into the string itself", {op(Opcode::STORE_STR), 10}, join({pad, {kAt + 14}, text("hello")})},
        {"store over its own address", {op(Opcode::STORE_STR), 10}, join({pad, {kAt + 11}, text("hello")})},
        {"concat", {op(Opcode::CONCAT), 0}, join({pad, text("ab"), text("cde")})},
        {"concat past 255", {op(Opcode::CONCAT), 0}, join({pad, text(full), text("cde")})},
        {"copy", {op(Opcode::COPY)}, join({pad, text("abcdef"), {2, 3}})},
        {"copy the end", {op(Opcode::COPY)}, join({pad, text("abcdef"), {4, 9}})},
        {"pos", {op(Opcode::STR_POS), 0}, join({pad, text("cd"), text("abcdcd")})},
        {"pos of a character", {op(Opcode::STR_POS), 1}, join({pad, {'d'}, text("abcdcd")})},
        {"length", {op(Opcode::STR_LENGTH)}, join({pad, text("abcd")})},
        {"compare", {op(Opcode::LT_STR), 0}, join({pad, text("abc"), text("abd")})},
        // Around the groups of eight words searched and four words copied at once.
        {"load eight", {op(Opcode::LOAD_STR), 20}, join({chars("abcdefgh"), {-1}, pad, {kAt + 1}})},
        {"load nine", {op(Opcode::LOAD_STR), 20}, join({chars("abcdefghi"), {-1}, pad, {kAt + 1}})},
        {"load seventeen", {op(Opcode::LOAD_STR), 30}, join({chars("abcdefghijklmnopq"), {-1}, pad, {kAt + 1}})},
        {"load a capacity of one", {op(Opcode::LOAD_STR), 1}, join({chars("ab"), pad, {kAt + 1}})},
        {"load eleven unmarked", {op(Opcode::LOAD_STR), 11}, join({chars("abcdefghijklmn"), pad, {kAt + 1}})},
        {"load words beyond a byte", {op(Opcode::LOAD_STR), 10}, join({{0x161, -2, 0}, {-1}, pad, {kAt + 1}})},
        {"store seven", {op(Opcode::STORE_STR), 20}, join({pad, {kAt + 1}, text("abcdefg")})},
        {"store nine into eight", {op(Opcode::STORE_STR), 8}, join({pad, {kAt + 1}, text("abcdefghi")})},
        {"store into its own characters", {op(Opcode::STORE_STR), 30}, join({pad, {kAt + 15}, text("abcdefghijklmnop")})},
        {"store below its characters", {op(Opcode::STORE_STR), 30}, join({pad, {kAt + 9}, text("abcdefghijklmnop")})},
        {"concat a byte 0 late on the left", {op(Opcode::CONCAT), 0},
         join({pad, text(std::string("abcdefghij\0k", 12)), text("xyz")})},
        {"concat a byte 0 late on the right", {op(Opcode::CONCAT), 0},
         join({pad, text("ab"), text(std::string("cdefghijklm\0n", 13))})},
        {"concat words beyond a byte", {op(Opcode::CONCAT), 0}, join({pad, {-1, 0x141, 0x3FFFFF62}, {-1, 0x300, 0x1FF}})},
        {"concat empty operands", {op(Opcode::CONCAT), 0}, join({pad, text(""), text("")})},
        {"concat a character and a string", {op(Opcode::CONCAT), 1}, join({pad, {0x178}, text("abcdefghijk")})},
        {"concat a string and a character", {op(Opcode::CONCAT), 2}, join({pad, text("abcdefghijk"), {'z'}})},
        {"concat two characters", {op(Opcode::CONCAT), 3}, join({pad, {'y'}, {'z'}})},
        {"copy from a long string", {op(Opcode::COPY)}, join({pad, text("abcdefghijklmnopqrst"), {3, 12}})},
        {"copy words beyond a byte", {op(Opcode::COPY)}, join({pad, {-1, 0x141, 0x3FFFFF62, 0x263}, {1, 3}})},
        {"pos after false starts", {op(Opcode::STR_POS), 0}, join({pad, text("aab"), text("aaaaaaaaaaaaaaab")})},
        {"pos absent", {op(Opcode::STR_POS), 0}, join({pad, text("q"), text("abcdefghijklmnopqrs")})},
        {"pos of a byte 0", {op(Opcode::STR_POS), 1}, join({pad, {0}, text(std::string("abcdefghij\0k", 12))})},
        {"pos by low bytes", {op(Opcode::STR_POS), 1}, join({pad, {0x161}, {-1, 'b', 0x261, 'c'}})},
        {"pos of a longer string", {op(Opcode::STR_POS), 0}, join({pad, text("abcdefghijk"), text("abcdefghij")})},
        {"pos of an empty string", {op(Opcode::STR_POS), 0}, join({pad, text(""), text("abc")})},
        {"str", {op(Opcode::STR), 10}, join({pad, {-12345}, {kAt + 1}})},
        {"str to the capacity", {op(Opcode::STR), 5}, join({pad, {12345}, {kAt + 1}})},
    };
    struct Place {
        const char* name;
        Word base;
        UWord watched;  // words below this are watched
    };
    const Place places[] = {{"contiguous", 1000, 0}, {"watched", 1000, 1u << 20}, {"beyond the region", 2000000000, 0}};
    constexpr Word kSpan = 600;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Word> reference;
        for (const Place& place : places) {
            SCOPED_TRACE(place.name);
            Vm vm(c.code);
            vm.m.writeWord(4000, 0);  // the region reaches past every word a case uses
            vm.m.memory.watchBelow(place.watched);
            const auto address = [&](Word k) { return wrapAdd(place.base, k); };
            for (std::size_t i = 0; i < c.layout.size(); ++i) {
                const Word w = c.layout[i];
                vm.m.writeWord(address(static_cast<Word>(i) + 1), w >= kAt ? address(w - kAt) : w);
            }
            vm.m.sp = address(static_cast<Word>(c.layout.size()));
            vm.step();
            // The outcome with addresses back as layout words.
            std::vector<Word> outcome{vm.m.pc, wrapSub(vm.m.sp, place.base)};
            for (Word k = 1; k < kSpan; ++k) {
                const Word w = vm.m.readWord(address(k));
                outcome.push_back(w >= place.base && w < address(kSpan) ? kAt + wrapSub(w, place.base) : w);
            }
            if (reference.empty())
                reference = outcome;
            else
                EXPECT_EQ(outcome, reference);
        }
    }
}

// PUSH_N copies its words at once where it can, in the order of the pushes:
// a stack running over the words pushed repeats the first of them.
TEST(PushN, CopiesItsWordsInTheOrderOfThePushes) {
    struct Case {
        const char* name;
        std::vector<Word> code;
        Word sp;
        std::vector<Word> words;  // from address 0 up after the step
    };
    const Case cases[] = {
        {"none", {op(Opcode::PUSH_N), 0}, 10, {op(Opcode::PUSH_N), 0}},
        {"one", {op(Opcode::PUSH_N), 1, -7}, 5, {op(Opcode::PUSH_N), 1, -7, 0, 0, 0, -7}},
        {"onto themselves", {op(Opcode::PUSH_N), 3, 4, 5, 6}, 1, {op(Opcode::PUSH_N), 3, 4, 5, 6}},
        {"running over them", {op(Opcode::PUSH_N), 3, 4, 5, 6}, 2, {op(Opcode::PUSH_N), 3, 4, 4, 4, 4}},
        {"nine", {op(Opcode::PUSH_N), 9, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 11,
         {op(Opcode::PUSH_N), 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const UWord watched : {0u, 1u << 20}) {  // watched words are written one by one
            Vm vm(c.code);
            vm.m.writeWord(100, 0);
            vm.m.memory.watchBelow(watched);
            vm.m.sp = c.sp;
            vm.step();
            EXPECT_EQ(vm.m.pc, static_cast<Word>(c.code.size()));
            EXPECT_EQ(vm.m.sp, c.sp + c.code[1]);
            EXPECT_EQ(varWords(vm, 0, static_cast<Word>(c.words.size())), c.words);
        }
    }
}

// An operand is searched for its marker kStringScanLimit words deep at most:
// where the stack is contiguous the search goes by groups of words, and the
// marker nearest the top is taken wherever it lies in a group.
TEST(StringsOnTheStack, TheMarkerIsFoundAtEveryDepthUpToTheScanLimit) {
    constexpr Word kNone = -1;
    for (const Word depth : {0, 1, 7, 8, 9, 15, 16, 4088, 4089, 4090, 4096, 4097, 4098, kNone}) {
        SCOPED_TRACE("marker below " + std::to_string(depth) + " characters");
        for (const Word base : {10000, 2000000000}) {
            Vm vm({op(Opcode::STR_LENGTH)});
            for (Word k = 0; k <= 5000; ++k) vm.m.writeWord(base + k, 'a' + k % 7);
            const Word top = base + 5000;
            if (depth != kNone) {
                vm.m.writeWord(top - depth, -1);
                vm.m.writeWord(top - depth - 3, -1);  // a second marker, further down
            }
            vm.m.sp = top;
            vm.step();
            const bool found = depth != kNone && depth <= kStringScanLimit;
            const Word length = found ? depth : kStringScanLimit;
            EXPECT_EQ(vm.top(), length);
            EXPECT_EQ(vm.m.sp, top - length - (found ? 1 : 0) + 1);
        }
    }
}

}  // namespace
}  // namespace lousa::test
