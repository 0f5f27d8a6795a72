// The console instructions on a machine with a plain console over in-memory
// input and output.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "console/plain_backend.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"
#include "vm/opcode_table.hpp"

namespace lousa {
namespace {

Word op(std::string_view mnemonic) { return *opcodeByMnemonic(mnemonic); }

struct Machine {
    explicit Machine(std::vector<Word> code, std::string input = "", bool terminal = false) {
        auto source = std::make_unique<MemoryByteSource>(std::move(input), terminal);
        this->source = source.get();
        console = std::make_unique<Console>(std::make_unique<PlainBackend>(output), std::move(source));
        m = std::make_unique<Interpretador>(std::move(code), "", console.get());
        m->start();
        m->sp = 1000;
    }
    // Runs instructions until HALT or a run-time error; the error text, or "".
    std::string run() {
        try {
            while (m->running) m->step();
        } catch (const ExecaoInterpretador&) {
            return m->runtimeErrorText;
        }
        return "";
    }
    std::string flushed() {
        console->flushOutput();
        return output;
    }
    std::string output;
    MemoryByteSource* source = nullptr;
    std::unique_ptr<Console> console;
    std::unique_ptr<Interpretador> m;
};

std::string errorText(const char* utf8Message) {
    return latin1(" => Erro de execução na linha 0...\n") + latin1(utf8Message);
}

std::vector<Word> realWords(double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    return {static_cast<Word>(static_cast<UWord>(bits >> 32)), static_cast<Word>(static_cast<UWord>(bits))};
}

// ------------------------------------------------------------------ output

TEST(ConWrite, EveryKindAndItsStackEffect) {
    const auto r = realWords(2.0);
    Machine vm({op("PUSH"), 7, op("CON_WRITE"), 3, op("PUSH"), 0, op("CON_WRITE"), 3,   //
                op("PUSH"), -42, op("CON_WRITE"), 1, op("PUSH"), 'x', op("CON_WRITE"), 2,  //
                op("PUSH_REAL"), r[1], r[0], op("CON_WRITE"), 4,                           //
                op("PUSH"), 0, op("CON_WRITE"), 8, op("PUSH"), -16, op("CON_WRITE"), 8,      //
                op("PUSH"), -1, op("PUSH"), 'b', op("PUSH"), 'a', op("CON_WRITE"), 6,      //
                op("PUSH"), 1, op("PUSH"), 3, op("PUSH"), 7, op("PUSH"), 7, op("PUSH"), 2, op("CON_WRITE"), 9,
                op("PUSH"), 5, op("PUSH"), 5, op("PUSH"), 1, op("CON_WRITE"), 9,  //
                op("PUSH"), 0, op("CON_WRITE"), 9,                               //
                op("PUSH"), 99, op("CON_WRITE"), 7,                              // no such kind: nothing popped
                op("CON_WRITE"), 5, op("HALT")});
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.flushed(), "TRUEFALSE-42x2.000000nil$fffffff0ab[ 1..3, 7 ][ 5 ][  ]\n");
    EXPECT_EQ(vm.m->sp, 1001);  // only the 99 is left
    EXPECT_EQ(vm.m->readWord(vm.m->sp), 99);
}

TEST(ConWrite, WidthAndDecimalForms) {
    const auto r = realWords(3.14159);
    Machine vm({op("PUSH"), 42, op("PUSH"), 5, op("CON_WRITE_W"), 1,    //
                op("PUSH"), 42, op("PUSH"), -5, op("CON_WRITE_W"), 1,   //
                op("PUSH"), 1, op("PUSH"), 6, op("CON_WRITE_W"), 3,     //
                op("PUSH"), -1, op("PUSH"), 'i', op("PUSH"), 'h', op("PUSH"), 4, op("CON_WRITE_W"), 6,
                op("PUSH"), 'c', op("PUSH"), 3, op("CON_WRITE_W"), 2,   //
                op("PUSH"), 255, op("PUSH"), 5, op("CON_WRITE_W"), 8,   //
                op("PUSH_REAL"), r[1], r[0], op("PUSH"), 10, op("CON_WRITE_W"), 4,
                op("PUSH_REAL"), r[1], r[0], op("PUSH"), 8, op("PUSH"), 2, op("CON_WRITE_WD"),
                op("PUSH_REAL"), r[1], r[0], op("PUSH"), 8, op("PUSH"), 0, op("CON_WRITE_WD"),
                op("PUSH_REAL"), r[1], r[0], op("PUSH"), 1, op("PUSH"), -3, op("CON_WRITE_WD"),
                op("PUSH"), 77, op("PUSH"), 9, op("CON_WRITE_W"), 5,  // end of line: only the width goes
                op("HALT")});
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.flushed(), "   4242     TRUE  hi  c  $ff  3.141590    3.14       33.141590");
    EXPECT_EQ(vm.m->sp, 1001);
}

TEST(ConWrite, StringsStopAtAZeroByteAndControlBytesPass) {
    Machine vm({op("PUSH"), -1, op("PUSH"), 'z', op("PUSH"), 0, op("PUSH"), 'y', op("CON_WRITE"), 6,  //
                op("PUSH"), 0, op("CON_WRITE"), 2,                                                    //
                op("PUSH"), 7, op("CON_WRITE"), 2, op("PUSH"), 8, op("CON_WRITE"), 2,                 //
                op("PUSH"), 13, op("CON_WRITE"), 2, op("PUSH"), 'q', op("CON_WRITE"), 2,              //
                op("PUSH"), 13, op("CON_WRITE"), 2, op("PUSH"), 10, op("CON_WRITE"), 2,               //
                op("PUSH"), -126, op("CON_WRITE"), 2, op("HALT")});
    EXPECT_EQ(vm.run(), "");
    // a CR LF pair split over two writes is still one line end
    EXPECT_EQ(vm.flushed(), "y\a\b\rq\n\x82");
    EXPECT_EQ(vm.m->sp, 1000);
}

TEST(ConWrite, ScreenFollowsTheTextInPlainMode) {
    Machine vm({op("PUSH"), -1, op("PUSH"), 'c', op("PUSH"), 'b', op("PUSH"), 'a', op("CON_WRITE"), 6,
                op("CON_WRITE"), 5, op("PUSH"), 12345, op("CON_WRITE"), 1, op("CRT"), 10, op("CRT"), 11, op("HALT")});
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.m->readWord(1001), 6);
    EXPECT_EQ(vm.m->readWord(1002), 2);
    EXPECT_EQ(vm.console->screen().rowText(1).substr(0, 4), "abc ");
}

// ------------------------------------------------------------------ input

// PUSH target, then CON_READ kind (or CON_READ_STR with maximum -kind), for each pair.
std::vector<Word> readCode(std::vector<std::pair<Word, Word>> kindsAndTargets) {
    std::vector<Word> code;
    for (auto [kind, target] : kindsAndTargets) {
        code.insert(code.end(), {op("PUSH"), target});
        if (kind > 0)
            code.insert(code.end(), {op("CON_READ"), kind});
        else
            code.insert(code.end(), {op("CON_READ_STR"), -kind, 0});
    }
    code.push_back(op("HALT"));
    return code;
}

TEST(ConRead, IntegersAndTheirReductions) {
    Machine vm(readCode({{1, 500}, {1, 501}, {5, 502}, {6, 503}, {6, 504}, {7, 505}, {1, 506}, {2, 507}}),
               "12 34\n300 300 200 70000\n12abc");
    EXPECT_EQ(vm.run(), "");
    const std::vector<Word> expected = {12, 34, 44, 44, -56, 4464, 12, 'a'};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(vm.m->readWord(500 + static_cast<Word>(i)), expected[i]);
    EXPECT_EQ(vm.m->sp, 1000);
}

TEST(ConRead, ErrorsHaveTheirMessagesAndStoreNothing) {
    struct Case {
        Word kind;
        const char* input;
        const char* message;
    };
    const Case cases[] = {
        {1, "abc", " => Inteiro inválido!"},
        {5, "", " => Inteiro inválido!"},
        {7, "-", " => Inteiro inválido!"},
        {3, "yes", " => Erro na leitura do valor booleano!"},
        {3, "", " => Erro na leitura do valor booleano!"},
        {4, "x", " => Real inválido!"},
        {4, "\n\n", " => Real inválido!"},
        {2, "\n\n", " => Tentativa de leitura após o fim da entrada!"},
        {-10, "\n\r\n", " => Tentativa de leitura após o fim da entrada!"},
    };
    for (const Case& c : cases) {
        Machine vm(readCode({{c.kind, 500}}), c.input);
        vm.m->writeWord(500, 1234);
        EXPECT_EQ(vm.run(), errorText(c.message)) << c.kind << " '" << c.input << "'";
        EXPECT_EQ(vm.m->readWord(500), 1234);
    }
}

TEST(ConRead, CharactersSkipLineFeedsButKeepBlanksAndCarriageReturns) {
    Machine vm(readCode({{1, 500}, {2, 501}, {2, 502}, {2, 503}, {2, 504}}), "5\n\n x\ry\n\x82");
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.m->readWord(501), ' ');
    EXPECT_EQ(vm.m->readWord(502), 'x');
    EXPECT_EQ(vm.m->readWord(503), '\r');
    EXPECT_EQ(vm.m->readWord(504), 'y');
}

TEST(ConRead, BooleansIgnoreCase) {
    Machine vm(readCode({{3, 500}, {3, 501}, {3, 502}}), "true\n  False tRuE");
    vm.m->writeWord(501, 9);
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.m->readWord(500), 1);
    EXPECT_EQ(vm.m->readWord(501), 0);
    EXPECT_EQ(vm.m->readWord(502), 1);
}

TEST(ConRead, RealsStoreHighHalfFirstAlsoInTheHeap) {
    Machine vm({op("PUSH"), 500, op("CON_READ"), 4, op("PUSH"), 0, op("CON_READ"), 4, op("HALT")}, "2.5e1 -0.5");
    const Word block = vm.m->heap.allocate(2);
    vm.m->memory.write(static_cast<UWord>(vm.m->pc + 5), block);  // the second read goes to a dynamic variable
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(Interpretador::realFromWords(vm.m->readWord(500), vm.m->readWord(501)), 25.0);
    EXPECT_EQ(Interpretador::realFromWords(vm.m->readWordAt(block, 0), vm.m->readWordAt(block, 1)), -0.5);
}

TEST(ConRead, LinesSkipEmptyOnesAndRespectTheMaximum) {
    Machine vm(readCode({{1, 500}, {-10, 600}, {-3, 700}, {-5, 800}}), "5\n\r\nhello\nabcdef\nxyz");
    for (Word i = 0; i < 30; ++i) vm.m->writeWord(600 + i, 99), vm.m->writeWord(700 + i, 99), vm.m->writeWord(800 + i, 99);
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.m->readStringAt(600, 10), "hello");
    EXPECT_EQ(vm.m->readWord(605), -1);
    EXPECT_EQ(vm.m->readStringAt(700, 3), "abc");
    EXPECT_EQ(vm.m->readWord(703), 99);  // a full variable gets no marker
    EXPECT_EQ(vm.m->readStringAt(800, 5), "xyz");  // the rest of "abcdef" went with its line
    EXPECT_EQ(vm.m->sp, 1000);
}

TEST(ConRead, HostileMaximumAndUnknownKinds) {
    Machine vm({op("PUSH"), 600, op("CON_READ_STR"), -5, 0, op("PUSH"), 700, op("CON_READ"), 8, op("HALT")}, "abc\n");
    vm.m->writeWord(600, 99);
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.m->readWord(600), 99);  // a negative maximum stores nothing
    EXPECT_EQ(vm.m->sp, 1001);           // the unknown kind left its address
    EXPECT_EQ(vm.m->readWord(1001), 700);
}

TEST(ConRead, OutputIsVisibleBeforeTheReadWaits) {
    Machine vm({op("PUSH"), -1, op("PUSH"), '?', op("CON_WRITE"), 6, op("PUSH"), 500, op("CON_READ"), 1, op("HALT")},
               "3");
    while (vm.m->pc < 7) vm.m->step();
    EXPECT_EQ(vm.output, "");  // buffered until something waits
    vm.m->step();
    vm.m->step();
    EXPECT_EQ(vm.output, "?");
}

// ------------------------------------------------------------------ keys

struct ScriptedKeys : KeySource {
    std::deque<KeyEvent> keys;
    std::optional<KeyEvent> nextKey() override {
        if (keys.empty()) return std::nullopt;
        KeyEvent k = keys.front();
        keys.pop_front();
        return k;
    }
    bool keyWaiting() override { return !keys.empty(); }
};

// Reads n keys with READ_KEY and gives the codes pushed.
std::vector<Word> readKeys(std::vector<KeyEvent> events, int n, Machine** keep = nullptr) {
    std::vector<Word> code;
    for (int i = 0; i < n; ++i) code.insert(code.end(), {op("READ_KEY"), 1});
    code.push_back(op("HALT"));
    static std::unique_ptr<Machine> last;
    last = std::make_unique<Machine>(code);
    auto keys = std::make_unique<ScriptedKeys>();
    keys->keys.assign(events.begin(), events.end());
    last->console->setKeySource(std::move(keys));
    EXPECT_EQ(last->run(), "");
    if (keep) *keep = last.get();
    std::vector<Word> pushed;
    for (Word a = 1001; a <= last->m->sp; ++a) pushed.push_back(last->m->readWord(a));
    return pushed;
}

KeyEvent vkey(std::uint16_t v, bool shift = false, bool ctrl = false, bool alt = false) {
    return KeyEvent{v, 0, shift, ctrl, alt};
}
KeyEvent ckey(char c, bool shift = false, bool ctrl = false, bool alt = false) {
    return KeyEvent{0, static_cast<std::uint8_t>(c), shift, ctrl, alt};
}

using Codes = std::vector<Word>;

TEST(ReadKey, CursorAndEditingKeysGiveZeroThenTheirCode) {
    EXPECT_EQ(readKeys({vkey(vk::kUp), vkey(vk::kLeft, false, true), vkey(vk::kDown, true, false, true)}, 6),
              (Codes{0, 72, 0, 115, 0, 80}));
    EXPECT_EQ(readKeys({vkey(vk::kPageUp), vkey(vk::kPageDown, false, true), vkey(vk::kEnd, false, true),
                        vkey(vk::kHome, false, true), vkey(vk::kRight, false, true), vkey(vk::kUp, true, true),
                        vkey(vk::kDown, false, true), vkey(vk::kPageUp, false, true)},
                       16),
              (Codes{0, 73, 0, 118, 0, 117, 0, 119, 0, 116, 0, 141, 0, 145, 0, 132}));
    EXPECT_EQ(readKeys({vkey(vk::kInsert, false, true), vkey(vk::kDelete, false, false, true), vkey(vk::kNumpad0 + 5),
                        vkey(vk::kNumpad0 + 9, true)},
                       8),
              (Codes{0, 82, 0, 83, 0, 76, 0, 73}));
}

TEST(ReadKey, FunctionKeysTakeAltThenCtrlThenShift) {
    EXPECT_EQ(readKeys({vkey(vk::kF1), vkey(vk::kF1, true), vkey(vk::kF1 + 9, false, true),
                        vkey(vk::kF1 + 4, true, true, true)},
                       8),
              (Codes{0, 59, 0, 84, 0, 103, 0, 108}));
    EXPECT_EQ(readKeys({vkey(vk::kF1 + 10), vkey(vk::kF1 + 11, true), vkey(vk::kF1 + 10, true, true),
                        vkey(vk::kF1 + 11, false, false, true)},
                       8),
              (Codes{0, 133, 0, 136, 0, 137, 0, 140}));
}

TEST(ReadKey, AltCharactersShiftTabAndCtrlPrintScreen) {
    EXPECT_EQ(readKeys({ckey('x', false, false, true), ckey('Q', false, false, true), ckey('l', false, false, true),
                        ckey('0', false, false, true), ckey('-', false, false, true), ckey('=', true, false, true),
                        ckey('\t', true), KeyEvent{vk::kPrintScreen, 0, false, true, false}},
                       16),
              (Codes{0, 45, 0, 16, 0, 38, 0, 129, 0, 130, 0, 131, 0, 15, 0, 114}));
    // Alt with a character outside the table types the character
    EXPECT_EQ(readKeys({ckey('!', false, false, true), ckey('\t'), ckey('a', false, true)}, 3), (Codes{'!', 9, 'a'}));
}

TEST(ReadKey, PlainCharactersKeysWithoutCharactersAndEndOfInput) {
    Machine* vm = nullptr;
    // Shift alone has neither a character nor a code: it is skipped
    EXPECT_EQ(readKeys({ckey('a'), vkey(16, true), ckey('b'), ckey(static_cast<char>(0x87))}, 5, &vm),
              (Codes{'a', 'b', 0x87, 236, 236}));
    EXPECT_EQ(vm->m->pendingKey, 0);
}

TEST(ReadKey, WithoutPushTheZeroIsDroppedAndTheCodeWaits) {
    Machine vm({op("READ_KEY"), 0, op("CRT"), 7, op("READ_KEY"), 1, op("HALT")});
    auto keys = std::make_unique<ScriptedKeys>();
    keys->keys = {vkey(vk::kRight)};
    vm.console->setKeySource(std::move(keys));
    vm.m->step();
    EXPECT_EQ(vm.m->pendingKey, 77);
    EXPECT_EQ(vm.m->sp, 1000);
    vm.m->step();
    EXPECT_EQ(vm.m->readWord(vm.m->sp), 0);  // the waiting test looks only at the input
    vm.m->step();
    EXPECT_EQ(vm.m->readWord(vm.m->sp), 77);
    EXPECT_EQ(vm.m->pendingKey, 0);
}

TEST(ReadKey, PipedBytesAreKeys) {
    Machine vm({op("CRT"), 7, op("READ_KEY"), 1, op("READ_KEY"), 1, op("CRT"), 7, op("HALT")}, "q\n");
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.m->readWord(1001), 1);
    EXPECT_EQ(vm.m->readWord(1002), 'q');
    EXPECT_EQ(vm.m->readWord(1003), 13);
    EXPECT_EQ(vm.m->readWord(1004), 0);  // false at end of input
}

// ------------------------------------------------------------------ screen control and CRT

TEST(Crt, ConversionsAndShiftsInPlace) {
    struct Case {
        Word function;
        std::vector<Word> stack;
        Word result;
    };
    const Case cases[] = {
        {12, {300}, 44},          {12, {-1}, 255},         {13, {200}, -56},       {13, {127}, 127},
        {13, {-129}, 127},        {14, {-1}, 65535},       {14, {70000}, 4464},    {15, {1, 33}, 2},
        {15, {1, 31}, -2147483647 - 1}, {15, {-1, -1}, -2147483647 - 1}, {15, {0x40000000, 1}, -2147483647 - 1},
        {16, {-8, 1}, -4},        {16, {-1, 31}, -1},      {16, {-2147483647 - 1, 63}, -1}, {16, {64, 32}, 64},
    };
    for (const Case& c : cases) {
        Machine vm({op("CRT"), c.function, op("HALT")});
        for (Word w : c.stack) vm.m->push(w);
        EXPECT_EQ(vm.run(), "");
        EXPECT_EQ(vm.m->sp, 1001) << c.function;
        EXPECT_EQ(vm.m->readWord(1001), c.result) << c.function << " " << c.stack[0];
    }
}

TEST(Crt, IoResultMapsTheErrorNumberAndKeepsIt) {
    Machine vm({op("CRT"), 6, op("CRT"), 6, op("CRT"), 99, op("HALT")});
    vm.m->ioErrorNumber = 2;  // ENOENT
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.m->readWord(1001), 2);
    EXPECT_EQ(vm.m->readWord(1002), 2);
    EXPECT_EQ(vm.m->sp, 1002);  // an unknown sub-function does nothing
}

TEST(ScreenControl, PlainModeWritesNothingButKeepsTheModel) {
    Machine vm({op("PUSH"), 10, op("PUSH"), 5, op("PUSH"), 40, op("PUSH"), 15, op("TEXT_WINDOW"),  //
                op("PUSH"), 10, op("PUSH"), 5, op("GOTOXY"),                                          //
                op("PUSH"), 14, op("TEXT_COLOR"), op("PUSH"), 1, op("TEXT_BACKGROUND"),               //
                op("CRT"), 2, op("CRT"), 1, op("CRT"), 3, op("CRT"), 5, op("CRT"), 4, op("CRT"), 8,   //
                op("CURSOR"), 1, op("PUSH"), 3, op("PUSH"), 2, op("GOTOXY"),                          //
                op("PUSH"), 'x', op("CON_WRITE"), 2, op("CRT"), 10, op("CRT"), 11,                    //
                op("PUSH"), 99, op("PUSH"), 1, op("GOTOXY"), op("CRT"), 10, op("CRT"), 11,            //
                op("PUSH"), -20, op("DELAY"), op("FLUSH_INPUT"), op("HALT")});  // a negative pause is none
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.flushed(), "x");
    const ScreenModel& screen = vm.console->screen();
    EXPECT_EQ(screen.window(), (ScreenRect{10, 5, 40, 15}));
    EXPECT_EQ(screen.attribute(), 0x16);  // yellow on blue, then high and low intensity
    EXPECT_FALSE(screen.cursorVisible());
    EXPECT_EQ(screen.cellAt(12, 6), (Cell{'x', 0x16}));
    EXPECT_EQ(vm.m->readWord(1001), 4);  // after the x
    EXPECT_EQ(vm.m->readWord(1002), 2);
    EXPECT_EQ(vm.m->readWord(1003), 4);  // gotoxy outside the window moved nothing
    EXPECT_EQ(vm.m->readWord(1004), 2);
    EXPECT_EQ(vm.m->sp, 1004);
}

TEST(ScreenControl, NormalVideoRestoresTheStartupAttribute) {
    Machine vm({op("PUSH"), 4, op("TEXT_BACKGROUND"), op("PUSH"), 10, op("TEXT_COLOR"), op("CRT"), 9, op("HALT")});
    EXPECT_EQ(vm.run(), "");
    EXPECT_EQ(vm.console->screen().attribute(), 7);
}

TEST(ScreenControl, FlushInputDiscardsOnlyTerminalInput) {
    Machine piped({op("FLUSH_INPUT"), op("PUSH"), 500, op("CON_READ"), 1, op("HALT")}, "42");
    EXPECT_EQ(piped.run(), "");
    EXPECT_EQ(piped.m->readWord(500), 42);
    Machine typed({op("FLUSH_INPUT"), op("PUSH"), 500, op("CON_READ"), 1, op("HALT")}, "", /*terminal=*/true);
    typed.source->append("42\n");
    EXPECT_EQ(typed.run(), errorText(" => Inteiro inválido!"));  // the typed-ahead line is gone
}

TEST(ConsoleInstructions, WorkWithoutAConsole) {
    Interpretador m({op("PUSH"), 5, op("CON_WRITE"), 1, op("CRT"), 10, op("READ_KEY"), 1, op("CRT"), 7,
                     op("PUSH"), 500, op("CON_READ"), 1},
                    "", nullptr);
    m.start();
    m.sp = 1000;
    for (int i = 0; i < 5; ++i) m.step();
    EXPECT_EQ(m.readWord(1001), 1);
    EXPECT_EQ(m.readWord(1002), 236);
    EXPECT_EQ(m.readWord(1003), 0);
    m.step();
    EXPECT_THROW(m.step(), ExecaoInterpretador);  // no console: reads find no input
}

}  // namespace
}  // namespace lousa
