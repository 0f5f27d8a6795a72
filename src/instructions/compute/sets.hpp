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

// Pops a set value into `out`, reusing its storage: the words in the order
// they were pushed, cut like popWordList cuts a count larger than the stack.
inline void popSetInto(Interpretador& m, ListaConjuntos::RangeList& out) {
    const Word count = m.pop();
    out.clear();
    if (count <= 0) return;
    const std::int64_t available =
        m.sp >= 0 ? (std::min<std::int64_t>(m.sp, m.memory.denseLimit()) + 1) / 2 : 0;
    const auto words = static_cast<Word>(2 * std::min<std::int64_t>(count, available));
    out.resize(static_cast<std::size_t>(words));
    const Word deepest = wrapSub(m.sp, words - 1);
    for (Word i = 0; i < words; ++i) out[static_cast<std::size_t>(i)] = m.readWord(wrapAdd(deepest, i));
    m.sp = wrapSub(m.sp, words);
}

// Replaces two set values by the set that op computes from them (left first).
template <typename Op>
inline void setOperation(Interpretador& m, Op op) {
    ListaConjuntos::Workspace& work = m.sets.work;
    popSetInto(m, work.right);
    popSetInto(m, work.left);
    op(ListaConjuntos::Words(work.left), ListaConjuntos::Words(work.right), work.result);
    m.pushWordList(work.result);
    m.pc = wrapAdd(m.pc, 1);
}

// Replaces two set values by 1 or 0 as test finds them (left first).
template <typename Test>
inline void setTest(Interpretador& m, Test test) {
    ListaConjuntos::Workspace& work = m.sets.work;
    popSetInto(m, work.right);
    popSetInto(m, work.left);
    m.push(test(ListaConjuntos::Words(work.left), ListaConjuntos::Words(work.right)) ? 1 : 0);
    m.pc = wrapAdd(m.pc, 1);
}

}  // namespace compute

inline void Interpretador::opStoreSet() {
    ListaConjuntos::RangeList& value = sets.work.left;
    compute::popSetInto(*this, value);
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
        id = sets.add({});
        writeWord(address, id);
    }
    sets.replace(id, ListaConjuntos::Words(value));
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
    const Word pairs = compute::pairsOnStack(*this, readWord(sp));
    for (Word i = 0; i < pairs; ++i) {
        const Word at = wrapSub(sp, 2 * pairs - 2 * i);
        if (readWord(at) < low || readWord(wrapAdd(at, 1)) > high)
            raiseRuntimeError(latin1(" => O elemento do conjunto não é válido nessa atribuição! "));
    }
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opInSet() {
    const Word pairs = compute::pairsOnStack(*this, readWord(sp));
    const Word elementAt = wrapSub(sp, 2 * pairs + 1);
    const Word x = readWord(elementAt);
    bool found = false;
    for (Word i = 0; i < pairs && !found; ++i) {
        const Word at = wrapSub(sp, 2 * pairs - 2 * i);
        found = readWord(at) <= x && x <= readWord(wrapAdd(at, 1));
    }
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
