#pragma once
// The table of set values and the set algebra. A set value is a range list:
// pairs (low, high) standing for every integer between them.

#include <vector>

#include "vm/word.hpp"

namespace lousa {

class ListaConjuntos {
public:
    using RangeList = std::vector<Word>;

    // Table part: set variables hold an id, 1-based; 0 is the empty set without an entry.
    Word add(RangeList list);
    void replace(Word id, RangeList list);
    [[nodiscard]] RangeList get(Word id) const;
    void reset() { entries_.clear(); }
    [[nodiscard]] std::size_t size() const { return entries_.size(); }

    // Algebra: every result is canonical (sorted, disjoint, non-touching pairs).
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
