#include "storage/lista_conjuntos.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

namespace lousa {

namespace {

using Words = ListaConjuntos::Words;
using RangeList = ListaConjuntos::RangeList;

struct Range {
    Word low;
    Word high;
};

// Work buffers of the algebra, kept between calls so that the set
// instructions do not allocate in their loops.
thread_local std::vector<Range> sortBuffer;
thread_local RangeList scratchA;
thread_local RangeList scratchB;

// Appends a range to a canonical list being built in order of low bounds,
// merging it with the last range when they overlap or touch. Touching means
// high + 1 == low; 64 bits keep INT32_MAX + 1 exact.
void appendMerged(RangeList& out, Word low, Word high) {
    if (!out.empty() && std::int64_t{out.back()} + 1 >= low) {
        out.back() = std::max(out.back(), high);
    } else {
        out.push_back(low);
        out.push_back(high);
    }
}

// The list itself when it is canonical (the usual case: stored sets and
// results), else its canonical form built in scratch.
Words canonicalView(Words list, RangeList& scratch) {
    if (ListaConjuntos::isCanonical(list)) return list;
    ListaConjuntos::normalizeInto(list, scratch);
    return scratch;
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

void ListaConjuntos::replace(Word id, Words list) {
    if (!holds(id)) return;
    // A canonical list (the usual case) is stored as it is, unless it lies
    // in the table's own buffer, which storing may move.
    const std::less<const Word*> before;
    const bool inTable = !words_.empty() && !before(list.data(), words_.data()) &&
                         before(list.data(), words_.data() + words_.size());
    if (inTable || !isCanonical(list)) {
        normalizeInto(list, canonical_);
        list = canonical_;
    }
    store(entries_[static_cast<std::size_t>(id) - 1], list);
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

std::optional<ListaConjuntos::Words> ListaConjuntos::find(Word id) const {
    if (!holds(id)) return std::nullopt;
    const Entry& entry = entries_[static_cast<std::size_t>(id) - 1];
    return Words(words_).subspan(entry.first, entry.length);
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

bool ListaConjuntos::isCanonical(Words list) {
    if (list.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < list.size(); i += 2) {
        if (list[i] > list[i + 1]) return false;
        if (i > 0 && std::int64_t{list[i - 1]} + 1 >= list[i]) return false;
    }
    return true;
}

void ListaConjuntos::normalizeInto(Words list, RangeList& out) {
    out.clear();
    if (isCanonical(list)) {
        out.assign(list.begin(), list.end());
        return;
    }
    sortBuffer.clear();
    for (std::size_t i = 0; i + 1 < list.size(); i += 2)
        if (list[i] <= list[i + 1]) sortBuffer.push_back(Range{list[i], list[i + 1]});
    std::sort(sortBuffer.begin(), sortBuffer.end(), [](const Range& a, const Range& b) { return a.low < b.low; });
    for (const Range& r : sortBuffer) appendMerged(out, r.low, r.high);
}

void ListaConjuntos::uniteInto(Words a, Words b, RangeList& out) {
    const Words x = canonicalView(a, scratchA);
    const Words y = canonicalView(b, scratchB);
    out.clear();
    std::size_t i = 0;
    std::size_t j = 0;
    // Merge the two sorted lists by low bound; appendMerged joins what meets.
    while (i < x.size() || j < y.size()) {
        if (j >= y.size() || (i < x.size() && x[i] <= y[j])) {
            appendMerged(out, x[i], x[i + 1]);
            i += 2;
        } else {
            appendMerged(out, y[j], y[j + 1]);
            j += 2;
        }
    }
}

void ListaConjuntos::intersectInto(Words a, Words b, RangeList& out) {
    const Words x = canonicalView(a, scratchA);
    const Words y = canonicalView(b, scratchB);
    out.clear();
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < x.size() && j < y.size()) {
        const Word low = std::max(x[i], y[j]);
        const Word high = std::min(x[i + 1], y[j + 1]);
        if (low <= high) {
            out.push_back(low);
            out.push_back(high);
        }
        // The range that ends first can meet nothing further in the other list.
        if (x[i + 1] < y[j + 1])
            i += 2;
        else
            j += 2;
    }
    // Pieces of disjoint, non-touching ranges are themselves sorted and apart.
}

void ListaConjuntos::subtractInto(Words a, Words b, RangeList& out) {
    const Words x = canonicalView(a, scratchA);
    const Words y = canonicalView(b, scratchB);
    out.clear();
    std::size_t j = 0;
    for (std::size_t i = 0; i < x.size(); i += 2) {
        std::int64_t low = x[i];  // the part of this range not yet removed starts here
        const Word high = x[i + 1];
        while (j < y.size() && y[j + 1] < low) j += 2;  // ranges of b wholly before it
        for (std::size_t k = j; k < y.size() && y[k] <= high && low <= high; k += 2) {
            if (y[k] > low) {
                out.push_back(static_cast<Word>(low));
                out.push_back(y[k] - 1);  // y[k] > low >= INT32_MIN: no wrap
            }
            low = std::int64_t{y[k + 1]} + 1;
        }
        if (low <= high) {
            out.push_back(static_cast<Word>(low));
            out.push_back(high);
        }
    }
}

bool ListaConjuntos::equal(Words a, Words b) {
    const Words x = canonicalView(a, scratchA);
    const Words y = canonicalView(b, scratchB);
    return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

bool ListaConjuntos::isSubset(Words a, Words b) {
    const Words x = canonicalView(a, scratchA);
    const Words y = canonicalView(b, scratchB);
    // The ranges of a canonical list have gaps between them, so a range that
    // lies within the union of y's ranges lies within a single one of them.
    std::size_t j = 0;
    for (std::size_t i = 0; i < x.size(); i += 2) {
        while (j < y.size() && y[j + 1] < x[i]) j += 2;
        if (j >= y.size() || y[j] > x[i] || y[j + 1] < x[i + 1]) return false;
    }
    return true;
}

// --- algebra on lists

RangeList ListaConjuntos::normalize(RangeList list) {
    RangeList out;
    normalizeInto(list, out);
    return out;
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
    RangeList out;
    uniteInto(a, b, out);
    return out;
}

RangeList ListaConjuntos::intersect(const RangeList& a, const RangeList& b) {
    RangeList out;
    intersectInto(a, b, out);
    return out;
}

RangeList ListaConjuntos::subtract(const RangeList& a, const RangeList& b) {
    RangeList out;
    subtractInto(a, b, out);
    return out;
}

}  // namespace lousa
