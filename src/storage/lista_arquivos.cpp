#include "storage/lista_arquivos.hpp"

#include <algorithm>

namespace lousa {

FluxoArquivo* ListaArquivos::find(const std::string& path, char letter) const {
    for (const auto& file : files) {
        if (file->path != path) continue;
        if ((letter == 'r' || letter == 'w') && file->mode != letter) continue;
        return file->stream.get();
    }
    return nullptr;
}

bool ListaArquivos::add(std::string path, std::unique_ptr<FluxoArquivo> stream, char mode, bool typed) {
    if (find(path, 'a') != nullptr) return false;  // `stream` closes as it goes out of scope
    auto file = std::make_unique<ArquivoLista>();
    file->path = std::move(path);
    file->mode = mode;
    file->typed = typed;
    file->stream = std::move(stream);
    adopt(*file->stream);
    files.push_back(std::move(file));
    return true;
}

void ListaArquivos::remove(const std::string& path) {
    const auto it = std::find_if(files.begin(), files.end(), [&](const auto& file) { return file->path == path; });
    if (it != files.end()) files.erase(it);
}

FluxoArquivo* ListaArquivos::reopenAppend(FluxoArquivo* stream, int& error) {
    error = 0;
    const auto it =
        std::find_if(files.begin(), files.end(), [&](const auto& file) { return file->stream.get() == stream; });
    if (it == files.end() || stream == nullptr) return nullptr;
    ArquivoLista& file = **it;
    file.stream->close();
    std::unique_ptr<FluxoArquivo> reopened = FluxoArquivo::open(file.path, file.typed ? "ab" : "a", error);
    if (!reopened) {
        files.erase(it);
        return nullptr;
    }
    file.stream = std::move(reopened);
    adopt(*file.stream);
    return file.stream.get();
}

void ListaArquivos::adopt(FluxoArquivo& stream) {
    FluxoArquivo* self = &stream;
    stream.setBeforeWait([this, self] { flushEach(self); });
}

void ListaArquivos::flushEach(const FluxoArquivo* except) {
    if (flushing_) return;
    flushing_ = true;
    for (auto& file : files) {
        if (file->stream && file->stream.get() != except) file->stream->flush();
    }
    flushing_ = false;
}

void ListaArquivos::closeAll() {
    for (auto& file : files) {
        if (file->stream) file->stream->close();
    }
    files.clear();
}

}  // namespace lousa
