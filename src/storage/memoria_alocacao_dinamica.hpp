#pragma once
// The heap of dynamic variables, addressed by negative words: word i of the
// block whose pointer is p lives at p - i. Blocks are handed out by a bump
// allocator from index 2 and never reused.

#include <map>
#include <vector>

#include "vm/word.hpp"

namespace lousa {

class MemoriaAlocacaoDinamica {
public:
    struct BlocoMemoria {
        Word first = 0;
        Word last = -1;
        std::vector<Word> words;
    };

    MemoriaAlocacaoDinamica() = default;
    ~MemoriaAlocacaoDinamica() { clear(); }
    MemoriaAlocacaoDinamica(const MemoriaAlocacaoDinamica&) = delete;
    MemoriaAlocacaoDinamica& operator=(const MemoriaAlocacaoDinamica&) = delete;

    Word allocate(Word n);
    void release(Word pointer);
    [[nodiscard]] Word read(Word address) const;
    void write(Word address, Word value);

    void clear();
    [[nodiscard]] std::size_t liveBlocks() const { return blocks_.size(); }
    [[nodiscard]] Word nextIndex() const { return nextIndex_; }

private:
    BlocoMemoria* blockAt(Word index);
    [[nodiscard]] const BlocoMemoria* blockAt(Word index) const;

    // Live blocks keyed by first index, so each access is one ordered lookup.
    std::multimap<Word, BlocoMemoria> blocks_;
    Word nextIndex_ = 2;
};

}  // namespace lousa
