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
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "storage/memory_account.hpp"
#include "vm/word.hpp"

namespace lousa {

// Copies n words between places that do not overlap. Set values are a few
// words long: up to 16 of them take two overlapping groups of loads and
// stores (both loaded before either is stored) instead of a call.
[[gnu::always_inline]] inline void copyWordsApart(Word* to, const Word* from, std::size_t n) {
    struct Four {
        std::uint64_t a, b;
    };
    const auto load = [](const Word* at) {
        Four group;
        std::memcpy(&group, at, sizeof group);
        return group;
    };
    const auto store = [](Word* at, const Four& group) { std::memcpy(at, &group, sizeof group); };
    if (n < 4) {
        if (n >= 2) {
            std::uint64_t head;
            std::uint64_t tail;
            std::memcpy(&head, from, sizeof head);
            std::memcpy(&tail, from + n - 2, sizeof tail);
            std::memcpy(to, &head, sizeof head);
            std::memcpy(to + n - 2, &tail, sizeof tail);
        } else if (n == 1) {
            to[0] = from[0];
        }
    } else if (n <= 8) {
        const Four head = load(from);
        const Four tail = load(from + n - 4);
        store(to, head);
        store(to + n - 4, tail);
    } else if (n <= 16) {
        const Four head0 = load(from);
        const Four head1 = load(from + 4);
        const Four tail0 = load(from + n - 8);
        const Four tail1 = load(from + n - 4);
        store(to, head0);
        store(to + 4, head1);
        store(to + n - 8, tail0);
        store(to + n - 4, tail1);
    } else {
        std::memcpy(to, from, n * sizeof(Word));
    }
}

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
        if (!holds(id) || replaceInPlace(id, list)) return;
        replaceSlowly(entries_[static_cast<std::size_t>(id) - 1], list);
    }
    // The usual case of replace: a canonical list that fits the entry's
    // slice is copied in, and true returned. Otherwise the answer is false
    // and the value must still be stored by replace: the entry's slice may
    // hold part of the list by then, but its length and every other entry
    // are unchanged. A list in the table's own buffer is never copied here,
    // as it may be the slice itself.
    bool replaceInPlace(Word id, Words list) {
        if (!holds(id)) return false;
        Entry& entry = entries_[static_cast<std::size_t>(id) - 1];
        if (list.size() > entry.room || list.size() % 2 != 0 || inBuffer(list)) return false;
        // Copied while checked: a list that proves not canonical leaves a
        // slice that replaceSlowly overwrites with its canonical form, which
        // is no longer than the list and so stays in the slice.
        Word* to = words_.data() + entry.first;
        const Word* from = list.data();
        const Word* const end = from + list.size();
        std::int64_t lastHigh = INT64_MIN + 1;  // the first pair meets nothing
        for (; from != end; from += 2, to += 2) {
            const Word low = from[0];
            const Word high = from[1];
            if ((lastHigh + 1 >= low) | (low > high)) return false;
            to[0] = low;
            to[1] = high;
            lastHigh = high;
        }
        entry.length = static_cast<UWord>(list.size());
        return true;
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
        const Word* p = list.data();
        const Word* const end = p + list.size();
        // Touching means high + 1 == low; 64 bits keep INT32_MAX + 1 exact.
        std::int64_t lastHigh = INT64_MIN + 1;  // the first pair meets nothing
        for (; p != end; p += 2) {
            if ((lastHigh + 1 >= p[0]) | (p[0] > p[1])) return false;
            lastHigh = p[1];
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
        Words unite(Words a, Words b) {
            return combined<uniteTo>(sortedRanges(a, leftCanonical_, leftTwo_),
                                     sortedRanges(b, rightCanonical_, rightTwo_));
        }
        Words intersect(Words a, Words b) {
            return combined<intersectTo>(canonical(a, leftCanonical_), canonical(b, rightCanonical_));
        }
        Words subtract(Words a, Words b) {
            return combined<subtractTo>(canonical(a, leftCanonical_), canonical(b, rightCanonical_));
        }
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
        // For a union the operands need only have their ranges sorted by
        // low bound, none empty: the merge joins what overlaps or touches.
        Words sortedRanges(Words list, RangeList& into, Word (&two)[4]) {
            if (list.size() % 2 == 0) [[likely]] {
                const Word* p = list.data();
                const Word* const end = p + list.size();
                Word lastLow = INT32_MIN;
                for (; p != end; p += 2) {
                    if ((p[0] < lastLow) | (p[0] > p[1])) break;
                    lastLow = p[0];
                }
                if (p == end) [[likely]]
                    return list;
                if (list.size() == 4) {
                    // Two elements of a constructor, the second first or
                    // one of them an empty range.
                    const bool first = list[0] <= list[1];
                    const bool second = list[2] <= list[3];
                    std::size_t n = 0;
                    if (second) {
                        two[0] = list[2];
                        two[1] = list[3];
                        n = 2;
                    }
                    if (first) {
                        two[n] = list[0];
                        two[n + 1] = list[1];
                        n += 2;
                    }
                    return {two, n};
                }
            }
            return sortedCopy(list, into);
        }
        // The non-empty pairs of the list sorted by low bound, in `into`
        // (a few, as a set constructor's elements, without joining them);
        // or its canonical form.
        Words sortedCopy(Words list, RangeList& into);
        // The result of op on x and y, which it takes in the form it needs.
        template <std::size_t (*Op)(Words, Words, Word*)>
        Words combined(Words x, Words y) {
            // Union, intersection and difference have no more pairs than
            // both operands together: a piece of an intersection ends where
            // a range of x or of y ends, and a range of y inside one of x
            // cuts it in one more.
            const std::size_t words = x.size() + y.size();
            if (result_.size() < words) [[unlikely]]
                grow(result_, words);
            Word* const out = result_.data();
            return {out, Op(x, y, out)};
        }
        static void grow(RangeList& buffer, std::size_t words);
        RangeList leftCanonical_, rightCanonical_, result_;
        Word leftTwo_[4] = {}, rightTwo_[4] = {};  // two-range operands put in order
        std::vector<Range> sorting_;
    };
    Workspace work;

    // The canonical form of any list, written to `out`, which has room for
    // list.size() words; returns the words written. `sorting` is a buffer
    // for the pairs.
    static std::size_t normalizeTo(Words list, std::vector<Range>& sorting, Word* out);
    // The same for a list known not to be canonical.
    static std::size_t sortAndMerge(Words list, std::vector<Range>& sorting, Word* out);
    // On canonical lists (uniteTo: on lists whose ranges are sorted by low
    // bound, none empty), writing to `out`, which has room for
    // x.size() + y.size() words; each returns the words written.
    static std::size_t uniteTo(Words x, Words y, Word* out) {
        if (x.empty()) std::swap(x, y);
        if (x.empty()) return 0;
        const Word* xp = x.data();
        const Word* yp = y.data();
        const Word* const xEnd = xp + x.size();
        const Word* const yEnd = yp + y.size();
        // The ranges in order of low bound, each joined to the range being
        // built (low, high) when it meets it (overlaps or touches: 64 bits
        // keep INT32_MAX + 1 exact), else starting the next one. The range
        // being built is stored at out + n each time and kept there only
        // when the next one starts: no branch on the data.
        const bool firstX = yp == yEnd || xp[0] <= yp[0];
        Word low = firstX ? xp[0] : yp[0];
        Word high = firstX ? xp[1] : yp[1];
        xp += firstX ? 2 : 0;
        yp += firstX ? 0 : 2;
        std::size_t n = 0;
        const auto take = [&](Word l, Word h) {
            const bool apart = std::int64_t{l} > std::int64_t{high} + 1;
            out[n] = low;
            out[n + 1] = high;
            n += apart ? 2 : 0;
            low = apart ? l : low;
            high = apart ? h : std::max(high, h);
        };
        while (xp != xEnd && yp != yEnd) {
            const bool fromX = xp[0] <= yp[0];
            const Word* const p = fromX ? xp : yp;
            take(p[0], p[1]);
            xp += fromX ? 2 : 0;
            yp += fromX ? 0 : 2;
        }
        for (; xp != xEnd; xp += 2) take(xp[0], xp[1]);
        for (; yp != yEnd; yp += 2) take(yp[0], yp[1]);
        out[n] = low;
        out[n + 1] = high;
        return n + 2;
    }
    static std::size_t intersectTo(Words x, Words y, Word* out) {
        // With a single range (as [k..255]), the pieces of the other list
        // within it.
        if (y.size() == 2) return clipTo(x, y[0], y[1], out);
        if (x.size() == 2) return clipTo(y, x[0], x[1], out);
        const Word* xp = x.data();
        const Word* yp = y.data();
        const Word* const xEnd = xp + x.size();
        const Word* const yEnd = yp + y.size();
        std::size_t n = 0;
        while (xp != xEnd && yp != yEnd) {
            // The common piece of the two ranges, kept when not empty.
            const Word low = std::max(xp[0], yp[0]);
            const Word high = std::min(xp[1], yp[1]);
            out[n] = low;
            out[n + 1] = high;
            n += low <= high ? 2 : 0;
            // The range that ends first can meet nothing further in the other list.
            const bool xEndsFirst = xp[1] < yp[1];
            xp += xEndsFirst ? 2 : 0;
            yp += xEndsFirst ? 0 : 2;
        }
        // Pieces of disjoint, non-touching ranges are themselves sorted and apart.
        return n;
    }
    static std::size_t subtractTo(Words x, Words y, Word* out);
    // The part of canonical x within [low, high] (low <= high): the ranges
    // that meet it, as they are but for the first and the last, cut at its
    // bounds.
    static std::size_t clipTo(Words x, Word low, Word high, Word* out) {
        const Word* first = x.data();
        const Word* const end = first + x.size();
        while (first != end && first[1] < low) first += 2;
        const Word* last = first;  // one past the ranges that meet it
        while (last != end && last[0] <= high) last += 2;
        const auto n = static_cast<std::size_t>(last - first);
        if (n == 0) return 0;
        copyWordsApart(out, first, n);
        out[0] = std::max(out[0], low);
        out[n - 1] = std::min(out[n - 1], high);
        return n;
    }

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
