#pragma once

// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

inline void Interpretador::opOutside() { invalidInstruction(); }  // OUTSIDE
inline void Interpretador::opGtInt() { invalidInstruction(); }  // GT_INT
inline void Interpretador::opGeInt() { invalidInstruction(); }  // GE_INT
inline void Interpretador::opGeReal() { invalidInstruction(); }  // GE_REAL
inline void Interpretador::opGeStr() { invalidInstruction(); }  // GE_STR
inline void Interpretador::opGtReal() { invalidInstruction(); }  // GT_REAL
inline void Interpretador::opGtStr() { invalidInstruction(); }  // GT_STR
inline void Interpretador::opEqInt() { invalidInstruction(); }  // EQ_INT
inline void Interpretador::opEqReal() { invalidInstruction(); }  // EQ_REAL
inline void Interpretador::opEqStr() { invalidInstruction(); }  // EQ_STR
inline void Interpretador::opLtInt() { invalidInstruction(); }  // LT_INT
inline void Interpretador::opLeInt() { invalidInstruction(); }  // LE_INT
inline void Interpretador::opLeReal() { invalidInstruction(); }  // LE_REAL
inline void Interpretador::opLeStr() { invalidInstruction(); }  // LE_STR
inline void Interpretador::opLtReal() { invalidInstruction(); }  // LT_REAL
inline void Interpretador::opLtStr() { invalidInstruction(); }  // LT_STR

}  // namespace lousa
