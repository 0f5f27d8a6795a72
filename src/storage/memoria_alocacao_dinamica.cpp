#include "storage/memoria_alocacao_dinamica.hpp"

namespace lousa {

Word MemoriaAlocacaoDinamica::allocate(Word n) {
    if (n < 0) n = 0;
    BlocoMemoria block;
    block.first = nextIndex_;
    block.last = static_cast<Word>(std::int64_t{nextIndex_} + n - 1);
    block.words.assign(static_cast<std::size_t>(n), 0);
    nextIndex_ = block.last + 1;
    const Word pointer = -block.first;
    blocks_.emplace(block.first, std::move(block));
    return pointer;
}

void MemoriaAlocacaoDinamica::release(Word pointer) {
    const std::int64_t first = -std::int64_t{pointer};
    const auto it = blocks_.find(static_cast<Word>(first));
    if (first < 2 || first > INT32_MAX || it == blocks_.end()) return;
    blocks_.erase(it);
}

const MemoriaAlocacaoDinamica::BlocoMemoria* MemoriaAlocacaoDinamica::blockAt(Word index) const {
    auto it = blocks_.upper_bound(index);
    while (it != blocks_.begin()) {
        --it;
        if (it->second.last >= index) return &it->second;
        if (it->second.words.empty()) continue;  // empty blocks share their first index
        return nullptr;
    }
    return nullptr;
}

MemoriaAlocacaoDinamica::BlocoMemoria* MemoriaAlocacaoDinamica::blockAt(Word index) {
    return const_cast<BlocoMemoria*>(static_cast<const MemoriaAlocacaoDinamica*>(this)->blockAt(index));
}

Word MemoriaAlocacaoDinamica::read(Word address) const {
    const std::int64_t index = -std::int64_t{address};
    if (index < 2 || index > INT32_MAX) return 0;
    const BlocoMemoria* block = blockAt(static_cast<Word>(index));
    return block ? block->words[static_cast<std::size_t>(index - block->first)] : 0;
}

void MemoriaAlocacaoDinamica::write(Word address, Word value) {
    const std::int64_t index = -std::int64_t{address};
    if (index < 2 || index > INT32_MAX) return;
    BlocoMemoria* block = blockAt(static_cast<Word>(index));
    if (block) block->words[static_cast<std::size_t>(index - block->first)] = value;
}

void MemoriaAlocacaoDinamica::clear() {
    blocks_.clear();
    nextIndex_ = 2;
}

}  // namespace lousa
