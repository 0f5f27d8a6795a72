// Console input: read and readln from standard input, scanned by the C rules
// on the console's one input reader. End of input never waits: each kind of
// read reports it with its own message.

#include <algorithm>
#include <bit>
#include <cstdint>

#include "console/console.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace {

// Without a console (machine tests) the input is empty.
template <typename T, typename Read>
std::optional<T> fromInput(Console* console, Read read) {
    if (!console) return std::nullopt;
    return read(console->input());
}

bool equalsIgnoringCase(const std::string& word, std::string_view upper) {
    return std::equal(word.begin(), word.end(), upper.begin(), upper.end(), [](char a, char b) {
        return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
    });
}

}  // namespace

void Interpretador::opConRead() {
    const Word kind = operand(1);
    const Word target = readWord(sp);
    switch (kind) {
        case 1:
        case 5:
        case 6:
        case 7: {
            const auto value = fromInput<Word>(console, [](InputReader& in) { return in.scanInteger(); });
            if (!value) raiseRuntimeError(latin1(" => Inteiro inválido!"));
            Word stored = *value;
            if (kind == 5) stored = lowByte(*value);
            if (kind == 6) stored = signedByte(*value);
            if (kind == 7) stored = lowWord(*value);
            writeWord(target, stored);
            break;
        }
        case 2: {
            std::optional<std::uint8_t> c;
            do {
                c = fromInput<std::uint8_t>(console, [](InputReader& in) { return in.scanCharacter(); });
                if (!c) raiseRuntimeError(latin1(" => Tentativa de leitura após o fim da entrada!"));
            } while (*c == '\n');
            writeWord(target, static_cast<std::int8_t>(*c));
            break;
        }
        case 3: {
            const auto word = fromInput<std::string>(console, [](InputReader& in) { return in.scanWord(); });
            if (word && equalsIgnoringCase(*word, "TRUE")) {
                writeWord(target, 1);
            } else if (word && equalsIgnoringCase(*word, "FALSE")) {
                writeWord(target, 0);
            } else {
                raiseRuntimeError(latin1(" => Erro na leitura do valor booleano!"));
            }
            break;
        }
        case 4: {
            const auto value = fromInput<double>(console, [](InputReader& in) { return in.scanReal(); });
            if (!value) raiseRuntimeError(latin1(" => Real inválido!"));
            const auto bits = std::bit_cast<std::uint64_t>(*value);
            writeWordAt(target, 0, static_cast<Word>(static_cast<UWord>(bits >> 32)));
            writeWordAt(target, 1, static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU)));
            break;
        }
        default:
            pc = wrapAdd(pc, 2);  // an unknown kind reads nothing and keeps the address
            return;
    }
    sp = wrapSub(sp, 1);
    pc = wrapAdd(pc, 2);
}

void Interpretador::opConReadStr() {
    const Word max = std::max<Word>(operand(1), 0);
    const Word target = readWord(sp);
    std::optional<std::string> line;
    std::size_t length = 0;
    do {
        line = fromInput<std::string>(console, [&](InputReader& in) {
            return in.readLine(static_cast<std::size_t>(max), &length);
        });
        if (!line) raiseRuntimeError(latin1(" => Tentativa de leitura após o fim da entrada!"));
    } while (length == 0);  // empty lines, and the line end a value read left, are skipped
    const auto stored = static_cast<Word>(line->size());
    for (Word i = 0; i < stored; ++i)
        writeWordAt(target, i, static_cast<std::int8_t>((*line)[static_cast<std::size_t>(i)]));
    if (stored < max) writeWordAt(target, stored, -1);
    sp = wrapSub(sp, 1);
    pc = wrapAdd(pc, 3);
}

}  // namespace lousa
