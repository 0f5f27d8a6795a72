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

#include <algorithm>
#include <cstdint>
#include <functional>
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
    struct Range {
        Word low;
        Word high;
    };

    explicit ListaConjuntos(MemoryAccount* account = nullptr) : account_(account) {}
    ~ListaConjuntos() { reset(); }
    ListaConjuntos(const ListaConjuntos&) = delete;
    ListaConjuntos& operator=(const ListaConjuntos&) = delete;

    // --- table part (these may throw MemoryCeilingReached)
    // Appends the list unchanged as a new entry and returns its id.
    Word add(const RangeList& list);
    // Stores the canonical form of the list under an id of the table.
    void replace(Word id, RangeList list) { replace(id, Words(list)); }
    void replace(Word id, Words list) {
        if (!holds(id)) return;
        // A canonical list that fits the entry's slice (the usual case) is
        // copied in; one that lies in the table's own buffer is not, as it
        // may be the slice itself.
        Entry& entry = entries_[static_cast<std::size_t>(id) - 1];
        if (list.size() <= entry.room && !inBuffer(list) && isCanonical(list)) {
            std::copy(list.begin(), list.end(), words_.begin() + static_cast<std::ptrdiff_t>(entry.first));
            entry.length = static_cast<UWord>(list.size());
            return;
        }
        replaceSlowly(entry, list);
    }
    // A copy of an entry; an id the table never handed out (a set variable
    // overwritten by other data, or read back from a file) reads as empty.
    [[nodiscard]] RangeList get(Word id) const;
    // The entry's words (valid until the table next changes), or nothing
    // for an id the table never handed out.
    [[nodiscard]] std::optional<Words> find(Word id) const {
        if (!holds(id)) return std::nullopt;
        const Entry& entry = entries_[static_cast<std::size_t>(id) - 1];
        return Words(words_.data() + entry.first, entry.length);
    }
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
    static bool equal(const RangeList& a, const RangeList& b);
    static bool isSubset(const RangeList& a, const RangeList& b);
    [[nodiscard]] static bool isCanonical(Words list) {
        if (list.size() % 2 != 0) return false;
        const Word* w = list.data();
        const std::size_t n = list.size();
        for (std::size_t i = 0; i < n; i += 2) {
            if (w[i] > w[i + 1]) return false;
            // Touching means high + 1 == low; 64 bits keep INT32_MAX + 1 exact.
            if (i > 0 && std::int64_t{w[i - 1]} + 1 >= w[i]) return false;
        }
        return true;
    }

    // The same on word spans, for the set instructions: the results are
    // built in buffers kept here (they live as long as the table and stop
    // growing once a program's largest sets have passed through), so the
    // instructions allocate nothing in their loops. A result is valid until
    // the next operation; operands may lie anywhere but in these buffers.
    class Workspace {
    public:
        Words normalize(Words list);
        Words unite(Words a, Words b);
        Words intersect(Words a, Words b);
        Words subtract(Words a, Words b);
        bool equal(Words a, Words b);
        bool isSubset(Words a, Words b);

        // Where the instructions copy an operand that does not lie in one
        // piece of word memory.
        RangeList left, right;

    private:
        // The list itself when it is canonical (stored sets and results
        // are), else its canonical form built in `into`.
        Words canonical(Words list, RangeList& into) {
            if (isCanonical(list)) [[likely]]
                return list;
            return normalized(list, into);
        }
        Words normalized(Words list, RangeList& into);
        Words combined(Words a, Words b, std::size_t (*op)(Words, Words, Word*));
        RangeList leftCanonical_, rightCanonical_, result_;
        std::vector<Range> sorting_;
    };
    Workspace work;

    // The canonical form of any list, written to `out`, which has room for
    // list.size() words; returns the words written. `sorting` is a buffer
    // for the pairs.
    static std::size_t normalizeTo(Words list, std::vector<Range>& sorting, Word* out);
    // On canonical lists, writing to `out`, which has room for
    // x.size() + y.size() words; each returns the words written.
    static std::size_t uniteTo(Words x, Words y, Word* out);
    static std::size_t intersectTo(Words x, Words y, Word* out);
    static std::size_t subtractTo(Words x, Words y, Word* out);

    // Words of the buffer, entries' slices and those left behind together.
    [[nodiscard]] std::size_t bufferWords() const { return words_.size(); }

private:
    struct Entry {
        std::size_t first = 0;  // where the entry's words start in words_
        UWord length = 0;
        UWord room = 0;  // words it may hold in place
    };
    [[nodiscard]] bool inBuffer(Words list) const {
        const std::less<const Word*> before;
        return !words_.empty() && !before(list.data(), words_.data()) &&
               before(list.data(), words_.data() + words_.size());
    }
    void replaceSlowly(Entry& entry, Words list);
    void store(Entry& entry, Words list);
    void pack();

    MemoryAccount* account_ = nullptr;
    std::vector<Entry> entries_;
    RangeList words_;
    std::size_t abandoned_ = 0;  // words of words_ no entry uses
    RangeList canonical_;        // where replace builds the canonical form
    std::vector<Range> sorting_;
};

}  // namespace lousa
