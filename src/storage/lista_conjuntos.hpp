#pragma once
// The table of set values and the set algebra. A set value is a range list:
// pairs (low, high) standing for every integer between them. A set variable
// holds an id into the table (1-based); id 0 is the empty set with no entry.
//
// The entries' words live in one buffer, each entry holding a slice of it
// (where it starts, how many words it has, how many it may grow to in place),
// so the table allocates nothing per entry: a program that creates millions
// of set values costs a few words each, is charged to the run's memory
// account, and its table is freed at once. An entry that outgrows its slice
// moves to the end of the buffer; the buffer is packed again once more than
// half of it is left behind by such moves.

#include <optional>
#include <span>
#include <vector>

#include "storage/memory_account.hpp"
#include "vm/word.hpp"

namespace lousa {

class ListaConjuntos {
public:
    using RangeList = std::vector<Word>;
    using Words = std::span<const Word>;

    explicit ListaConjuntos(MemoryAccount* account = nullptr) : account_(account) {}
    ~ListaConjuntos() { reset(); }
    ListaConjuntos(const ListaConjuntos&) = delete;
    ListaConjuntos& operator=(const ListaConjuntos&) = delete;

    // --- table part (these may throw MemoryCeilingReached)
    // Appends the list unchanged as a new entry and returns its id.
    Word add(const RangeList& list);
    // Stores the canonical form of the list under an id of the table.
    void replace(Word id, RangeList list) { replace(id, Words(list)); }
    void replace(Word id, Words list);
    // A copy of an entry; an id the table never handed out (a set variable
    // overwritten by other data, or read back from a file) reads as empty.
    [[nodiscard]] RangeList get(Word id) const;
    // The entry's words (valid until the table next changes), or nothing
    // for an id the table never handed out.
    [[nodiscard]] std::optional<Words> find(Word id) const;
    [[nodiscard]] bool holds(Word id) const { return id >= 1 && static_cast<UWord>(id) <= entries_.size(); }
    void reset();
    [[nodiscard]] std::size_t size() const { return entries_.size(); }

    // --- algebra: every list result is canonical (pairs with low <= high,
    // sorted by low, neither overlapping nor touching). Operands may be in
    // any form; an odd last word is no pair.
    static RangeList normalize(RangeList list);
    static RangeList subtractRange(Word low1, Word high1, Word low2, Word high2);
    static RangeList unite(const RangeList& a, const RangeList& b);
    static RangeList intersect(const RangeList& a, const RangeList& b);
    static RangeList subtract(const RangeList& a, const RangeList& b);
    static bool equal(const RangeList& a, const RangeList& b) { return equal(Words(a), Words(b)); }
    static bool isSubset(const RangeList& a, const RangeList& b) { return isSubset(Words(a), Words(b)); }

    // The same on word spans, writing into a caller's list so that its
    // storage is reused: the set instructions run in loops and allocate
    // nothing once their buffers have grown. `out` must not alias an operand.
    static void normalizeInto(Words list, RangeList& out);
    static void uniteInto(Words a, Words b, RangeList& out);
    static void intersectInto(Words a, Words b, RangeList& out);
    static void subtractInto(Words a, Words b, RangeList& out);
    static bool equal(Words a, Words b);
    static bool isSubset(Words a, Words b);
    [[nodiscard]] static bool isCanonical(Words list);

    // Buffers the set instructions read their operands into and build their
    // results in; kept here so that they live as long as the table.
    struct Workspace {
        RangeList left, right, result;
    };
    Workspace work;

    // Words of the buffer, entries' slices and those left behind together.
    [[nodiscard]] std::size_t bufferWords() const { return words_.size(); }

private:
    struct Entry {
        std::size_t first = 0;  // where the entry's words start in words_
        UWord length = 0;
        UWord room = 0;  // words it may hold in place
    };
    void store(Entry& entry, Words list);
    void pack();

    MemoryAccount* account_ = nullptr;
    std::vector<Entry> entries_;
    RangeList words_;
    std::size_t abandoned_ = 0;  // words of words_ no entry uses
    RangeList canonical_;        // where replace builds the canonical form
};

}  // namespace lousa
