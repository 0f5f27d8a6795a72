// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opTypedRead() { invalidInstruction(); }  // TYPED_READ
void Interpretador::opTypedReadStr() { invalidInstruction(); }  // TYPED_READ_STR
void Interpretador::opTypedWrite() { invalidInstruction(); }  // TYPED_WRITE
void Interpretador::opTypedWriteStr() { invalidInstruction(); }  // TYPED_WRITE_STR
void Interpretador::opFileSeek() { invalidInstruction(); }  // FILE_SEEK

}  // namespace lousa
