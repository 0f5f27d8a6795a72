// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opFileAppend() { invalidInstruction(); }  // FILE_APPEND
void Interpretador::opFileClose() { invalidInstruction(); }  // FILE_CLOSE
void Interpretador::opFileEof() { invalidInstruction(); }  // FILE_EOF
void Interpretador::opFileEoln() { invalidInstruction(); }  // FILE_EOLN
void Interpretador::opFilePos() { invalidInstruction(); }  // FILE_POS
void Interpretador::opFileSize() { invalidInstruction(); }  // FILE_SIZE

}  // namespace lousa
