#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <random>

#include "storage/lista_conjuntos.hpp"

namespace lousa {
namespace {

using L = ListaConjuntos::RangeList;
constexpr Word kMin = INT32_MIN;
constexpr Word kMax = INT32_MAX;

TEST(SetAlgebra, NormalizeSortsMergesAndDropsEmptyPairs) {
    EXPECT_EQ(ListaConjuntos::normalize({1, 3, 2, 5}), (L{1, 5}));
    EXPECT_EQ(ListaConjuntos::normalize({1, 3, 4, 6}), (L{1, 6}));  // touching pairs merge
    EXPECT_EQ(ListaConjuntos::normalize({1, 3, 5, 6}), (L{1, 3, 5, 6}));
    EXPECT_EQ(ListaConjuntos::normalize({5, 3}), L{});
    EXPECT_EQ(ListaConjuntos::normalize({7, 9, 1, 2}), (L{1, 2, 7, 9}));
    EXPECT_EQ(ListaConjuntos::normalize({1, 10, 3, 4}), (L{1, 10}));
    EXPECT_EQ(ListaConjuntos::normalize({5, 5, 5, 5, 4, 4, 6, 6}), (L{4, 6}));
    EXPECT_EQ(ListaConjuntos::normalize({3, 8, 1, 2, 9, 9, 20, 21}), (L{1, 9, 20, 21}));
    EXPECT_EQ(ListaConjuntos::normalize({}), L{});
}

TEST(SetAlgebra, ExtremeBoundsNeitherWrapNorMergeFalsely) {
    EXPECT_EQ(ListaConjuntos::normalize({kMax, kMax, kMin, kMin}), (L{kMin, kMin, kMax, kMax}));
    EXPECT_EQ(ListaConjuntos::normalize({0, kMax, kMin, -1}), (L{kMin, kMax}));
    EXPECT_EQ(ListaConjuntos::subtract({kMin, kMax}, {0, 0}), (L{kMin, -1, 1, kMax}));
    EXPECT_EQ(ListaConjuntos::subtract({kMin, kMax}, {kMin, kMax}), L{});
    EXPECT_EQ(ListaConjuntos::subtract({kMin, kMax}, {kMin, kMin, kMax, kMax}), (L{kMin + 1, kMax - 1}));
    EXPECT_EQ(ListaConjuntos::intersect({kMin, 0}, {0, kMax}), (L{0, 0}));
    // A single range cuts the ranges that meet it at its bounds.
    EXPECT_EQ(ListaConjuntos::intersect({kMin, kMin, 0, 5, kMax, kMax}, {kMin, kMax}), (L{kMin, kMin, 0, 5, kMax, kMax}));
    EXPECT_EQ(ListaConjuntos::intersect({kMin, kMax}, {kMin, kMin, kMax, kMax}), (L{kMin, kMin, kMax, kMax}));
    EXPECT_EQ(ListaConjuntos::intersect({kMin, -5, 5, kMax}, {-5, 5}), (L{-5, -5, 5, 5}));
    EXPECT_EQ(ListaConjuntos::intersect({kMin, -6, 6, kMax}, {-5, 5}), L{});
    EXPECT_EQ(ListaConjuntos::intersect({kMax - 1, kMax}, {kMax, kMax}), (L{kMax, kMax}));
    EXPECT_EQ(ListaConjuntos::subtractRange(kMin, kMax, kMin + 1, kMax - 1), (L{kMin, kMin, kMax, kMax}));
}

TEST(SetAlgebra, SubtractRangeCases) {
    EXPECT_EQ(ListaConjuntos::subtractRange(1, 5, 7, 9), (L{1, 5}));   // no overlap
    EXPECT_EQ(ListaConjuntos::subtractRange(1, 5, 3, 9), (L{1, 2}));   // right part cut
    EXPECT_EQ(ListaConjuntos::subtractRange(1, 10, 3, 4), (L{1, 2, 5, 10}));  // a hole
    EXPECT_EQ(ListaConjuntos::subtractRange(3, 4, 1, 10), L{});         // covered
    EXPECT_EQ(ListaConjuntos::subtractRange(3, 9, 1, 5), (L{6, 9}));   // left part cut
}

TEST(SetAlgebra, OperationsOnSmallSets) {
    EXPECT_EQ(ListaConjuntos::subtract({1, 10}, {3, 4}), (L{1, 2, 5, 10}));
    EXPECT_EQ(ListaConjuntos::subtract({97, 97}, {97, 97, 101, 101}), L{});
    EXPECT_EQ(ListaConjuntos::subtract({1, 5}, {0, 10, 20, 30}), L{});
    EXPECT_EQ(ListaConjuntos::subtract({4, 6, 1, 2}, {}), (L{1, 2, 4, 6}));
    EXPECT_EQ(ListaConjuntos::subtract({}, {1, 2}), L{});
    EXPECT_EQ(ListaConjuntos::subtract({1, 20}, {3, 4, 8, 9, 15, 25}), (L{1, 2, 5, 7, 10, 14}));
    EXPECT_EQ(ListaConjuntos::intersect({1, 5}, {5, 9}), (L{5, 5}));
    EXPECT_EQ(ListaConjuntos::intersect({1, 4}, {5, 9}), L{});
    EXPECT_EQ(ListaConjuntos::intersect({1, 10, 20, 30}, {5, 25}), (L{5, 10, 20, 25}));
    EXPECT_EQ(ListaConjuntos::unite({1, 3}, {4, 6}), (L{1, 6}));
    EXPECT_EQ(ListaConjuntos::unite({1, 3, 10, 12}, {4, 5, 13, 20}), (L{1, 5, 10, 20}));  // both canonical
    EXPECT_EQ(ListaConjuntos::unite({1, 3, 10, 12}, {0, 30}), (L{0, 30}));
    EXPECT_EQ(ListaConjuntos::unite({}, {9, 8}), L{});
    // Two-element constructors: in order, the second first, one empty, both operands at once.
    EXPECT_EQ(ListaConjuntos::unite({1, 3, 10, 12}, {9, 9, 2, 2}), (L{1, 3, 9, 12}));
    EXPECT_EQ(ListaConjuntos::unite({9, 9, 2, 2}, {7, 7, 1, 1}), (L{1, 2, 7, 7, 9, 9}));
    EXPECT_EQ(ListaConjuntos::unite({5, 4, 2, 2}, {7, 6, 8, 8}), (L{2, 2, 8, 8}));
    EXPECT_EQ(ListaConjuntos::unite({5, 4, 3, 2}, {20, 20, 4, 4}), (L{4, 4, 20, 20}));
    EXPECT_TRUE(ListaConjuntos::equal(L{3, 1}, L{}));
    EXPECT_TRUE(ListaConjuntos::equal(L{1, 2, 3, 4}, L{1, 4}));
    EXPECT_FALSE(ListaConjuntos::equal(L{1, 2}, L{1, 3}));
    EXPECT_TRUE(ListaConjuntos::isSubset(L{}, L{5, 6}));
    EXPECT_TRUE(ListaConjuntos::isSubset(L{}, L{}));
    EXPECT_TRUE(ListaConjuntos::isSubset(L{2, 2}, L{1, 3}));
    EXPECT_FALSE(ListaConjuntos::isSubset(L{1, 3}, L{2, 2}));
    EXPECT_FALSE(ListaConjuntos::isSubset(L{1, 10}, L{1, 4, 6, 10}));  // the gap at 5
    EXPECT_TRUE(ListaConjuntos::isSubset(L{6, 7, 2, 3}, L{1, 4, 6, 10}));
}

// Random lists over a small universe checked element by element against
// bitsets: every result must hold the right elements and be canonical.
constexpr int kLow = -12;
constexpr int kHigh = 12;
using Bits = std::bitset<kHigh - kLow + 1>;

Bits bitsOf(const L& list) {
    Bits bits;
    for (std::size_t i = 0; i + 1 < list.size(); i += 2)
        for (Word x = list[i]; x <= list[i + 1]; ++x) bits.set(static_cast<std::size_t>(x - kLow));
    return bits;
}

bool canonical(const L& list) {
    if (list.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < list.size(); i += 2) {
        if (list[i] > list[i + 1]) return false;
        if (i > 0 && std::int64_t{list[i - 1]} + 1 >= list[i]) return false;
    }
    return true;
}

TEST(SetAlgebra, AgreesWithBitsetsOnRandomLists) {
    std::mt19937 random(2024);
    const auto randomList = [&] {
        L list;
        const int pairs = static_cast<int>(random() % 6);
        for (int i = 0; i < pairs; ++i) {
            list.push_back(kLow + static_cast<Word>(random() % (kHigh - kLow + 1)));
            list.push_back(kLow + static_cast<Word>(random() % (kHigh - kLow + 1)));  // may be reversed
        }
        return list;
    };
    for (int round = 0; round < 5000; ++round) {
        const L a = randomList();
        const L b = randomList();
        const Bits x = bitsOf(a);
        const Bits y = bitsOf(b);
        const L n = ListaConjuntos::normalize(a);
        const L u = ListaConjuntos::unite(a, b);
        const L i = ListaConjuntos::intersect(a, b);
        const L d = ListaConjuntos::subtract(a, b);
        ASSERT_TRUE(canonical(n) && canonical(u) && canonical(i) && canonical(d));
        ASSERT_EQ(bitsOf(n), x);
        ASSERT_EQ(bitsOf(u), x | y);
        ASSERT_EQ(bitsOf(i), x & y);
        ASSERT_EQ(bitsOf(d), x & ~y);
        ASSERT_EQ(ListaConjuntos::equal(a, b), x == y);
        ASSERT_EQ(ListaConjuntos::isSubset(a, b), (x & ~y).none());
    }
}

// Set values move in short copies: two overlapping groups for up to 16
// words, a call beyond. Every size around the groups' bounds copies every
// word and not one beside them.
TEST(SetAlgebra, ShortCopiesAtEverySizeTouchOnlyTheirWords) {
    for (std::size_t n = 0; n <= 40; ++n) {
        SCOPED_TRACE(n);
        L from(n + 2);
        for (std::size_t i = 0; i < from.size(); ++i) from[i] = static_cast<Word>(100 + i);
        L to(n + 2, -1);
        copyWordsApart(to.data() + 1, from.data() + 1, n);
        EXPECT_EQ(to.front(), -1);
        EXPECT_EQ(to.back(), -1);
        EXPECT_TRUE(std::equal(to.begin() + 1, to.end() - 1, from.begin() + 1));
    }
}

// The union takes operands whose ranges are sorted by low bound as they
// are (overlapping and touching ones included), and sorts a short operand
// without joining its ranges: lists in those shapes, short and past the
// sizes the sorting treats apart, against bitsets.
TEST(SetAlgebra, OperandsInEveryShapeAndLengthAgreeWithBitsets) {
    constexpr int kWide = 40;
    using WideBits = std::bitset<2 * kWide + 1>;
    const auto bits = [](const L& list) {
        WideBits b;
        for (std::size_t i = 0; i + 1 < list.size(); i += 2)
            for (Word x = list[i]; x <= list[i + 1]; ++x) b.set(static_cast<std::size_t>(x + kWide));
        return b;
    };
    std::mt19937 random(77);
    const auto element = [&] { return static_cast<Word>(random() % (2 * kWide + 1)) - kWide; };
    enum Shape { kSortedMeeting, kSortedWithEmptyPair, kReversedOrder, kAnything };
    const auto make = [&](Shape shape, int pairs) {
        L list;
        Word low = -kWide;
        for (int i = 0; i < pairs; ++i) {
            if (shape == kAnything) {
                list.insert(list.end(), {element(), element()});
                continue;
            }
            // Each range overlapping, touching or apart from the last.
            const Word high = std::min<Word>(low + static_cast<Word>(random() % 4), kWide);
            list.insert(list.end(), {low, high});
            low = std::min<Word>(low + static_cast<Word>(random() % 5), kWide);
        }
        if (shape == kSortedWithEmptyPair && !list.empty()) list[1] = list[0] - 1;  // the first pair holds nothing
        if (shape == kReversedOrder) {
            L reversed;
            for (std::size_t i = list.size(); i >= 2; i -= 2) reversed.insert(reversed.end(), {list[i - 2], list[i - 1]});
            list = reversed;
        }
        return list;
    };
    for (const int pairs : {0, 1, 2, 3, 7, 8, 9, 16, 17, 30}) {
        for (int shapeA = kSortedMeeting; shapeA <= kAnything; ++shapeA) {
            for (int shapeB = kSortedMeeting; shapeB <= kAnything; ++shapeB) {
                for (int round = 0; round < 20; ++round) {
                    const L a = make(static_cast<Shape>(shapeA), pairs);
                    const L b = make(static_cast<Shape>(shapeB), static_cast<int>(random() % 4));
                    SCOPED_TRACE(::testing::PrintToString(a) + " " + ::testing::PrintToString(b));
                    const L u = ListaConjuntos::unite(a, b);
                    const L v = ListaConjuntos::unite(b, a);
                    const L i = ListaConjuntos::intersect(a, b);
                    const L n = ListaConjuntos::normalize(a);
                    ASSERT_TRUE(canonical(u) && canonical(v) && canonical(i) && canonical(n));
                    ASSERT_EQ(bits(u), bits(a) | bits(b));
                    ASSERT_EQ(v, u);
                    ASSERT_EQ(bits(i), bits(a) & bits(b));
                    ASSERT_EQ(bits(n), bits(a));
                }
            }
        }
    }
}

TEST(SetTable, HandsOutIdsFromOneAndStoresCanonicalValues) {
    ListaConjuntos table;
    EXPECT_EQ(table.add({1, 2}), 1);
    EXPECT_EQ(table.add({5, 3}), 2);  // stored unchanged
    EXPECT_EQ(table.add({7, 7}), 3);
    EXPECT_EQ(table.get(2), (L{5, 3}));
    table.replace(2, {4, 6, 1, 3});
    EXPECT_EQ(table.get(2), (L{1, 6}));
    EXPECT_EQ(table.get(1), (L{1, 2}));
    table.reset();
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.add({}), 1);
}

TEST(SetTable, IdsItNeverHandedOutReadEmptyAndTakeNoStore) {
    ListaConjuntos table;
    table.add({1, 1});
    for (const Word id : {0, -1, 2, 1000000, kMax, kMin}) {
        EXPECT_EQ(table.get(id), L{});
        EXPECT_FALSE(table.find(id).has_value());
        table.replace(id, {9, 9});
    }
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.get(1), (L{1, 1}));
}

TEST(SetTable, AValueTakenFromTheTableItselfSurvivesTheStoreMovingIt) {
    // Canonical values are stored without a copy; one that lies in the
    // table's buffer must still read right when storing it moves the buffer.
    for (const L& value : {L{1, 2, 4, 9, 20, 30, 40, 50}, L{9, 4, 1, 2}}) {
        ListaConjuntos table;
        table.add({});
        const Word source = table.add(value);
        for (int i = 0; i < 64; ++i) table.add({i, i});  // the buffer has to grow for what follows
        table.replace(1, *table.find(source));
        EXPECT_EQ(table.get(1), ListaConjuntos::normalize(value));
        EXPECT_EQ(table.get(source), value);
    }
}

}  // namespace
}  // namespace lousa
