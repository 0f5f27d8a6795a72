// Not yet built: every instruction of this family ends the run as an invalid one.

#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opReadKey() { invalidInstruction(); }  // READ_KEY
void Interpretador::opTextColor() { invalidInstruction(); }  // TEXT_COLOR
void Interpretador::opCrt() { invalidInstruction(); }  // CRT
void Interpretador::opTextWindow() { invalidInstruction(); }  // TEXT_WINDOW

}  // namespace lousa
