// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opConRead() { invalidInstruction(); }  // CON_READ
void Interpretador::opConReadStr() { invalidInstruction(); }  // CON_READ_STR

}  // namespace lousa
