// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opConWrite() { invalidInstruction(); }  // CON_WRITE
void Interpretador::opConWriteW() { invalidInstruction(); }  // CON_WRITE_W
void Interpretador::opConWriteWd() { invalidInstruction(); }  // CON_WRITE_WD

}  // namespace lousa
