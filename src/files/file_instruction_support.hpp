#pragma once
// What the file instructions share: their messages, finding the stream of a
// file variable or a file name, and opening and registering a file.

#include <string>
#include <string_view>

#include "files/file_stream.hpp"
#include "vm/interpretador.hpp"

namespace lousa {

// " => Tentativa de leitura em arquivo que não foi aberto com sucesso!" and
// its "escrita" form, as Latin-1 bytes.
std::string readingMessage();
std::string writingMessage();

// A stream found for an instruction, with the resolved path it is registered under.
struct ArquivoAberto {
    FluxoArquivo* stream = nullptr;
    std::string path;
};

// The file named by the string in the file variable at `fileVariable`,
// looked up with the letter; raises the reading or writing message when the
// table has no such entry.
ArquivoAberto fileForReading(Interpretador& machine, Word fileVariable, char letter);
ArquivoAberto fileForWriting(Interpretador& machine, Word fileVariable, char letter);

// Ends a file instruction: a write that must go out at once does (see
// settleWrites), and a failure the stream met becomes the machine's I/O
// error number.
inline void noteStreamError(Interpretador& machine, FluxoArquivo& stream) {
    stream.settleWrites();
    if (const int error = stream.takeError()) machine.ioErrorNumber = error;
}

// Opens the file a program's name resolves to with the C mode and registers
// it with the mode letter ('r' opens only a file that exists); the I/O error
// number becomes 0 or the reason the open failed or was refused. A path that
// is already registered is left as it is, file and stream alike: opening it
// again would empty the file under the stream that is still writing it.
void openAndRegister(Interpretador& machine, const std::string& name, std::string_view mode, char letter, bool typed);

// Writes one character to a text file's stream by the line-feed rule: the
// character 10 goes to the disk as a bare line feed, after which the file's
// stream appends at its end. Returns the stream to use for the next
// character (nullptr when the file could not be reopened).
FluxoArquivo* writeCharacterToFile(Interpretador& machine, const std::string& path, FluxoArquivo* stream,
                                   unsigned char c);

}  // namespace lousa
