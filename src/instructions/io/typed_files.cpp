// Typed files: one field of a component per instruction, in the packed
// layout on disk (integers little-endian, reals as 6-byte reals, strings as
// a length byte and the declared number of characters), and positioning at
// a record.

#include <algorithm>
#include <bit>
#include <cstdint>

#include "files/file_instruction_support.hpp"
#include "files/real6.hpp"
#include "vm/interpretador.hpp"

namespace lousa {

namespace {

// Size codes of TYPED_READ and TYPED_WRITE.
constexpr Word kByte = 1;
constexpr Word kTwoBytes = 2;
constexpr Word kByteReadOnly = 3;
constexpr Word kFourBytes = 4;
constexpr Word kReal6 = 6;

// The length byte of a string field cannot count more characters than this.
constexpr Word kMaxFieldLength = 255;

// What a one-byte field reads at the end of the file: the digit zero.
constexpr int kByteAtEnd = '0';

// Little-endian value of `count` bytes; a byte past the end of the file counts as 0.
Word readLittleEndian(FluxoArquivo& stream, int count) {
    UWord value = 0;
    for (int i = 0; i < count; ++i) {
        const int b = stream.getChar();
        if (b != FluxoArquivo::kEnd) value |= static_cast<UWord>(b) << (8 * i);
    }
    return static_cast<Word>(value);
}

void writeLittleEndian(FluxoArquivo& stream, Word value, int count) {
    const auto u = static_cast<UWord>(value);
    for (int i = 0; i < count; ++i) stream.putChar(static_cast<unsigned char>(u >> (8 * i)));
}

}  // namespace

void Interpretador::opTypedRead() {  // TYPED_READ
    const Word offset = operand(1);
    const Word sizeCode = operand(2);
    ioErrorNumber = 0;
    const Word target = readWord(sp);
    FluxoArquivo& stream = *fileForReading(*this, readWord(wrapSub(sp, 1)), 'a').stream;
    switch (sizeCode) {
        case kByte:
        case kByteReadOnly: {
            const int b = stream.getChar();
            writeWordAt(target, offset, b == FluxoArquivo::kEnd ? kByteAtEnd : b);
            break;
        }
        case kTwoBytes:
            writeWordAt(target, offset, readLittleEndian(stream, 2));
            break;
        case kFourBytes:
            writeWordAt(target, offset, readLittleEndian(stream, 4));
            break;
        case kReal6: {
            // Bytes missing at the end of the file count as 0 (a missing
            // exponent byte makes the value 0.0).
            Real6 bytes{};
            for (auto& byte : bytes) {
                const int b = stream.getChar();
                if (b == FluxoArquivo::kEnd) break;
                byte = static_cast<std::uint8_t>(b);
            }
            const auto bits = std::bit_cast<std::uint64_t>(real6ToDouble(bytes));
            writeWordAt(target, offset, static_cast<Word>(static_cast<UWord>(bits >> 32)));
            writeWordAt(target, wrapAdd(offset, 1), static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU)));
            break;
        }
        default:
            break;
    }
    noteStreamError(*this, stream);
    pc = wrapAdd(pc, 3);
}

void Interpretador::opTypedReadStr() {  // TYPED_READ_STR
    const Word offset = operand(1);
    const Word declared = std::clamp<Word>(operand(2), 0, kMaxFieldLength);
    ioErrorNumber = 0;
    const Word target = readWord(sp);
    FluxoArquivo& stream = *fileForReading(*this, readWord(wrapSub(sp, 1)), 'a').stream;
    const int lengthByte = stream.getChar();
    const Word length = lengthByte == FluxoArquivo::kEnd ? 0 : lengthByte;
    int c = kByteAtEnd;  // a byte past the end repeats the last one read
    for (Word i = 0; i < declared; ++i) {
        const int b = stream.getChar();
        if (b != FluxoArquivo::kEnd) c = b;
        writeWordAt(target, wrapAdd(offset, i), static_cast<signed char>(c));
    }
    if (length < declared) writeWordAt(target, wrapAdd(offset, length), -1);
    noteStreamError(*this, stream);
    pc = wrapAdd(pc, 3);
}

void Interpretador::opTypedWrite() {  // TYPED_WRITE
    const Word count = operand(1);
    const Word offset = operand(2);
    const Word sizeCode = operand(3);
    ioErrorNumber = 0;
    FluxoArquivo& stream = *fileForWriting(*this, readWord(wrapSub(sp, count)), 'a').stream;
    const Word field = wrapAdd(wrapAdd(wrapSub(sp, count), 1), offset);
    switch (sizeCode) {
        case kByte:
            writeLittleEndian(stream, readWord(field), 1);
            break;
        case kTwoBytes:
            writeLittleEndian(stream, readWord(field), 2);
            break;
        case kFourBytes:
            writeLittleEndian(stream, readWord(field), 4);
            break;
        case kReal6:
            for (const std::uint8_t b : doubleToReal6(realFromWords(readWord(field), readWord(wrapAdd(field, 1)))))
                stream.putChar(b);
            break;
        default:
            break;  // size code 3 and unknown codes write nothing
    }
    noteStreamError(*this, stream);
    pc = wrapAdd(pc, 4);
}

void Interpretador::opTypedWriteStr() {  // TYPED_WRITE_STR
    const Word count = operand(1);
    const Word offset = operand(2);
    const Word declared = std::clamp<Word>(operand(3), 0, kMaxFieldLength);
    ioErrorNumber = 0;
    FluxoArquivo& stream = *fileForWriting(*this, readWord(wrapSub(sp, count)), 'a').stream;
    const Word field = wrapAdd(wrapAdd(wrapSub(sp, count), 1), offset);
    std::string text;
    for (Word i = 0; i < declared; ++i) {
        const Word w = readWord(wrapAdd(field, i));
        if (w == -1) break;
        text.push_back(static_cast<char>(w & 0xFF));
    }
    stream.putChar(static_cast<unsigned char>(text.size()));
    for (Word i = 0; i < declared; ++i) {
        const auto at = static_cast<std::size_t>(i);
        stream.putChar(at < text.size() ? static_cast<unsigned char>(text[at]) : 0);
    }
    noteStreamError(*this, stream);
    pc = wrapAdd(pc, 4);
}

void Interpretador::opFileSeek() {  // FILE_SEEK
    const Word recordSize = operand(1);
    const Word record = pop();
    const std::string path = fileNames.registeredPath(popString());
    FluxoArquivo* stream = openFiles.find(path, 'a');
    if (stream == nullptr) raiseRuntimeError(readingMessage());
    // A negative position fails (EINVAL) and leaves the stream where it was.
    if (!stream->seek(std::int64_t{record} * recordSize)) noteStreamError(*this, *stream);
    pc = wrapAdd(pc, 2);
}

}  // namespace lousa
