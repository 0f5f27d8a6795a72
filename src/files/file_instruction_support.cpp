#include "files/file_instruction_support.hpp"

#include <cerrno>
#include <sys/stat.h>

#include "files/file_devices.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace {

std::string notOpenMessage(std::string_view what) {
    return latin1(" => Tentativa de ") + std::string(what) + latin1(" em arquivo que não foi aberto com sucesso!");
}

ArquivoAberto lookUp(Interpretador& machine, Word fileVariable, char letter) {
    ArquivoAberto file;
    file.path = machine.fileNames.registeredPath(machine.readStringVar(fileVariable));
    file.stream = machine.openFiles.find(file.path, letter);
    return file;
}

}  // namespace

std::string readingMessage() { return notOpenMessage("leitura"); }
std::string writingMessage() { return notOpenMessage("escrita"); }

ArquivoAberto fileForReading(Interpretador& machine, Word fileVariable, char letter) {
    ArquivoAberto file = lookUp(machine, fileVariable, letter);
    if (file.stream == nullptr) machine.raiseRuntimeError(readingMessage());
    return file;
}

ArquivoAberto fileForWriting(Interpretador& machine, Word fileVariable, char letter) {
    ArquivoAberto file = lookUp(machine, fileVariable, letter);
    if (file.stream == nullptr) machine.raiseRuntimeError(writingMessage());
    return file;
}

void openAndRegister(Interpretador& machine, const std::string& name, std::string_view mode, char letter, bool typed) {
    const ResolvedName resolved = machine.fileNames.forOpening(name);
    if (resolved.refusal != 0) {
        machine.ioErrorNumber = resolved.refusal;
        return;
    }
    const std::string& path = resolved.path;
    struct stat st {};
    if (resolved.device == Dispositivo::None && letter == 'r' && stat(path.c_str(), &st) != 0) {
        machine.ioErrorNumber = errno;
        return;
    }
    if (machine.openFiles.find(path, 'a') != nullptr) {
        machine.ioErrorNumber = 0;
        return;
    }
    int error = 0;
    std::unique_ptr<FluxoArquivo> stream;
    switch (resolved.device) {
        case Dispositivo::None:
            stream = FluxoArquivo::open(path, mode, error);
            break;
        case Dispositivo::Console:
            stream = FluxoArquivo::openDevice(consoleDevice(machine.console), mode, error);
            break;
        case Dispositivo::Discard:
            stream = FluxoArquivo::openDevice(discardDevice(), mode, error);
            break;
    }
    machine.ioErrorNumber = error;
    if (stream) machine.openFiles.add(path, std::move(stream), letter, typed);
}

FluxoArquivo* writeCharacterToFile(Interpretador& machine, const std::string& path, FluxoArquivo* stream,
                                   unsigned char c) {
    if (c != '\n' || stream->isDevice()) {
        stream->putChar(c);
        return stream;
    }
    // A text stream would store CR LF: the line feed goes through a
    // byte-exact stream opened for appending, after the file's own stream
    // has written out what it holds.
    if (!stream->close()) noteStreamError(machine, *stream);
    int error = 0;
    if (auto bare = FluxoArquivo::open(path, "ab", error)) {
        bare->putChar('\n');
        if (!bare->close()) error = bare->takeError();
    }
    if (error != 0) machine.ioErrorNumber = error;
    int reopenError = 0;
    FluxoArquivo* reopened = machine.openFiles.reopenAppend(stream, reopenError);
    if (reopenError != 0) machine.ioErrorNumber = reopenError;
    return reopened;
}

}  // namespace lousa
