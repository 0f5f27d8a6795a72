// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opTextBackground() { invalidInstruction(); }  // TEXT_BACKGROUND
void Interpretador::opDelay() { invalidInstruction(); }  // DELAY
void Interpretador::opFlushInput() { invalidInstruction(); }  // FLUSH_INPUT
void Interpretador::opGotoxy() { invalidInstruction(); }  // GOTOXY
void Interpretador::opCursor() { invalidInstruction(); }  // CURSOR

}  // namespace lousa
