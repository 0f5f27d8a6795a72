#pragma once
// The table of set values and the set algebra. A set value is a range list:
// pairs (low, high) standing for every integer between them. A set variable
// holds an id into the table (1-based); id 0 is the empty set with no entry.

#include <vector>

#include "vm/word.hpp"

namespace lousa {

class ListaConjuntos {
public:
    using RangeList = std::vector<Word>;

    // --- table part
    // Appends the list unchanged as a new entry and returns its id.
    Word add(RangeList list);
    // Stores the canonical form of the list under an id of the table.
    void replace(Word id, RangeList list);
    // A copy of an entry; an id the table never handed out (a set variable
    // overwritten by other data, or read back from a file) reads as empty.
    [[nodiscard]] RangeList get(Word id) const;
    // The entry itself, or null for an id the table never handed out.
    [[nodiscard]] const RangeList* find(Word id) const;
    [[nodiscard]] bool holds(Word id) const { return id >= 1 && static_cast<UWord>(id) <= entries_.size(); }
    void reset() { entries_.clear(); }
    [[nodiscard]] std::size_t size() const { return entries_.size(); }

    // --- algebra: every list result is canonical (pairs with low <= high,
    // sorted by low, neither overlapping nor touching). Operands may be in
    // any form.
    static RangeList normalize(RangeList list);
    static RangeList subtractRange(Word low1, Word high1, Word low2, Word high2);
    static RangeList unite(const RangeList& a, const RangeList& b);
    static RangeList intersect(const RangeList& a, const RangeList& b);
    static RangeList subtract(const RangeList& a, const RangeList& b);
    static bool equal(const RangeList& a, const RangeList& b);
    static bool isSubset(const RangeList& a, const RangeList& b);

private:
    std::vector<RangeList> entries_;
};

}  // namespace lousa
