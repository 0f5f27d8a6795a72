// The file instructions on a machine whose runner directory is a scratch
// directory: operands are pushed by hand before each instruction runs.

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <initializer_list>
#include <string>
#include <vector>

#include "files/io_result.hpp"
#include "unit/files/temp_dir.hpp"
#include "vm/interpretador.hpp"
#include "vm/opcode_table.hpp"

namespace lousa {
namespace {

using test::readBytes;
using test::writeBytes;

constexpr Word kFileVar = 500;  // a file variable holding the name "f"
constexpr Word kTarget = 600;
constexpr Word kStackBase = 1000;

const std::string kReading = " => Tentativa de leitura em arquivo que n\xE3o foi aberto com sucesso!";
const std::string kWriting = " => Tentativa de escrita em arquivo que n\xE3o foi aberto com sucesso!";

Word op(Opcode code) { return static_cast<Word>(code); }

class FileVm {
public:
    explicit FileVm(std::vector<Word> code) : m(std::move(code), dir.withSeparator(), nullptr) {
        m.start();
        m.sp = kStackBase;
        m.writeWord(kFileVar, 'f');
        m.writeWord(kFileVar + 1, -1);
    }
    [[nodiscard]] std::string path() const { return dir.file("f"); }

    void pushString(const std::string& s) {
        m.push(-1);
        for (std::size_t i = s.size(); i-- > 0;) m.push(static_cast<signed char>(s[i]));
    }
    // Runs one instruction; returns the message of the run-time error it raised, or "".
    std::string step() {
        try {
            m.step();
        } catch (const ExecaoInterpretador&) {
            return m.runtimeErrorText.substr(m.runtimeErrorText.find("...\n") + 4);
        }
        return {};
    }
    // Pushes the file variable (and a target address) and runs one read instruction.
    std::string read() {
        m.push(kFileVar);
        m.push(kTarget);
        return step();
    }
    std::vector<Word> targetWords(int n) const {
        std::vector<Word> words;
        for (int i = 0; i < n; ++i) words.push_back(m.readWord(kTarget + i));
        return words;
    }

    test::TempDir dir;
    Interpretador m;
};

// Code that opens "f" with the instruction given, then runs `body` `times` times.
std::vector<Word> program(Opcode open, Word typed, std::initializer_list<Word> body, int times = 1) {
    std::vector<Word> code{op(open), typed};
    for (int i = 0; i < times; ++i) code.insert(code.end(), body);
    return code;
}

TEST(TextFileOpen, AMissingFileRegistersNothingAndReportsTwo) {
    FileVm vm(program(Opcode::FILE_RESET, 0, {op(Opcode::FILE_READ), 1, 0}));
    vm.pushString("f");
    EXPECT_EQ(vm.step(), "");
    EXPECT_EQ(vm.m.ioErrorNumber, ENOENT);
    EXPECT_EQ(ioResult(vm.m.ioErrorNumber), 2);
    vm.m.currentLine = 7;
    EXPECT_EQ(vm.read(), kReading);
    EXPECT_EQ(vm.m.runtimeErrorText, " => Erro de execu\xE7\xE3o na linha 7...\n" + kReading);
}

TEST(TextFileOpen, ReadAndWriteNeedTheMatchingOpening) {
    FileVm vm({op(Opcode::FILE_REWRITE), 0, op(Opcode::FILE_READ), 1, 0});
    writeBytes(vm.path(), "old contents");
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(vm.m.ioErrorNumber, 0);
    EXPECT_EQ(readBytes(vm.path()), "") << "rewrite empties the file";
    EXPECT_EQ(vm.read(), kReading);

    FileVm reset({op(Opcode::FILE_RESET), 0, op(Opcode::FILE_WRITE), 1});
    writeBytes(reset.path(), "1");
    reset.pushString("f");
    reset.step();
    reset.m.push(kFileVar);
    reset.m.push(5);
    EXPECT_EQ(reset.step(), kWriting);
}

TEST(TextFileOpen, OpeningAnOpenFileAgainLeavesItAndItsDataAlone) {
    // 20 strings of 250 characters: more than the stream buffers before the second rewrite.
    std::vector<Word> code{op(Opcode::FILE_REWRITE), 0};
    code.insert(code.end(), 20, op(Opcode::FILE_WRITE_STR));
    code.insert(code.end(), {op(Opcode::FILE_REWRITE), 0, op(Opcode::FILE_RESET), 0, op(Opcode::FILE_CLOSE)});
    FileVm vm(code);
    vm.pushString("f");
    vm.step();
    vm.m.push(kFileVar);
    for (int i = 0; i < 20; ++i) {
        vm.pushString(std::string(250, 'x'));
        ASSERT_EQ(vm.step(), "");
    }
    vm.m.sp--;
    for (int i = 0; i < 3; ++i) {
        vm.pushString("f");
        vm.step();
        EXPECT_EQ(vm.m.ioErrorNumber, 0);
    }
    EXPECT_EQ(vm.m.openFiles.size(), 0U);
    EXPECT_EQ(readBytes(vm.path()), std::string(5000, 'x'));
}

TEST(TextFileRead, CharactersDeliverLineEndsAsCrThenLf) {
    FileVm vm(program(Opcode::FILE_RESET, 0, {op(Opcode::FILE_READ), 2, 0}, 6));
    writeBytes(vm.path(), "ab\r\n");
    vm.pushString("f");
    vm.step();
    std::vector<Word> got;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(vm.read(), "");
        got.push_back(vm.m.readWord(kTarget));
    }
    EXPECT_EQ(got, (std::vector<Word>{'a', 'b', 13, 10, ' ', ' '}));
    EXPECT_EQ(vm.m.sp, kStackBase);
}

TEST(TextFileRead, ReadlnAfterTheLineEndWasReadStartsTheNextLine) {
    // readln(f, c) at a line end, then read(f, c), then readln(f), then read(f, c).
    FileVm vm({op(Opcode::FILE_RESET), 0, op(Opcode::FILE_READ), 2, 1, op(Opcode::FILE_READ), 2, 0,
               op(Opcode::FILE_READ), 2, 0, op(Opcode::FILE_READ), 9, 1, op(Opcode::FILE_READ), 2, 0});
    writeBytes(vm.path(), "\r\nxy\r\nz\r\n");
    vm.pushString("f");
    vm.step();
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 13);
    EXPECT_FALSE(vm.m.pendingLineFeed);
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 'x') << "the line end was consumed, not the line after it";
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 'y');
    vm.m.push(kFileVar);
    vm.step();
    EXPECT_EQ(vm.m.sp, kStackBase);
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 'z');
}

TEST(TextFileRead, NumbersBooleansAndTheLineFlag) {
    FileVm vm({op(Opcode::FILE_RESET), 0, op(Opcode::FILE_READ), 1, 1, op(Opcode::FILE_READ), 1, 0,
               op(Opcode::FILE_READ), 5, 0, op(Opcode::FILE_READ), 4, 0, op(Opcode::FILE_READ), 3, 0,
               op(Opcode::FILE_READ), 3, 0, op(Opcode::FILE_READ), 1, 0, op(Opcode::FILE_READ), 3, 0});
    writeBytes(vm.path(), "7 8\r\n9 300 2.5e1\r\nTRUE FALSE x true");
    vm.pushString("f");
    vm.step();
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 7);
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 9) << "the line flag skipped the 8";
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 44) << "a byte keeps the low 8 bits";
    vm.read();
    EXPECT_EQ(Interpretador::realFromWords(vm.m.readWord(kTarget), vm.m.readWord(kTarget + 1)), 25.0);
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 1);
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 0);
    vm.m.writeWord(kTarget, 55);
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 0) << "not a number stores 0";
    EXPECT_EQ(vm.read(), std::string(" => Erro na leitura do valor booleano!"));
}

TEST(TextFileRead, StringsWithAndWithoutTheLineFlag) {
    FileVm vm({op(Opcode::FILE_RESET), 0, op(Opcode::FILE_READ_STR), 3, 0, op(Opcode::FILE_READ_STR), 3, 1,
               op(Opcode::FILE_READ_STR), 3, 1, op(Opcode::FILE_READ_STR), 3, 0, op(Opcode::FILE_READ_STR),
               2000000000, 1});
    writeBytes(vm.path(), "abcdef\r\nghijkl\r\nhi\r\n");
    vm.pushString("f");
    vm.step();
    for (int i = 0; i < 4; ++i) vm.m.writeWord(kTarget + i, 77);
    vm.read();
    EXPECT_EQ(vm.targetWords(4), (std::vector<Word>{'a', 'b', 'c', 77})) << "full: no marker";
    vm.read();
    EXPECT_EQ(vm.targetWords(4), (std::vector<Word>{'d', 'e', 'f', 77})) << "the rest of the line, then its end";
    vm.read();
    EXPECT_EQ(vm.targetWords(4), (std::vector<Word>{'g', 'h', 'i', 77}));
    vm.read();
    EXPECT_EQ(vm.targetWords(3), (std::vector<Word>{'h', 'i', -1})) << "the line flag consumed jkl";
    EXPECT_EQ(vm.read(), "") << "a huge maximum reads nothing past the end";
    EXPECT_EQ(vm.m.readWord(kTarget), -1);
}

TEST(TextFileWrite, ValuesWidthsAndLineEnds) {
    FileVm vm({op(Opcode::FILE_REWRITE), 0, op(Opcode::FILE_WRITE), 1, op(Opcode::FILE_WRITE), 3,
               op(Opcode::FILE_WRITE), 4, op(Opcode::FILE_WRITE), 8, op(Opcode::FILE_WRITE), 5,
               op(Opcode::FILE_WRITE_W), 1, op(Opcode::FILE_WRITE_WD), op(Opcode::FILE_WRITE_STR_W),
               op(Opcode::FILE_CLOSE)});
    vm.pushString("f");
    vm.step();
    vm.m.push(kFileVar);
    vm.m.push(-42);
    vm.step();
    vm.m.push(1);
    vm.step();
    vm.m.pushReal(2.5);
    vm.step();
    vm.m.push(-16);
    vm.step();
    vm.step();
    vm.m.push(7);
    vm.m.push(3);
    vm.step();
    vm.m.pushReal(3.14159);
    vm.m.push(8);
    vm.m.push(2);
    vm.step();
    vm.pushString("ab");
    vm.m.push(-4);
    vm.step();
    EXPECT_EQ(vm.m.sp, kStackBase + 1) << "the writes leave the file reference";
    vm.m.sp = kStackBase;
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(readBytes(vm.path()), "-42TRUE2.500000$fffffff0\r\n  7    3.14ab  ");
}

TEST(TextFileWrite, ALineFeedCharacterIsBareAndLaterWritesAppend) {
    FileVm vm({op(Opcode::FILE_REWRITE), 0, op(Opcode::FILE_WRITE_STR), op(Opcode::FILE_WRITE), 2,
               op(Opcode::FILE_WRITE), 5});
    vm.pushString("f");
    vm.step();
    vm.m.push(kFileVar);
    vm.pushString("a\nb");
    vm.step();
    vm.m.push(10);
    vm.step();
    vm.step();
    EXPECT_EQ(vm.m.openFiles.find(vm.path(), 'w')->position(), 6) << "appending at the end";
    vm.m.openFiles.closeAll();
    EXPECT_EQ(readBytes(vm.path()), "a\nb\n\r\n");
}

TEST(TypedFile, FieldsRoundTripInThePackedLayout) {
    FileVm vm({op(Opcode::FILE_REWRITE), 1, op(Opcode::TYPED_WRITE), 6, 0, 2, op(Opcode::TYPED_WRITE), 6, 0, 4,
               op(Opcode::TYPED_WRITE), 6, 1, 1, op(Opcode::TYPED_WRITE_STR), 6, 2, 5, op(Opcode::TYPED_WRITE), 6,
               4, 6, op(Opcode::FILE_SEEK), 1, op(Opcode::TYPED_READ), 0, 2, op(Opcode::TYPED_READ), 1, 4,
               op(Opcode::TYPED_READ), 2, 1, op(Opcode::TYPED_READ_STR), 3, 5, op(Opcode::TYPED_READ), 9, 6,
               op(Opcode::TYPED_READ), 0, 1, op(Opcode::TYPED_READ_STR), 0, 3});
    vm.pushString("f");
    vm.step();
    // A component of six words: 258, -1, the string "a" (with its marker), -2.5.
    vm.m.push(kFileVar);
    for (Word w : std::initializer_list<Word>{258, -1, 'a', -1}) vm.m.push(w);
    vm.m.pushReal(-2.5);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(vm.step(), "");
    EXPECT_EQ(vm.m.sp, kStackBase + 7) << "the transfers pop nothing";
    vm.m.sp = kStackBase;
    const std::string expected = std::string("\x02\x01" "\x02\x01\x00\x00" "\xFF", 7) +
                                 std::string("\x01" "a\0\0\0\0", 6) + std::string("\x82\0\0\0\0\xA0", 6);
    EXPECT_EQ(vm.m.openFiles.find(vm.path(), 'a')->size(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(readBytes(vm.path()), expected);

    vm.pushString("f");
    vm.m.push(0);
    vm.step();
    vm.m.push(kFileVar);
    vm.m.push(kTarget);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(vm.step(), "");
    EXPECT_EQ(vm.targetWords(6), (std::vector<Word>{258, 258, 255, 'a', -1, 0}));
    EXPECT_EQ(Interpretador::realFromWords(vm.m.readWord(kTarget + 9), vm.m.readWord(kTarget + 10)), -2.5);
    vm.step();
    EXPECT_EQ(vm.m.readWord(kTarget), '0') << "a byte past the end reads as the digit zero";
    vm.step();
    EXPECT_EQ(vm.targetWords(3), (std::vector<Word>{-1, '0', '0'})) << "at the end: length 0, filler zeros";
}

TEST(TypedFile, SeekPositionsAtRecordsAndRefusesNegativePositions) {
    FileVm vm({op(Opcode::FILE_RESET), 1, op(Opcode::FILE_SEEK), 6, op(Opcode::TYPED_READ), 0, 6,
               op(Opcode::FILE_SEEK), 6, op(Opcode::FILE_POS), 6});
    std::string bytes;
    for (int i = 1; i <= 4; ++i) bytes += std::string{static_cast<char>(0x80 + i), 0, 0, 0, 0, 0};
    writeBytes(vm.path(), bytes);
    vm.pushString("f");
    vm.step();
    vm.pushString("f");
    vm.m.push(3);
    vm.step();
    vm.m.push(kFileVar);
    vm.m.push(kTarget);
    vm.step();
    EXPECT_EQ(Interpretador::realFromWords(vm.m.readWord(kTarget), vm.m.readWord(kTarget + 1)), 8.0) << "the fourth real";
    vm.m.sp = kStackBase;
    vm.pushString("f");
    vm.m.push(-1);
    EXPECT_EQ(vm.step(), "");
    EXPECT_EQ(vm.m.ioErrorNumber, EINVAL);
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(vm.m.readWord(vm.m.sp), 4) << "still after the fourth record";
}

TEST(TypedFile, WildOperandsNeitherHangNorAllocate) {
    FileVm vm({op(Opcode::FILE_REWRITE), 1, op(Opcode::TYPED_WRITE_STR), 1, 0, 2000000000,
               op(Opcode::TYPED_READ_STR), 0, 2000000000, op(Opcode::TYPED_WRITE), 2000000000, 0, 4});
    vm.pushString("f");
    vm.step();
    vm.m.push(kFileVar);
    vm.m.push(-1);
    EXPECT_EQ(vm.step(), "");
    EXPECT_EQ(vm.m.openFiles.find(vm.path(), 'a')->size(), 256) << "a length byte and at most 255 characters";
    vm.m.sp = kStackBase;
    vm.m.push(kFileVar);
    vm.m.push(kTarget);
    EXPECT_EQ(vm.step(), "");
    EXPECT_EQ(vm.step(), kWriting) << "the file reference is far below the stack";
}

TEST(FileState, EndOfFileEndOfLinePositionAndSize) {
    FileVm vm({op(Opcode::FILE_RESET), 0, op(Opcode::FILE_EOLN), op(Opcode::FILE_EOF), op(Opcode::FILE_READ), 2, 0,
               op(Opcode::FILE_EOLN), op(Opcode::FILE_POS), 0, op(Opcode::FILE_SIZE), 4, op(Opcode::FILE_READ), 2, 0,
               op(Opcode::FILE_EOF), op(Opcode::FILE_EOLN), op(Opcode::FILE_CLOSE), op(Opcode::FILE_EOF)});
    writeBytes(vm.path(), std::string("a\r\n") + std::string(37, 'z'));  // 40 bytes
    vm.pushString("f");
    vm.step();
    for (int i = 0; i < 2; ++i) {
        vm.pushString("f");
        vm.step();
    }
    EXPECT_EQ(vm.m.readWord(vm.m.sp - 1), 0) << "eoln before a";
    EXPECT_EQ(vm.m.readWord(vm.m.sp), 0) << "eof before a";
    vm.m.sp = kStackBase;
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 'a') << "the look-ahead gave the character back";
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(vm.m.readWord(vm.m.sp), 1) << "eoln before the line end";
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(vm.m.readWord(vm.m.sp), 1) << "position in bytes with record size 0";
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(vm.m.readWord(vm.m.sp), 10) << "40 bytes of 4";
    vm.m.sp = kStackBase;
    vm.read();
    EXPECT_EQ(vm.m.readWord(kTarget), 13);
    EXPECT_EQ(vm.m.openFiles.find(vm.path(), 'a')->position(), 3);
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(vm.m.readWord(vm.m.sp), 0);
    vm.pushString("f");
    vm.step();
    vm.pushString("f");
    vm.step();
    EXPECT_EQ(vm.m.openFiles.size(), 0U);
    vm.pushString("f");
    EXPECT_EQ(vm.step(), std::string(" => Arquivo fechado no comando EOF!"));
}

TEST(FileState, AppendAndCloseFailuresShowOnlyInTheErrorNumber) {
    FileVm vm({op(Opcode::FILE_APPEND), 0, op(Opcode::FILE_CLOSE), op(Opcode::FILE_APPEND), 1,
               op(Opcode::FILE_WRITE), 5, op(Opcode::TYPED_WRITE), 1, 0, 1});
    vm.pushString("no/such/dir/f");
    EXPECT_EQ(vm.step(), "");
    EXPECT_EQ(ioResult(vm.m.ioErrorNumber), 3) << "the directory is missing";
    EXPECT_EQ(vm.m.openFiles.size(), 0U);
    vm.pushString("never-opened");
    vm.step();
    EXPECT_EQ(vm.m.ioErrorNumber, 0);
    writeBytes(vm.path(), "x");
    vm.pushString("f");
    vm.step();
    vm.m.push(kFileVar);
    vm.step();
    vm.m.push('y');
    vm.step();
    vm.m.openFiles.closeAll();
    EXPECT_EQ(readBytes(vm.path()), "x\ny") << "typed: no translation, written at the end";
}

}  // namespace
}  // namespace lousa
