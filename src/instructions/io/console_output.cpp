// Console output: write and writeln to the screen, in the value texts shared
// with text files, placed by the console at the cursor.

#include "console/console.hpp"
#include "console/value_text.hpp"
#include "vm/interpretador.hpp"

namespace lousa {

void Interpretador::opConWrite() {
    const Word kind = operand(1);
    std::string text;
    switch (kind) {
        case 1: text = integerText(pop()); break;
        case 2: text = characterText(pop()); break;
        case 3: text = booleanText(pop()); break;
        case 4: text = realText(popReal()); break;
        case 5: text = "\r\n"; break;
        case 6: text = popString(); break;
        case 8: text = pointerText(pop()); break;
        case 9: text = setText(popWordList()); break;
        default: break;  // an unknown kind writes and pops nothing
    }
    if (console) console->write(text);
    pc = wrapAdd(pc, 2);
}

void Interpretador::opConWriteW() {
    const Word kind = operand(1);
    const Word width = pop();
    std::string text;
    switch (kind) {
        case 1: text = integerField(pop(), width); break;
        case 2: text = characterField(pop(), width); break;
        case 3: text = fieldText(booleanText(pop()), width); break;
        case 4: text = realField(popReal(), width); break;
        case 6: text = fieldText(popString(), width); break;
        case 8: text = fieldText(pointerText(pop()), width); break;
        default: break;  // end of line, sets and unknown kinds: only the width goes
    }
    if (console) console->write(text);
    pc = wrapAdd(pc, 2);
}

void Interpretador::opConWriteWd() {
    const Word decimals = pop();
    const Word width = pop();
    const double value = popReal();
    if (console) console->write(realField(value, width, decimals));
    pc = wrapAdd(pc, 1);
}

}  // namespace lousa
