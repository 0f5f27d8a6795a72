// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opFileReset() { invalidInstruction(); }  // FILE_RESET
void Interpretador::opFileRewrite() { invalidInstruction(); }  // FILE_REWRITE
void Interpretador::opFileRead() { invalidInstruction(); }  // FILE_READ
void Interpretador::opFileReadStr() { invalidInstruction(); }  // FILE_READ_STR
void Interpretador::opFileWrite() { invalidInstruction(); }  // FILE_WRITE
void Interpretador::opFileWriteStr() { invalidInstruction(); }  // FILE_WRITE_STR
void Interpretador::opFileWriteW() { invalidInstruction(); }  // FILE_WRITE_W
void Interpretador::opFileWriteWd() { invalidInstruction(); }  // FILE_WRITE_WD
void Interpretador::opFileWriteStrW() { invalidInstruction(); }  // FILE_WRITE_STR_W

}  // namespace lousa
