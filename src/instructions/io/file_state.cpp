// File state: opening for appending, closing, and the end-of-file,
// end-of-line, position and size questions. Each instruction pops the file
// name as a string and finds the file with the look-up letter "a".

#include <algorithm>
#include <cstdint>
#include <limits>

#include "files/file_instruction_support.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace {

// A count of records as a word; files beyond 2^31 records saturate.
Word recordCount(std::int64_t bytes, Word recordSize) {
    // A record size of 0 or less counts in bytes.
    const std::int64_t records = bytes < 0 ? 0 : bytes / (recordSize > 0 ? recordSize : 1);
    return static_cast<Word>(std::min<std::int64_t>(records, std::numeric_limits<Word>::max()));
}

}  // namespace

void Interpretador::opFileAppend() {  // FILE_APPEND
    const bool typed = operand(1) != 0;
    openAndRegister(*this, popString(), typed ? "ab" : "a", 'w', typed);
    pc = wrapAdd(pc, 2);
}

void Interpretador::opFileClose() {  // FILE_CLOSE
    const std::string name = popString();
    const std::string path = fileNames.registeredPath(name);
    ioErrorNumber = 0;
    if (FluxoArquivo* stream = openFiles.find(path, 'a')) {
        // A failure to write out the last bytes is the program's to see.
        if (!stream->close()) noteStreamError(*this, *stream);
        openFiles.remove(path);
        fileNames.forget(name);
    }
    pc = wrapAdd(pc, 1);
}

namespace {

// FILE_EOF and FILE_EOLN look one character ahead of the named file and put
// it back: kEnd at the end of the file (that read is not undone).
int peekNamedFile(Interpretador& m) {
    const std::string path = m.fileNames.registeredPath(m.popString());
    FluxoArquivo* stream = m.openFiles.find(path, 'a');
    if (stream == nullptr) m.raiseRuntimeError(latin1(" => Arquivo fechado no comando EOF!"));
    // Bytes still buffered go out first: a failure to write them is the
    // program's to see; a failure of the look-ahead itself is not.
    const int writeError = stream->flush() ? 0 : stream->takeError();
    const int c = stream->getChar();
    stream->takeError();
    m.ioErrorNumber = writeError;
    if (c != FluxoArquivo::kEnd) stream->ungetChar();
    return c;
}

}  // namespace

void Interpretador::opFileEof() {  // FILE_EOF
    push(peekNamedFile(*this) == FluxoArquivo::kEnd ? 1 : 0);
    pc = wrapAdd(pc, 1);
}

void Interpretador::opFileEoln() {  // FILE_EOLN
    const int c = peekNamedFile(*this);
    push(c == FluxoArquivo::kEnd || c == '\n' ? 1 : 0);
    pc = wrapAdd(pc, 1);
}

void Interpretador::opFilePos() {  // FILE_POS
    const Word recordSize = operand(1);
    const std::string path = fileNames.registeredPath(popString());
    FluxoArquivo* stream = openFiles.find(path, 'a');
    if (stream == nullptr) raiseRuntimeError(readingMessage());
    push(recordCount(stream->position(), recordSize));
    pc = wrapAdd(pc, 2);
}

void Interpretador::opFileSize() {  // FILE_SIZE
    const Word recordSize = operand(1);
    const std::string path = fileNames.registeredPath(popString());
    FluxoArquivo* stream = openFiles.find(path, 'a');
    if (stream == nullptr) raiseRuntimeError(readingMessage());
    const std::int64_t bytes = stream->size();
    noteStreamError(*this, *stream);
    push(recordCount(bytes, recordSize));
    pc = wrapAdd(pc, 2);
}

}  // namespace lousa
