#pragma once
// The translation tier's code: original instructions translated, a region at
// a time when first reached, into internal instructions with their operands
// resolved (internal_code.def), a side table from each internal instruction
// back to the original address it stands for, and the map from original
// addresses to the internal instructions that start there.
//
// Translations read the code as it stood when they were made; the machine's
// memory watches the words below the code size and the loop throws every
// translation away when one of the words they read has changed.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "vm/word.hpp"

namespace lousa {
class WordMemory;
}

namespace lousa::engine {

enum class Iop : std::uint16_t {
#define IOP(name, weight, operands, meaning) name,
#include "engine/internal_code.def"
#undef IOP
};

inline constexpr std::size_t kIopCount = 0
#define IOP(name, weight, operands, meaning) +1
#include "engine/internal_code.def"
#undef IOP
    ;

struct IopInfo {
    std::string_view name;
    std::uint16_t weight;
    std::string_view meaning;
};

inline constexpr IopInfo kIopTable[kIopCount] = {
#define IOP(name, weight, operands, meaning) {#name, weight, meaning},
#include "engine/internal_code.def"
#undef IOP
};

// The most local words an ENTER, or parameter words a return, may span for
// the tier to run it itself; larger counts run as the original instruction.
inline constexpr Word kFrameWords = 4096;

struct Insn {
    const void* handler = nullptr;  // the loop's label for op, filled by the loop
    Word a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
    Word target = 0;                // original jump target (t)
    std::int32_t link = -1;         // index of target's translation, once known
    Iop op = Iop::Generic;
    std::uint8_t weight = 1;
    // The LINE before the form, folded into it: the instruction stands for
    // LINE line first (its weight counts it, its original address is the LINE's).
    bool lined = false;
    Word line = 0;
};
static_assert(sizeof(Insn) <= 48, "an internal instruction fits in 48 bytes");

// A table of n zeroed values whose pages the system maps only once they
// are written: a program's code may be megabytes long, and a run touches
// the entries of the little of it that runs.
template <class T>
class ZeroedTable {
public:
    explicit ZeroedTable(std::size_t n) : size_(n), values_(static_cast<T*>(std::calloc(n == 0 ? 1 : n, sizeof(T)))) {
        if (values_ == nullptr) throw std::bad_alloc();
    }
    ZeroedTable(const ZeroedTable&) = delete;
    ZeroedTable& operator=(const ZeroedTable&) = delete;
    ~ZeroedTable() { std::free(values_); }

    T& operator[](std::size_t i) { return values_[i]; }
    const T& operator[](std::size_t i) const { return values_[i]; }
    [[nodiscard]] T* data() { return values_; }
    [[nodiscard]] std::size_t bytes() const { return size_ * sizeof(T); }
    void clear() { std::memset(values_, 0, bytes()); }

private:
    std::size_t size_;
    T* values_;
};

class Translation {
public:
    explicit Translation(Word codeSize);

    // Index of the internal instruction for original address pc, translating
    // the region that starts there when there is none yet. Addresses
    // outside the code map to an instruction that runs the reference step.
    std::int32_t entryFor(const WordMemory& memory, Word pc);
    [[nodiscard]] std::int32_t existingEntry(Word pc) const {
        return static_cast<UWord>(pc) < static_cast<UWord>(codeSize_) ? entries_[static_cast<UWord>(pc)] - 1 : -1;
    }

    // Discards every translation when any word in [low, high] was read by one.
    // Returns true when it did.
    bool invalidate(UWord low, UWord high);

    [[nodiscard]] Insn* code() { return code_.data(); }
    [[nodiscard]] const std::vector<Insn>& instructions() const { return code_; }
    [[nodiscard]] Word originOf(std::size_t index) const { return origin_[index]; }
    // A routine name kept by a SCOPE_ENTER form (its operands a and b),
    // followed by PilhaEscopo::kNamePadding bytes that may be read.
    [[nodiscard]] std::string_view name(Word offset, Word length) const {
        return std::string_view(names_.data() + offset, static_cast<std::size_t>(length));
    }
    // Instructions made since the loop last linked handlers.
    [[nodiscard]] std::size_t linkedCount() const { return linked_; }
    void markLinked() { linked_ = code_.size(); }

    // Bytes held by translations, side table, entry map and coverage map.
    [[nodiscard]] std::size_t bytesHeld() const;
    [[nodiscard]] std::uint64_t flushes() const { return flushes_; }

private:
    void reset();
    std::int32_t translateRegion(const WordMemory& memory, Word start);
    std::int32_t emit(Iop op, Word origin, Word a = 0, Word b = 0, Word c = 0, Word target = 0, Word d = 0, Word e = 0,
                      Word f = 0);
    // Whether a LINE may be folded into an instruction of this kind: not into
    // one that runs an original handler at its own address, or whose common
    // case writes the registers back with pc at one of its instructions.
    static bool takesLine(Iop op);

    Word codeSize_;
    std::vector<Insn> code_;
    std::vector<Word> origin_;         // side table: original address of each instruction
    ZeroedTable<std::int32_t> entries_;  // per code word: 1 + the instruction starting there, or 0
    std::vector<UWord> entered_;       // code words with an entry, to clear them on a flush
    ZeroedTable<std::uint8_t> covered_;  // per code word: read by some translation
    std::string names_;                // routine names of the SCOPE_ENTER forms, each padded
    std::size_t linked_ = 0;
    std::uint64_t flushes_ = 0;
};

}  // namespace lousa::engine
