#pragma once

// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

inline void Interpretador::opConcat() { invalidInstruction(); }  // CONCAT
inline void Interpretador::opStoreStr() { invalidInstruction(); }  // STORE_STR
inline void Interpretador::opCharToStr() { invalidInstruction(); }  // CHAR_TO_STR
inline void Interpretador::opCopy() { invalidInstruction(); }  // COPY
inline void Interpretador::opDelete() { invalidInstruction(); }  // DELETE
inline void Interpretador::opStrToBlock() { invalidInstruction(); }  // STR_TO_BLOCK
inline void Interpretador::opInsert() { invalidInstruction(); }  // INSERT
inline void Interpretador::opStr() { invalidInstruction(); }  // STR
inline void Interpretador::opStrLength() { invalidInstruction(); }  // STR_LENGTH
inline void Interpretador::opStrPos() { invalidInstruction(); }  // STR_POS
inline void Interpretador::opUpcase() { invalidInstruction(); }  // UPCASE
inline void Interpretador::opVal() { invalidInstruction(); }  // VAL
inline void Interpretador::opLoadStr() { invalidInstruction(); }  // LOAD_STR

}  // namespace lousa
