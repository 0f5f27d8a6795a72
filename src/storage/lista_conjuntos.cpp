#include "storage/lista_conjuntos.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace lousa {

namespace {

struct Range {
    Word low;
    Word high;
};

// The pairs of a list, reversed pairs dropped. An odd trailing word is no pair.
std::vector<Range> rangesOf(const ListaConjuntos::RangeList& list) {
    std::vector<Range> ranges;
    ranges.reserve(list.size() / 2);
    for (std::size_t i = 0; i + 1 < list.size(); i += 2)
        if (list[i] <= list[i + 1]) ranges.push_back(Range{list[i], list[i + 1]});
    return ranges;
}

// Sorts by low and merges overlapping and touching ranges in one pass.
ListaConjuntos::RangeList canonical(std::vector<Range> ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.low < b.low; });
    ListaConjuntos::RangeList out;
    out.reserve(ranges.size() * 2);
    for (const Range& r : ranges) {
        // Touching means high + 1 == low; 64 bits keep INT32_MAX + 1 exact.
        if (!out.empty() && std::int64_t{out.back()} + 1 >= r.low) {
            out.back() = std::max(out.back(), r.high);
        } else {
            out.push_back(r.low);
            out.push_back(r.high);
        }
    }
    return out;
}

}  // namespace

Word ListaConjuntos::add(RangeList list) {
    entries_.push_back(std::move(list));
    return static_cast<Word>(entries_.size());
}

void ListaConjuntos::replace(Word id, RangeList list) {
    if (!holds(id)) return;
    entries_[static_cast<std::size_t>(id) - 1] = normalize(std::move(list));
}

const ListaConjuntos::RangeList* ListaConjuntos::find(Word id) const {
    return holds(id) ? &entries_[static_cast<std::size_t>(id) - 1] : nullptr;
}

ListaConjuntos::RangeList ListaConjuntos::get(Word id) const {
    const RangeList* entry = find(id);
    return entry ? *entry : RangeList{};
}

ListaConjuntos::RangeList ListaConjuntos::normalize(RangeList list) { return canonical(rangesOf(list)); }

ListaConjuntos::RangeList ListaConjuntos::subtractRange(Word low1, Word high1, Word low2, Word high2) {
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

ListaConjuntos::RangeList ListaConjuntos::unite(const RangeList& a, const RangeList& b) {
    std::vector<Range> ranges = rangesOf(a);
    const std::vector<Range> more = rangesOf(b);
    ranges.insert(ranges.end(), more.begin(), more.end());
    return canonical(std::move(ranges));
}

ListaConjuntos::RangeList ListaConjuntos::intersect(const RangeList& a, const RangeList& b) {
    const RangeList x = normalize(a);
    const RangeList y = normalize(b);
    RangeList out;
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
    return out;  // sorted and disjoint pieces of disjoint, non-touching ranges
}

ListaConjuntos::RangeList ListaConjuntos::subtract(const RangeList& a, const RangeList& b) {
    const RangeList x = normalize(a);
    const RangeList y = normalize(b);
    RangeList out;
    std::size_t j = 0;
    for (std::size_t i = 0; i < x.size(); i += 2) {
        std::int64_t low = x[i];  // the part of this range not yet removed starts here
        const Word high = x[i + 1];
        while (j < y.size() && y[j + 1] < low) j += 2;  // ranges of b wholly before it
        for (std::size_t k = j; k < y.size() && y[k] <= high && low <= high; k += 2) {
            if (y[k] > low) {
                out.push_back(static_cast<Word>(low));
                out.push_back(y[k] - 1);
            }
            low = std::int64_t{y[k + 1]} + 1;
        }
        if (low <= high) {
            out.push_back(static_cast<Word>(low));
            out.push_back(high);
        }
    }
    return out;
}

bool ListaConjuntos::equal(const RangeList& a, const RangeList& b) { return normalize(a) == normalize(b); }

bool ListaConjuntos::isSubset(const RangeList& a, const RangeList& b) { return subtract(a, b).empty(); }

}  // namespace lousa
