// Console control and timing: background colour, cursor position and
// visibility, pauses, and discarding typed-ahead input.

#include "console/console.hpp"
#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opTextBackground() {
    const Word colour = pop();
    if (console) console->screen().setTextBackground(colour);
    pc = wrapAdd(pc, 1);
}

void Interpretador::opDelay() {
    const Word milliseconds = pop();
    if (console) console->delay(milliseconds);
    pc = wrapAdd(pc, 1);
}

void Interpretador::opFlushInput() {
    if (console) console->flushInput();
    pc = wrapAdd(pc, 1);
}

void Interpretador::opGotoxy() {
    const Word row = readWord(sp);
    const Word column = readWord(wrapSub(sp, 1));
    if (console) {
        console->screen().gotoXY(column, row);  // outside the window nothing moves
        console->present();
    }
    sp = wrapSub(sp, 2);
    pc = wrapAdd(pc, 1);
}

void Interpretador::opCursor() {
    const bool hide = operand(1) != 0;
    if (console) {
        console->screen().setCursorVisible(!hide);
        console->present();
    }
    pc = wrapAdd(pc, 2);
}

}  // namespace lousa
