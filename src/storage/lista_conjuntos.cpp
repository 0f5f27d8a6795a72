#include "storage/lista_conjuntos.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

namespace lousa {

namespace {

using Words = ListaConjuntos::Words;
using RangeList = ListaConjuntos::RangeList;
using Range = ListaConjuntos::Range;

// Appends a range to a canonical list being built at `out` in order of low
// bounds, merging it with the last range when they overlap or touch.
// Touching means high + 1 == low; 64 bits keep INT32_MAX + 1 exact.
inline void appendMerged(Word* out, std::size_t& n, Word low, Word high) {
    if (n != 0 && std::int64_t{out[n - 1]} + 1 >= low) {
        out[n - 1] = std::max(out[n - 1], high);
    } else {
        out[n] = low;
        out[n + 1] = high;
        n += 2;
    }
}

// The non-empty pairs of a short list (a set constructor's elements, say),
// sorted by low bound by insertion into `out`, which has room for the
// list; returns the words written.
[[gnu::always_inline]] inline std::size_t insertSorted(Words list, Word* out) {
    std::size_t sorted = 0;
    for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
        const Word low = list[i];
        const Word high = list[i + 1];
        if (low > high) continue;
        std::size_t at = sorted;
        for (; at > 0 && out[at - 2] > low; at -= 2) {
            out[at] = out[at - 2];
            out[at + 1] = out[at - 1];
        }
        out[at] = low;
        out[at + 1] = high;
        sorted += 2;
    }
    return sorted;
}

// The first `words` words of a buffer kept for results, grown when needed;
// its size only grows, so that asking again costs nothing.
Word* room(RangeList& buffer, std::size_t words) {
    if (buffer.size() < words) buffer.resize(words);
    return buffer.data();
}

}  // namespace

// --- table

Word ListaConjuntos::add(const RangeList& list) {
    // An id is a positive word: a table that large is past any ceiling anyway.
    if (entries_.size() >= static_cast<std::size_t>(INT32_MAX)) throw MemoryCeilingReached{};
    reserveCharged(entries_, 1, account_);
    entries_.push_back(Entry{words_.size(), 0, 0});
    store(entries_.back(), list);
    return static_cast<Word>(entries_.size());
}

void ListaConjuntos::replaceSlowly(Entry& entry, Words list) {
    // A list in the table's own buffer is copied out first, as storing may move it.
    if (inBuffer(list) || !isCanonical(list)) {
        if (canonical_.size() < list.size()) canonical_.resize(list.size());
        list = Words(canonical_.data(), normalizeTo(list, sorting_, canonical_.data()));
    }
    store(entry, list);
}

// Writes the list into the entry's slice, moving the entry to the end of the
// buffer (with room to grow by half) when the slice is too small.
void ListaConjuntos::store(Entry& entry, Words list) {
    if (list.size() > entry.room) {
        const std::size_t room = list.size() + list.size() / 2;
        if (room > UINT32_MAX) throw MemoryCeilingReached{};
        // Packing first may leave enough behind the last entry to save a larger buffer.
        if (abandoned_ + entry.room > words_.size() / 2 && abandoned_ + entry.room >= 4096) {
            abandoned_ += entry.room;
            entry.room = 0;
            entry.length = 0;
            pack();
        } else {
            abandoned_ += entry.room;
        }
        reserveCharged(words_, room, account_);
        entry.first = words_.size();
        entry.room = static_cast<UWord>(room);
        words_.resize(words_.size() + room);
    }
    std::copy(list.begin(), list.end(), words_.begin() + static_cast<std::ptrdiff_t>(entry.first));
    entry.length = static_cast<UWord>(list.size());
}

// Moves every entry's words together, in id order, dropping what moves left behind.
void ListaConjuntos::pack() {
    RangeList packed;
    const std::size_t live = words_.size() - abandoned_;
    chargeTo(account_, live * sizeof(Word));
    packed.reserve(live);
    for (Entry& entry : entries_) {
        const auto from = words_.begin() + static_cast<std::ptrdiff_t>(entry.first);
        entry.first = packed.size();
        packed.insert(packed.end(), from, from + entry.room);
    }
    releaseFrom(account_, words_.capacity() * sizeof(Word));
    words_ = std::move(packed);
    abandoned_ = 0;
}

ListaConjuntos::RangeList ListaConjuntos::get(Word id) const {
    const std::optional<Words> entry = find(id);
    return entry ? RangeList(entry->begin(), entry->end()) : RangeList{};
}

void ListaConjuntos::reset() {
    releaseFrom(account_, entries_.capacity() * sizeof(Entry) + words_.capacity() * sizeof(Word));
    entries_ = {};
    words_ = {};
    abandoned_ = 0;
}

// --- algebra on spans

std::size_t ListaConjuntos::normalizeTo(Words list, std::vector<Range>& sorting, Word* out) {
    if (isCanonical(list)) {
        std::copy(list.begin(), list.end(), out);
        return list.size();
    }
    return sortAndMerge(list, sorting, out);
}

std::size_t ListaConjuntos::sortAndMerge(Words list, std::vector<Range>& sorting, Word* out) {
    // The non-empty pairs, sorted by low bound: a few (a set constructor's
    // elements) by insertion straight into `out`, more in the buffer.
    constexpr std::size_t kFew = 16;
    std::size_t n = 0;
    if (list.size() / 2 <= kFew) {
        const std::size_t sorted = insertSorted(list, out);
        // Joined where they meet, in place: the list built is never ahead
        // of the pairs read.
        for (std::size_t i = 0; i < sorted; i += 2) appendMerged(out, n, out[i], out[i + 1]);
        return n;
    }
    sorting.clear();
    for (std::size_t i = 0; i + 1 < list.size(); i += 2)
        if (list[i] <= list[i + 1]) sorting.push_back(Range{list[i], list[i + 1]});
    std::sort(sorting.begin(), sorting.end(), [](const Range& a, const Range& b) { return a.low < b.low; });
    for (const Range& r : sorting) appendMerged(out, n, r.low, r.high);
    return n;
}

std::size_t ListaConjuntos::subtractTo(Words x, Words y, Word* out) {
    std::size_t n = 0;
    std::size_t j = 0;
    for (std::size_t i = 0; i < x.size(); i += 2) {
        std::int64_t low = x[i];  // the part of this range not yet removed starts here
        const Word high = x[i + 1];
        while (j < y.size() && y[j + 1] < low) j += 2;  // ranges of b wholly before it
        for (std::size_t k = j; k < y.size() && y[k] <= high && low <= high; k += 2) {
            if (y[k] > low) {
                out[n] = static_cast<Word>(low);
                out[n + 1] = y[k] - 1;  // y[k] > low >= INT32_MIN: no wrap
                n += 2;
            }
            low = std::int64_t{y[k + 1]} + 1;
        }
        if (low <= high) {
            out[n] = static_cast<Word>(low);
            out[n + 1] = high;
            n += 2;
        }
    }
    return n;
}

// --- the instructions' workspace

Words ListaConjuntos::Workspace::normalized(Words list, RangeList& into) {
    Word* out = room(into, list.size());
    return {out, sortAndMerge(list, sorting_, out)};
}

Words ListaConjuntos::Workspace::sortedCopy(Words list, RangeList& into) {
    constexpr std::size_t kFew = 8;
    if (list.size() / 2 > kFew) return normalized(list, into);
    Word* const out = room(into, list.size());
    return {out, insertSorted(list, out)};
}

Words ListaConjuntos::Workspace::normalize(Words list) {
    Word* out = room(result_, list.size());
    return {out, normalizeTo(list, sorting_, out)};
}

void ListaConjuntos::Workspace::grow(RangeList& buffer, std::size_t words) { room(buffer, words); }

bool ListaConjuntos::Workspace::equal(Words a, Words b) {
    const Words x = canonical(a, leftCanonical_);
    const Words y = canonical(b, rightCanonical_);
    return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

bool ListaConjuntos::Workspace::isSubset(Words a, Words b) {
    const Words x = canonical(a, leftCanonical_);
    const Words y = canonical(b, rightCanonical_);
    // The ranges of a canonical list have gaps between them, so a range that
    // lies within the union of y's ranges lies within a single one of them.
    std::size_t j = 0;
    for (std::size_t i = 0; i < x.size(); i += 2) {
        while (j < y.size() && y[j + 1] < x[i]) j += 2;
        if (j >= y.size() || y[j] > x[i] || y[j + 1] < x[i + 1]) return false;
    }
    return true;
}

// --- algebra on lists, each with a workspace of its own

namespace {
template <typename Op>
RangeList computed(Op op) {
    ListaConjuntos::Workspace work;
    const Words result = op(work);
    return {result.begin(), result.end()};
}
}  // namespace

RangeList ListaConjuntos::normalize(RangeList list) {
    return computed([&](Workspace& w) { return w.normalize(list); });
}

RangeList ListaConjuntos::subtractRange(Word low1, Word high1, Word low2, Word high2) {
    if (high1 < low2 || low1 > high2) return {low1, high1};
    RangeList out;
    if (low1 < low2) {
        out.push_back(low1);
        out.push_back(low2 - 1);  // low2 > low1 >= INT32_MIN, so no wrap
    }
    if (high1 > high2) {
        out.push_back(high2 + 1);  // high2 < high1 <= INT32_MAX, so no wrap
        out.push_back(high1);
    }
    return out;
}

RangeList ListaConjuntos::unite(const RangeList& a, const RangeList& b) {
    return computed([&](Workspace& w) { return w.unite(a, b); });
}

RangeList ListaConjuntos::intersect(const RangeList& a, const RangeList& b) {
    return computed([&](Workspace& w) { return w.intersect(a, b); });
}

RangeList ListaConjuntos::subtract(const RangeList& a, const RangeList& b) {
    return computed([&](Workspace& w) { return w.subtract(a, b); });
}

bool ListaConjuntos::equal(const RangeList& a, const RangeList& b) {
    Workspace work;
    return work.equal(a, b);
}

bool ListaConjuntos::isSubset(const RangeList& a, const RangeList& b) {
    Workspace work;
    return work.isSubset(a, b);
}

}  // namespace lousa
