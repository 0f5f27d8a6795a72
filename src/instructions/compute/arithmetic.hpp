#pragma once

// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

inline void Interpretador::opAbs() { invalidInstruction(); }  // ABS
inline void Interpretador::opAddInt() { invalidInstruction(); }  // ADD_INT
inline void Interpretador::opAddReal() { invalidInstruction(); }  // ADD_REAL
inline void Interpretador::opAndInt() { invalidInstruction(); }  // AND_INT
inline void Interpretador::opArctan() { invalidInstruction(); }  // ARCTAN
inline void Interpretador::opToReal() { invalidInstruction(); }  // TO_REAL
inline void Interpretador::opCos() { invalidInstruction(); }  // COS
inline void Interpretador::opDec() { invalidInstruction(); }  // DEC
inline void Interpretador::opDivInt() { invalidInstruction(); }  // DIV_INT
inline void Interpretador::opDivReal() { invalidInstruction(); }  // DIV_REAL
inline void Interpretador::opExp() { invalidInstruction(); }  // EXP
inline void Interpretador::opFrac() { invalidInstruction(); }  // FRAC
inline void Interpretador::opInc() { invalidInstruction(); }  // INC
inline void Interpretador::opInt() { invalidInstruction(); }  // INT
inline void Interpretador::opNegInt() { invalidInstruction(); }  // NEG_INT
inline void Interpretador::opNegReal() { invalidInstruction(); }  // NEG_REAL
inline void Interpretador::opModInt() { invalidInstruction(); }  // MOD_INT
inline void Interpretador::opMulInt() { invalidInstruction(); }  // MUL_INT
inline void Interpretador::opMulReal() { invalidInstruction(); }  // MUL_REAL
inline void Interpretador::opSubInt() { invalidInstruction(); }  // SUB_INT
inline void Interpretador::opSubReal() { invalidInstruction(); }  // SUB_REAL
inline void Interpretador::opNotBool() { invalidInstruction(); }  // NOT_BOOL
inline void Interpretador::opNotInt() { invalidInstruction(); }  // NOT_INT
inline void Interpretador::opOrInt() { invalidInstruction(); }  // OR_INT
inline void Interpretador::opXorInt() { invalidInstruction(); }  // XOR_INT
inline void Interpretador::opOdd() { invalidInstruction(); }  // ODD
inline void Interpretador::opPred() { invalidInstruction(); }  // PRED
inline void Interpretador::opSucc() { invalidInstruction(); }  // SUCC
inline void Interpretador::opRandom() { invalidInstruction(); }  // RANDOM
inline void Interpretador::opLn() { invalidInstruction(); }  // LN
inline void Interpretador::opSin() { invalidInstruction(); }  // SIN
inline void Interpretador::opSqr() { invalidInstruction(); }  // SQR
inline void Interpretador::opSqrt() { invalidInstruction(); }  // SQRT
inline void Interpretador::opRound() { invalidInstruction(); }  // ROUND
inline void Interpretador::opTrunc() { invalidInstruction(); }  // TRUNC

}  // namespace lousa
