// Text files: opening for reading and writing (also for typed files), and
// the read, readln, write and writeln statements on text files.

#include <algorithm>
#include <bit>
#include <cstdint>

#include "console/value_text.hpp"
#include "files/file_instruction_support.hpp"
#include "files/stream_scanning.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace {

// Value kinds of the read and write instructions.
constexpr Word kInteger = 1;
constexpr Word kCharacter = 2;
constexpr Word kBoolean = 3;
constexpr Word kReal = 4;
constexpr Word kByteOrLineEnd = 5;
constexpr Word kShortInteger = 6;
constexpr Word kWordValue = 7;
constexpr Word kPointer = 8;
constexpr Word kNothing = 9;

// A string variable holds at most this many characters.
constexpr Word kMaxStringLength = 255;

Word reduceInteger(Word value, Word kind) {
    switch (kind) {
        case kByteOrLineEnd:
            return lowByte(value);
        case kShortInteger:
            return signedByte(value);
        case kWordValue:
            return lowWord(value);
        default:
            return value;
    }
}

void storeRealAt(Interpretador& m, Word target, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    m.writeWordAt(target, 0, static_cast<Word>(static_cast<UWord>(bits >> 32)));
    m.writeWordAt(target, 1, static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU)));
}

void writeText(Interpretador& m, FluxoArquivo& stream, std::string_view text) {
    stream.putText(text);
    noteStreamError(m, stream);
}

}  // namespace

void Interpretador::opFileReset() {  // FILE_RESET
    const bool typed = operand(1) != 0;
    openAndRegister(*this, popString(), typed ? "rb+t" : "r+t", 'r', typed);
    pc = wrapAdd(pc, 2);
}

void Interpretador::opFileRewrite() {  // FILE_REWRITE
    const bool typed = operand(1) != 0;
    openAndRegister(*this, popString(), typed ? "wb+t" : "w+t", 'w', typed);
    pc = wrapAdd(pc, 2);
}

void Interpretador::opFileRead() {  // FILE_READ
    const Word kind = operand(1);
    const bool skipRestOfLine = operand(2) != 0;
    ioErrorNumber = 0;
    const bool fileOnly = kind == kNothing && skipRestOfLine;
    const Word target = readWord(sp);
    const ArquivoAberto file = fileForReading(*this, fileOnly ? readWord(sp) : readWord(wrapSub(sp, 1)), 'r');
    FluxoArquivo& stream = *file.stream;
    bool deliveredPendingLineFeed = false;

    switch (kind) {
        case kInteger:
        case kByteOrLineEnd:
        case kShortInteger:
        case kWordValue: {
            Word value = 0;
            if (scanInteger(stream, value) != ScanResult::Converted) value = 0;
            writeWord(target, reduceInteger(value, kind));
            break;
        }
        case kCharacter: {
            int c;
            if (pendingLineFeed) {
                pendingLineFeed = false;
                deliveredPendingLineFeed = true;
                c = '\n';
            } else {
                c = stream.getChar();
                if (c == FluxoArquivo::kEnd) {
                    c = ' ';
                } else if (c == '\n') {
                    // A line end reads as carriage return, then line feed.
                    pendingLineFeed = true;
                    c = '\r';
                }
            }
            writeWord(target, static_cast<signed char>(c));
            break;
        }
        case kBoolean: {
            std::string word;
            scanWord(stream, word);
            if (word == "TRUE") {
                writeWord(target, 1);
            } else if (word == "FALSE") {
                writeWord(target, 0);
            } else {
                noteStreamError(*this, stream);
                raiseRuntimeError(latin1(" => Erro na leitura do valor booleano!"));
            }
            break;
        }
        case kReal: {
            double value = 0.0;
            if (scanReal(stream, value) != ScanResult::Converted) value = 0.0;
            storeRealAt(*this, target, value);
            break;
        }
        default:
            break;  // kind 9 (a readln without variables) and unknown kinds read nothing
    }

    if (skipRestOfLine) {
        // When the line end was already read as a character (delivered as
        // 13 now or earlier, its 10 pending or just delivered), the line is
        // over: skipping to the next line end would swallow a whole line
        // the program has not read.
        const bool lineEndRead = stream.justAfterLineFeed() && (pendingLineFeed || deliveredPendingLineFeed);
        if (lineEndRead)
            pendingLineFeed = false;
        else
            skipLine(stream);
    }
    noteStreamError(*this, stream);
    pc = wrapAdd(pc, 3);
    sp = wrapSub(sp, fileOnly ? 1 : 2);
}

void Interpretador::opFileReadStr() {  // FILE_READ_STR
    const Word max = operand(1);
    const bool skipRestOfLine = operand(2) != 0;
    ioErrorNumber = 0;
    const Word target = readWord(sp);
    const ArquivoAberto file = fileForReading(*this, readWord(wrapSub(sp, 1)), 'r');
    FluxoArquivo& stream = *file.stream;

    const Word limit = std::clamp<Word>(max, 0, kMaxStringLength);
    const std::string line = readLine(stream, static_cast<std::size_t>(limit));
    if (skipRestOfLine && (line.empty() || line.back() != '\n')) skipLine(stream);

    Word n = std::min(static_cast<Word>(line.size()), limit);
    const auto lineFeed = line.find('\n');
    if (lineFeed != std::string::npos && static_cast<Word>(lineFeed) < n) n = static_cast<Word>(lineFeed);
    for (Word i = 0; i < n; ++i) writeWordAt(target, i, static_cast<signed char>(line[static_cast<std::size_t>(i)]));
    if (n < max) writeWordAt(target, n, -1);

    noteStreamError(*this, stream);
    sp = wrapSub(sp, 2);
    pc = wrapAdd(pc, 3);
}

void Interpretador::opFileWrite() {  // FILE_WRITE
    const Word kind = operand(1);
    ioErrorNumber = 0;
    Word fileVariable;
    switch (kind) {
        case kInteger:
        case kCharacter:
        case kBoolean:
        case kPointer:
            fileVariable = readWord(wrapSub(sp, 1));
            break;
        case kReal:
            fileVariable = readWord(wrapSub(sp, 2));
            break;
        case kByteOrLineEnd:
            fileVariable = readWord(sp);
            break;
        default:
            pc = wrapAdd(pc, 2);  // other kinds write nothing and pop nothing
            return;
    }
    const ArquivoAberto file = fileForWriting(*this, fileVariable, 'w');
    FluxoArquivo& stream = *file.stream;
    switch (kind) {
        case kInteger:
            writeText(*this, stream, integerText(pop()));
            break;
        case kCharacter:
            if (FluxoArquivo* s = writeCharacterToFile(*this, file.path, &stream, static_cast<unsigned char>(pop())))
                noteStreamError(*this, *s);
            break;
        case kBoolean:
            writeText(*this, stream, booleanText(pop()));
            break;
        case kReal:
            writeText(*this, stream, realText(popReal()));
            break;
        case kByteOrLineEnd:
            writeText(*this, stream, "\n");  // a text stream stores CR LF
            break;
        default:
            writeText(*this, stream, pointerText(pop()));
            break;
    }
    pc = wrapAdd(pc, 2);
}

void Interpretador::opFileWriteStr() {  // FILE_WRITE_STR
    const std::string text = popString();
    ioErrorNumber = 0;
    const ArquivoAberto file = fileForWriting(*this, readWord(sp), 'w');
    FluxoArquivo* stream = file.stream;
    for (const char c : text) {
        stream = writeCharacterToFile(*this, file.path, stream, static_cast<unsigned char>(c));
        if (stream == nullptr) break;  // the file could not be reopened; the error is recorded
    }
    if (stream) noteStreamError(*this, *stream);
    pc = wrapAdd(pc, 1);
}

void Interpretador::opFileWriteW() {  // FILE_WRITE_W
    const Word width = pop();
    const Word kind = operand(1);
    ioErrorNumber = 0;
    const Word below = (kind == kReal || kind == kWordValue) ? 2 : 1;
    const ArquivoAberto file = fileForWriting(*this, readWord(wrapSub(sp, below)), 'w');
    FluxoArquivo& stream = *file.stream;
    switch (kind) {
        case kInteger:
            writeText(*this, stream, integerField(pop(), width));
            break;
        case kCharacter:
            writeText(*this, stream, characterField(pop(), width));
            break;
        case kBoolean:
            writeText(*this, stream, fieldText(booleanText(pop()), width));
            break;
        case kReal:
            writeText(*this, stream, realField(popReal(), width));
            break;
        default:
            break;  // other kinds write nothing
    }
    pc = wrapAdd(pc, 2);
}

void Interpretador::opFileWriteWd() {  // FILE_WRITE_WD
    const Word decimals = pop();
    const Word width = pop();
    const double value = popReal();
    ioErrorNumber = 0;
    const ArquivoAberto file = fileForWriting(*this, readWord(sp), 'w');
    writeText(*this, *file.stream, realField(value, width, decimals));
    pc = wrapAdd(pc, 1);
}

void Interpretador::opFileWriteStrW() {  // FILE_WRITE_STR_W
    const Word width = pop();
    const std::string text = popString();
    ioErrorNumber = 0;
    const ArquivoAberto file = fileForWriting(*this, readWord(sp), 'w');
    writeText(*this, *file.stream, fieldText(text, width));
    pc = wrapAdd(pc, 1);
}

}  // namespace lousa
