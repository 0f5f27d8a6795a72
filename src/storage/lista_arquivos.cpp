#include "storage/lista_arquivos.hpp"

namespace lousa {

// A path has at most one entry (add refuses a second), so the first entry
// for a path is the only one.
FluxoArquivo* ListaArquivos::find(const std::string& path, char letter) const {
    const auto it = byPath.find(path);
    if (it == byPath.end()) return nullptr;
    const ArquivoLista& file = *it->second;
    if ((letter == 'r' || letter == 'w') && file.mode != letter) return nullptr;
    return file.stream.get();
}

bool ListaArquivos::add(std::string path, std::unique_ptr<FluxoArquivo> stream, char mode, bool typed) {
    if (byPath.contains(path)) return false;  // `stream` closes as it goes out of scope
    const Entry entry = files.insert(files.end(), ArquivoLista{std::move(path), mode, typed, std::move(stream)});
    byPath.emplace(entry->path, entry);
    byStream.emplace(entry->stream.get(), entry);
    adopt(*entry->stream);
    return true;
}

void ListaArquivos::erase(Entry entry) {
    byPath.erase(entry->path);
    byStream.erase(entry->stream.get());
    files.erase(entry);
}

void ListaArquivos::remove(const std::string& path) {
    const auto it = byPath.find(path);
    if (it != byPath.end()) erase(it->second);
}

FluxoArquivo* ListaArquivos::reopenAppend(FluxoArquivo* stream, int& error) {
    error = 0;
    const auto it = byStream.find(stream);
    if (it == byStream.end() || stream == nullptr) return nullptr;
    const Entry entry = it->second;
    entry->stream->close();
    std::unique_ptr<FluxoArquivo> reopened = FluxoArquivo::open(entry->path, entry->typed ? "ab" : "a", error);
    if (!reopened) {
        erase(entry);
        return nullptr;
    }
    byStream.erase(it);
    entry->stream = std::move(reopened);
    byStream.emplace(entry->stream.get(), entry);
    adopt(*entry->stream);
    return entry->stream.get();
}

void ListaArquivos::adopt(FluxoArquivo& stream) {
    FluxoArquivo* self = &stream;
    stream.setBeforeWait([this, self] { flushEach(self); });
}

void ListaArquivos::flushEach(const FluxoArquivo* except) {
    if (flushing_) return;
    flushing_ = true;
    for (ArquivoLista& file : files) {
        if (file.stream && file.stream.get() != except) file.stream->flush();
    }
    flushing_ = false;
}

void ListaArquivos::closeAll() {
    for (ArquivoLista& file : files) {
        if (file.stream) file.stream->close();
    }
    byStream.clear();
    byPath.clear();
    files.clear();
}

}  // namespace lousa
