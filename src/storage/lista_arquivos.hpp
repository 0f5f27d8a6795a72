#pragma once
// The table of the program's open files: each path the program has opened
// and not yet closed, with its stream, the way it was opened ("r" by reset,
// "w" by rewrite or append) and whether it is a typed file. Paths compare
// byte for byte. The table raises nothing and prints nothing; the
// instructions decide what a missing entry means.
//
// The table owns the streams: removing an entry, refusing one, or
// destroying the table closes them, so everything a program wrote reaches
// the disk however the run ends.
//
// Entries are kept in the order they were added (the order closeAll closes
// them in) and indexed by path and by stream, so that every look-up takes
// constant time however many files are open.

#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "files/file_stream.hpp"

namespace lousa {

class ListaArquivos {
public:
    struct ArquivoLista {
        std::string path;
        char mode = 'r';  // 'r' or 'w'
        bool typed = false;
        std::unique_ptr<FluxoArquivo> stream;
    };

    ListaArquivos() = default;
    ~ListaArquivos() { closeAll(); }
    ListaArquivos(const ListaArquivos&) = delete;
    ListaArquivos& operator=(const ListaArquivos&) = delete;

    // The stream of the first entry for path whose mode the letter accepts:
    // 'r' only mode 'r', 'w' only mode 'w', any other letter either.
    [[nodiscard]] FluxoArquivo* find(const std::string& path, char letter) const;
    // Registers a stream. A path already registered (in any mode) keeps its
    // entry: the new stream is closed and false returned.
    bool add(std::string path, std::unique_ptr<FluxoArquivo> stream, char mode, bool typed);
    // Removes the first entry for path, closing its stream if still open.
    void remove(const std::string& path);
    // Opens the path of the entry that holds `stream` anew for appending
    // ("ab" for a typed entry, "a" for a text one) and puts the new stream in
    // the entry in place of the old one, which is closed. Returns the new
    // stream; nullptr when no entry holds `stream`, or when the reopening
    // fails (`error` set), in which case the entry is removed, so that the
    // program's next write reports a file that is not open.
    FluxoArquivo* reopenAppend(FluxoArquivo* stream, int& error);

    // Flushes and closes every stream and empties the table.
    void closeAll();
    // Writes out what every stream but `except` holds buffered (before the
    // run waits: see FluxoArquivo::setBeforeWait). A failure stays with its
    // stream, for the program's next operation on that file.
    void flushEach(const FluxoArquivo* except = nullptr);
    // Writes out what every open stream holds buffered. Async-signal-safe,
    // for the signal-stop path; the streams stay open.
    static void flushAll() noexcept { flushAllFileStreams(); }

    [[nodiscard]] std::size_t size() const { return files.size(); }

private:
    using Entry = std::list<ArquivoLista>::iterator;
    void erase(Entry entry);
    // Gives a stream of the table its wait hook.
    void adopt(FluxoArquivo& stream);

    std::list<ArquivoLista> files;
    std::unordered_map<std::string, Entry> byPath;
    std::unordered_map<const FluxoArquivo*, Entry> byStream;
    bool flushing_ = false;  // a flush that waits must not start another
};

}  // namespace lousa
