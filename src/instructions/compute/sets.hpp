#pragma once
// Set values: assignment to and loading of set variables, the element range
// check, union, intersection, difference, equality, inclusion, membership.
//
// A set value travels on the stack as range pairs (low, high) with the pair
// count on top; a set variable holds an id of the machine's set table.

#include <algorithm>
#include <cstdint>
#include <utility>

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
// larger than the stack.
inline ListaConjuntos::Words popSet(Interpretador& m, ListaConjuntos::RangeList& spill) {
    const Word count = m.readWord(m.sp);
    const Word below = wrapSub(m.sp, 1);  // the top once the count is taken
    Word pairs = 0;
    if (count > 0) {
        const std::int64_t available = below >= 0 ? (std::min<std::int64_t>(below, m.memory.denseLimit()) + 1) / 2 : 0;
        pairs = static_cast<Word>(std::min<std::int64_t>(count, available));
    }
    const ListaConjuntos::Words words = setOnStack(m, pairs, spill);
    m.sp = wrapSub(m.sp, 2 * pairs + 1);
    return words;
}

// Replaces two set values by the set that op computes from them (left first).
template <typename Op>
inline void setOperation(Interpretador& m, Op op) {
    ListaConjuntos::Workspace& work = m.sets.work;
    const ListaConjuntos::Words right = popSet(m, work.right);
    const ListaConjuntos::Words left = popSet(m, work.left);
    op(left, right, work.result);
    m.pushWordList(work.result);
    m.pc = wrapAdd(m.pc, 1);
}

// Replaces two set values by 1 or 0 as test finds them (left first).
template <typename Test>
inline void setTest(Interpretador& m, Test test) {
    ListaConjuntos::Workspace& work = m.sets.work;
    const ListaConjuntos::Words right = popSet(m, work.right);
    const ListaConjuntos::Words left = popSet(m, work.left);
    m.push(test(left, right) ? 1 : 0);
    m.pc = wrapAdd(m.pc, 1);
}

}  // namespace compute

inline void Interpretador::opStoreSet() {
    ListaConjuntos::Words value = compute::popSet(*this, sets.work.left);
    const Word address = pop();
    Word id = readWord(address);
    // A word that the table never handed out (0, or other data written over
    // the variable) is treated as no entry yet, so the value is not lost.
    if (!sets.holds(id)) {
        if (value.empty()) {
            if (id != 0) writeWord(address, 0);
            pc = wrapAdd(pc, 1);
            return;
        }
        // Writing the id may grow the memory the value lies in.
        if (value.data() != sets.work.left.data()) {
            sets.work.left.assign(value.begin(), value.end());
            value = sets.work.left;
        }
        id = sets.add({});
        writeWord(address, id);
    }
    sets.replace(id, value);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opLoadSet() {
    const Word address = pop();
    if (const std::optional<ListaConjuntos::Words> entry = sets.find(readWord(address)))
        pushWordList(*entry);
    else
        push(0);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opCheckSet() {
    const Word low = operand(1);
    const Word high = operand(2);
    const Word words = 2 * compute::pairsOnStack(*this, readWord(sp));
    const Word first = wrapSub(sp, words);
    // Read where they lie, or word by word (a stack far out is not copied).
    const Word* at = wordsAt(first, words);
    const auto word = [&](Word i) { return at ? at[i] : readWord(wrapAdd(first, i)); };
    for (Word i = 0; i < words; i += 2) {
        if (word(i) < low || word(i + 1) > high)
            raiseRuntimeError(latin1(" => O elemento do conjunto não é válido nessa atribuição! "));
    }
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opInSet() {
    const Word words = 2 * compute::pairsOnStack(*this, readWord(sp));
    const Word first = wrapSub(sp, words);
    const Word elementAt = wrapSub(first, 1);
    const Word x = readWord(elementAt);
    const Word* at = wordsAt(first, words);
    const auto word = [&](Word i) { return at ? at[i] : readWord(wrapAdd(first, i)); };
    bool found = false;
    for (Word i = 0; i < words && !found; i += 2) found = word(i) <= x && x <= word(i + 1);
    sp = elementAt;
    writeWord(sp, found ? 1 : 0);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opSetUnion() {
    compute::setOperation(*this, [](auto a, auto b, auto& out) { ListaConjuntos::uniteInto(a, b, out); });
}
inline void Interpretador::opSetInter() {
    compute::setOperation(*this, [](auto a, auto b, auto& out) { ListaConjuntos::intersectInto(a, b, out); });
}
inline void Interpretador::opSetDiff() {
    compute::setOperation(*this, [](auto a, auto b, auto& out) { ListaConjuntos::subtractInto(a, b, out); });
}

inline void Interpretador::opEqSet() {
    compute::setTest(*this, [](auto a, auto b) { return ListaConjuntos::equal(a, b); });
}
inline void Interpretador::opSubset() {
    compute::setTest(*this, [](auto a, auto b) { return ListaConjuntos::isSubset(a, b); });
}
inline void Interpretador::opSuperset() {
    compute::setTest(*this, [](auto a, auto b) { return ListaConjuntos::isSubset(b, a); });
}

}  // namespace lousa
