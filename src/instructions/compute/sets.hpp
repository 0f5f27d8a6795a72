#pragma once
// Set values: assignment to and loading of set variables, the element range
// check, union, intersection, difference, equality, inclusion, membership.
//
// A set value travels on the stack as range pairs (low, high) with the pair
// count on top; a set variable holds an id of the machine's set table.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "instructions/compute/dense_memory.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace compute {

// How many pairs of a set value with the given count lie on the stack
// beneath its count word. A count larger than the stack can hold (a hostile
// one) is cut there, so nothing loops or allocates for it.
inline Word pairsOnStack(const Interpretador& m, Word count) {
    if (count <= 0 || m.sp <= 0) return 0;
    const std::int64_t held = std::min<std::int64_t>(m.sp, m.memory.denseLimit()) / 2;
    return static_cast<Word>(std::min<std::int64_t>(count, held));
}

// The `pairs` pairs of the set value whose count word is at sp, in the order
// they were pushed: where they lie when the stack is in the contiguous
// region (valid until memory is next written), else copied into `spill`.
inline ListaConjuntos::Words setOnStack(const Interpretador& m, Word pairs, ListaConjuntos::RangeList& spill) {
    const Word words = 2 * pairs;
    const Word deepest = wrapSub(m.sp, words);
    if (const Word* at = m.wordsAt(deepest, words)) return {at, static_cast<std::size_t>(words)};
    spill.resize(static_cast<std::size_t>(words));
    for (Word i = 0; i < words; ++i) spill[static_cast<std::size_t>(i)] = m.readWord(wrapAdd(deepest, i));
    return spill;
}

// Pops a set value (see setOnStack), cut like popWordList cuts a count
// larger than the stack: the general case, for a stack outside the
// contiguous region.
[[gnu::noinline]] inline ListaConjuntos::Words popSetSlowly(Interpretador& m, ListaConjuntos::RangeList& spill) {
    const Word sp = m.sp;
    const Word count = m.readWord(sp);
    const Word below = wrapSub(sp, 1);  // the top once the count is taken
    Word pairs = 0;
    if (count > 0) {
        const std::int64_t available = below >= 0 ? (std::min<std::int64_t>(below, m.memory.denseLimit()) + 1) / 2 : 0;
        pairs = static_cast<Word>(std::min<std::int64_t>(count, available));
    }
    const ListaConjuntos::Words words = setOnStack(m, pairs, spill);
    m.sp = wrapSub(sp, 2 * pairs + 1);
    return words;
}

[[gnu::always_inline]] inline ListaConjuntos::Words popSet(Interpretador& m, ListaConjuntos::RangeList& spill) {
    const Word sp = m.sp;
    if (static_cast<UWord>(sp) < m.memory.denseSize()) [[likely]] {
        // The count and all the words below it lie in the contiguous region
        // (its size is within denseLimit): sp of them, so at most sp / 2 pairs.
        const Word* const dense = m.memory.denseData();
        const Word count = dense[sp];
        const Word pairs = count > 0 ? std::min(count, static_cast<Word>(static_cast<UWord>(sp) / 2)) : 0;
        m.sp = sp - 2 * pairs - 1;
        return {dense + (m.sp + 1), static_cast<std::size_t>(2 * pairs)};
    }
    return popSetSlowly(m, spill);
}

// Pushes a set value that does not lie in word memory (a table entry, a
// result in the workspace): its words, then its pair count.
[[gnu::always_inline]] inline void pushSet(Interpretador& m, ListaConjuntos::Words list) {
    const auto n = static_cast<std::int64_t>(list.size());
    if (Word* to = m.writableWordsAt(std::int64_t{m.sp} + 1, n + 1)) [[likely]] {
        copyWordsApart(to, list.data(), list.size());
        to[n] = static_cast<Word>(static_cast<UWord>(list.size()) / 2U);
        m.sp = static_cast<Word>(std::int64_t{m.sp} + n + 1);
        return;
    }
    m.pushWordList(list);
}

// Replaces two set values by the set that op computes from them (left first).
template <typename Op>
inline void setOperation(Interpretador& m, Op op) {
    ListaConjuntos::Workspace& work = m.sets.work;
    const ListaConjuntos::Words right = popSet(m, work.right);
    const ListaConjuntos::Words left = popSet(m, work.left);
    pushSet(m, op(work, left, right));
    m.pc = wrapAdd(m.pc, 1);
}

// Replaces two set values by 1 or 0 as test finds them (left first).
template <typename Test>
inline void setTest(Interpretador& m, Test test) {
    ListaConjuntos::Workspace& work = m.sets.work;
    const ListaConjuntos::Words right = popSet(m, work.right);
    const ListaConjuntos::Words left = popSet(m, work.left);
    m.push(test(work, left, right) ? 1 : 0);
    m.pc = wrapAdd(m.pc, 1);
}

// The words of the set value whose count word is at sp, in the order they
// were pushed, and where the deepest of them lies; `at` is null when they do
// not all lie in the contiguous region (read them word by word then).
struct SetInPlace {
    const Word* at;
    Word first;
    Word words;
    [[nodiscard]] Word word(const Interpretador& m, Word i) const { return at ? at[i] : m.readWord(wrapAdd(first, i)); }
};
inline SetInPlace setInPlace(const Interpretador& m) {
    const Word sp = m.sp;
    if (static_cast<UWord>(sp) < m.memory.denseSize()) [[likely]] {
        const Word* const dense = m.memory.denseData();
        const Word count = dense[sp];
        const Word words = count > 0 ? 2 * std::min(count, sp / 2) : 0;
        return {dense + (sp - words), sp - words, words};
    }
    const Word words = 2 * pairsOnStack(m, m.readWord(sp));
    const Word first = wrapSub(sp, words);
    // Read where they lie, or word by word (a stack far out is not copied).
    return {m.wordsAt(first, words), first, words};
}

}  // namespace compute

namespace compute {

// The set instructions in general, for a stack or a variable outside the
// contiguous region, an id the table never handed out, a value that must be
// made canonical or outgrows its entry: the handlers below try the usual
// case first and come here, with nothing changed, when it does not hold.
[[gnu::noinline]] inline void storeSetSlowly(Interpretador& m) {
    ListaConjuntos& sets = m.sets;
    ListaConjuntos::Words value = popSet(m, sets.work.left);
    const Word address = m.pop();
    Word id = m.readWord(address);
    if (sets.holds(id)) [[likely]] {
        sets.replace(id, value);
        m.pc = wrapAdd(m.pc, 1);
        return;
    }
    // A word that the table never handed out (0, or other data written over
    // the variable) is treated as no entry yet, so the value is not lost.
    if (value.empty()) {
        if (id != 0) m.writeWord(address, 0);
        m.pc = wrapAdd(m.pc, 1);
        return;
    }
    // Writing the id may grow the memory the value lies in.
    if (value.data() != sets.work.left.data()) {
        sets.work.left.assign(value.begin(), value.end());
        value = sets.work.left;
    }
    id = sets.add({});
    m.writeWord(address, id);
    sets.replace(id, value);
    m.pc = wrapAdd(m.pc, 1);
}

[[gnu::noinline]] inline void loadSetSlowly(Interpretador& m) {
    const Word address = m.pop();
    if (const std::optional<ListaConjuntos::Words> entry = m.sets.find(m.readWord(address)))
        pushSet(m, *entry);
    else
        m.push(0);
    m.pc = wrapAdd(m.pc, 1);
}

[[gnu::noreturn, gnu::noinline, gnu::cold]] inline void raiseBadSetElement(Interpretador& m) {
    m.raiseRuntimeError(latin1(" => O elemento do conjunto não é válido nessa atribuição! "));
}

[[gnu::noinline]] inline void checkSetSlowly(Interpretador& m) {
    const Word low = m.operand(1);
    const Word high = m.operand(2);
    const SetInPlace set = setInPlace(m);
    bool valid = true;
    for (Word i = 0; i < set.words && valid; i += 2) valid = set.word(m, i) >= low && set.word(m, i + 1) <= high;
    if (!valid) raiseBadSetElement(m);
    m.pc = wrapAdd(m.pc, 3);
}

[[gnu::noinline]] inline void inSetSlowly(Interpretador& m) {
    const SetInPlace set = setInPlace(m);
    const Word elementAt = wrapSub(set.first, 1);
    const Word x = m.readWord(elementAt);
    bool found = false;
    for (Word i = 0; i < set.words && !found; i += 2) found = set.word(m, i) <= x && x <= set.word(m, i + 1);
    m.sp = elementAt;
    m.writeWord(m.sp, found ? 1 : 0);
    m.pc = wrapAdd(m.pc, 1);
}

// How many words of pairs a set value whose count word is at sp has, when
// sp lies in the contiguous region: all the words below it are there, sp of
// them, so at most sp / 2 pairs.
[[nodiscard]] inline Word denseSetWords(const Word* dense, Word sp) {
    const Word count = dense[sp];
    return count > 0 ? 2 * std::min(count, static_cast<Word>(static_cast<UWord>(sp) / 2)) : 0;
}

// The usual cases of the set instructions, on a stack whose top is sp: each
// returns false, with nothing changed that the general path reads, when its
// case does not hold, else does the instruction's work (pc aside) and moves
// sp. The dispatch loops call them with the registers they keep.

// LOAD_SET, the variable's address given, the value written from `top`
// (where the address lay, so that a variable at top holds its own address
// by then): the entry's words, then its pair count. (An entry's length is
// even and below 2^32, so n + 1 does not wrap.)
[[gnu::always_inline]] inline bool loadSetAt(const ListaConjuntos& sets, DenseMemory d, Word address, Word top,
                                             Word& sp) {
    if (!d.holds(address)) return false;
    const std::optional<ListaConjuntos::Words> entry = sets.find(address == top ? address : d.words[address]);
    if (!entry) return false;
    const std::size_t n = entry->size();
    if (!d.writable(top, static_cast<std::int64_t>(n) + 1)) return false;
    Word* const to = d.words + top;
    copyWordsApart(to, entry->data(), n);
    to[n] = static_cast<Word>(n / 2);
    sp = static_cast<Word>(top + static_cast<Word>(n));
    return true;
}

// CHECK_SET low high: whether every pair of the value whose count word is
// at sp (in the contiguous region) lies within the bounds.
[[nodiscard, gnu::always_inline]] inline bool denseSetWithin(const Word* dense, Word sp, Word low, Word high) {
    const Word words = denseSetWords(dense, sp);
    const Word* const at = dense + (sp - words);
    bool outside = false;
    for (Word i = 0; i < words; i += 2) outside |= (at[i] < low) | (at[i + 1] > high);
    return !outside;
}

// STORE_SET: a canonical value that fits its entry's slice, stored under
// the id the variable holds; no word of memory is written. (A value found
// not canonical may have been copied in part into the slice, which the
// general path then overwrites.)
[[gnu::always_inline]] inline bool storeSetAt(ListaConjuntos& sets, DenseMemory d, Word& sp) {
    if (!d.holds(sp)) return false;
    const Word words = denseSetWords(d.words, sp);
    const Word at = sp - words - 1;  // the variable's address, beneath the value
    if (at < 0) return false;
    const Word address = d.words[at];
    if (!d.holds(address) ||
        !sets.replaceInPlace(d.words[address], {d.words + at + 1, static_cast<std::size_t>(words)}))
        return false;
    sp = at - 1;
    return true;
}

// IN_SET: the element beneath the value replaced by 1 or 0.
[[gnu::always_inline]] inline bool inSetAt(DenseMemory d, Word& sp) {
    if (!d.holds(sp)) return false;
    const Word words = denseSetWords(d.words, sp);
    const Word elementAt = sp - words - 1;
    if (!d.writable(elementAt, 1)) return false;
    const Word x = d.words[elementAt];
    const Word* const at = d.words + elementAt + 1;
    bool found = false;
    for (Word i = 0; i < words; i += 2) found |= (at[i] <= x) & (x <= at[i + 1]);
    d.words[elementAt] = found ? 1 : 0;
    sp = elementAt;
    return true;
}

// Two set values replaced by the set op computes from them (left first),
// when both and the room for the result lie in the contiguous region. sp
// is the top beneath both while op runs, as the general path has it should
// op find no memory.
template <typename Op>
[[gnu::always_inline]] inline bool setOperationAt(ListaConjuntos::Workspace& work, DenseMemory d, Word& sp, Op op) {
    if (!d.holds(sp)) return false;
    const Word rightWords = denseSetWords(d.words, sp);
    const Word leftTop = sp - rightWords - 1;
    if (leftTop < 0) return false;
    const Word leftWords = denseSetWords(d.words, leftTop);
    const Word below = leftTop - leftWords - 1;  // at least -1
    const ListaConjuntos::Words right{d.words + leftTop + 1, static_cast<std::size_t>(rightWords)};
    const ListaConjuntos::Words left{d.words + below + 1, static_cast<std::size_t>(leftWords)};
    const Word before = std::exchange(sp, below);
    const ListaConjuntos::Words result = op(work, left, right);
    const std::size_t n = result.size();
    if (!d.writable(std::int64_t{below} + 1, static_cast<std::int64_t>(n) + 1)) [[unlikely]] {
        sp = before;
        return false;
    }
    Word* const to = d.words + below + 1;
    copyWordsApart(to, result.data(), n);
    to[n] = static_cast<Word>(n / 2);
    sp = below + 1 + static_cast<Word>(n);
    return true;
}

// The set operations, as the instructions name them.
struct Unite {
    ListaConjuntos::Words operator()(ListaConjuntos::Workspace& w, ListaConjuntos::Words a, ListaConjuntos::Words b) const {
        return w.unite(a, b);
    }
};
struct Intersect {
    ListaConjuntos::Words operator()(ListaConjuntos::Workspace& w, ListaConjuntos::Words a, ListaConjuntos::Words b) const {
        return w.intersect(a, b);
    }
};
struct Subtract {
    ListaConjuntos::Words operator()(ListaConjuntos::Workspace& w, ListaConjuntos::Words a, ListaConjuntos::Words b) const {
        return w.subtract(a, b);
    }
};

}  // namespace compute

// Each handler below does the usual case (the stack, the variable and the
// room for what is pushed all in the contiguous region, outside the watched
// words; a stored value canonical and fitting its entry) through the
// kernels above, and the general path, which starts from what the kernel
// left unchanged, otherwise.
inline void Interpretador::opStoreSet() {
    if (compute::storeSetAt(sets, compute::denseMemory(*this), sp)) [[likely]] {
        pc = wrapAdd(pc, 1);
        return;
    }
    compute::storeSetSlowly(*this);
}

inline void Interpretador::opLoadSet() {
    const compute::DenseMemory dense = compute::denseMemory(*this);
    // The value replaces the address: its words from sp up, then its count.
    if (dense.holds(sp) && compute::loadSetAt(sets, dense, dense.words[sp], sp, sp)) [[likely]] {
        pc = wrapAdd(pc, 1);
        return;
    }
    compute::loadSetSlowly(*this);
}

inline void Interpretador::opCheckSet() {
    const std::size_t size = memory.denseSize();
    if (static_cast<UWord>(sp) < size && std::uint64_t{static_cast<UWord>(pc)} + 2 < size) [[likely]] {
        const Word* const dense = memory.denseData();
        if (!compute::denseSetWithin(dense, sp, dense[pc + 1], dense[pc + 2])) compute::raiseBadSetElement(*this);
        pc = wrapAdd(pc, 3);
        return;
    }
    compute::checkSetSlowly(*this);
}

inline void Interpretador::opInSet() {
    if (compute::inSetAt(compute::denseMemory(*this), sp)) [[likely]] {
        pc = wrapAdd(pc, 1);
        return;
    }
    compute::inSetSlowly(*this);
}

namespace compute {
template <typename Op>
inline void runSetOperation(Interpretador& m, Op op) {
    if (setOperationAt(m.sets.work, denseMemory(m), m.sp, op)) [[likely]] {
        m.pc = wrapAdd(m.pc, 1);
        return;
    }
    setOperation(m, op);
}
}  // namespace compute

inline void Interpretador::opSetUnion() { compute::runSetOperation(*this, compute::Unite{}); }
inline void Interpretador::opSetInter() { compute::runSetOperation(*this, compute::Intersect{}); }
inline void Interpretador::opSetDiff() { compute::runSetOperation(*this, compute::Subtract{}); }

inline void Interpretador::opEqSet() {
    compute::setTest(*this, [](ListaConjuntos::Workspace& w, auto a, auto b) { return w.equal(a, b); });
}
inline void Interpretador::opSubset() {
    compute::setTest(*this, [](ListaConjuntos::Workspace& w, auto a, auto b) { return w.isSubset(a, b); });
}
inline void Interpretador::opSuperset() {
    compute::setTest(*this, [](ListaConjuntos::Workspace& w, auto a, auto b) { return w.isSubset(b, a); });
}

}  // namespace lousa
