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

template <typename Op>
inline void setOperation(Interpretador& m, Op op) {
    const ListaConjuntos::RangeList right = m.popWordList();
    const ListaConjuntos::RangeList left = m.popWordList();
    m.pushWordList(op(left, right));
    m.pc = wrapAdd(m.pc, 1);
}

template <typename Test>
inline void setTest(Interpretador& m, Test test) {
    const ListaConjuntos::RangeList right = m.popWordList();
    const ListaConjuntos::RangeList left = m.popWordList();
    m.push(test(left, right) ? 1 : 0);
    m.pc = wrapAdd(m.pc, 1);
}

}  // namespace compute

inline void Interpretador::opStoreSet() {
    ListaConjuntos::RangeList value = popWordList();
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
    sets.replace(id, std::move(value));
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opLoadSet() {
    const Word address = pop();
    if (const ListaConjuntos::RangeList* entry = sets.find(readWord(address)))
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

inline void Interpretador::opSetUnion() { compute::setOperation(*this, ListaConjuntos::unite); }
inline void Interpretador::opSetInter() { compute::setOperation(*this, ListaConjuntos::intersect); }
inline void Interpretador::opSetDiff() { compute::setOperation(*this, ListaConjuntos::subtract); }

inline void Interpretador::opEqSet() { compute::setTest(*this, ListaConjuntos::equal); }
inline void Interpretador::opSubset() { compute::setTest(*this, ListaConjuntos::isSubset); }
inline void Interpretador::opSuperset() {
    compute::setTest(*this, [](const auto& a, const auto& b) { return ListaConjuntos::isSubset(b, a); });
}

}  // namespace lousa
