#pragma once

// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

inline void Interpretador::opStoreSet() { invalidInstruction(); }  // STORE_SET
inline void Interpretador::opCheckSet() { invalidInstruction(); }  // CHECK_SET
inline void Interpretador::opSetDiff() { invalidInstruction(); }  // SET_DIFF
inline void Interpretador::opEqSet() { invalidInstruction(); }  // EQ_SET
inline void Interpretador::opInSet() { invalidInstruction(); }  // IN_SET
inline void Interpretador::opSetInter() { invalidInstruction(); }  // SET_INTER
inline void Interpretador::opSubset() { invalidInstruction(); }  // SUBSET
inline void Interpretador::opSuperset() { invalidInstruction(); }  // SUPERSET
inline void Interpretador::opSetUnion() { invalidInstruction(); }  // SET_UNION
inline void Interpretador::opLoadSet() { invalidInstruction(); }  // LOAD_SET

}  // namespace lousa
