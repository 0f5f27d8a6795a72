#pragma once
// A machine for instruction tests: the code under test at address 0, the
// stack starting well above it, one instruction executed per step().

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "vm/interpretador.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::test {

constexpr Word op(Opcode code) { return static_cast<Word>(code); }

// The bytes of a run-time error text for the current line and a message.
inline std::string errorText(Word line, const std::string& message) {
    return " => Erro de execu\xE7\xE3o na linha " + std::to_string(line) + "...\n" + message;
}

inline constexpr const char* kDivisionByZero = " => Divis\xE3o por Zero!";
inline constexpr const char* kTooMuchMemory =
    " => Esse programa n\xE3o pode ser executado, porque usa muita mem\xF3ria!";

inline double realOf(Word high, Word low) {
    return std::bit_cast<double>((std::uint64_t{static_cast<UWord>(high)} << 32) | static_cast<UWord>(low));
}

struct Vm {
    static constexpr Word kStackBase = 1000;

    Interpretador m;

    explicit Vm(std::vector<Word> code) : m(std::move(code), "", nullptr) {
        m.start();
        m.sp = kStackBase;
    }

    void push(Word w) { m.push(w); }
    void pushAll(std::initializer_list<Word> words) {
        for (Word w : words) m.push(w);
    }
    void pushReal(double d) { m.pushReal(d); }
    void writeTop(Word w) { m.writeWord(m.sp, w); }
    // A string value as the machine lays it out: marker, then characters last first.
    void pushString(const std::string& s) {
        m.push(-1);
        for (std::size_t i = s.size(); i-- > 0;) m.push(static_cast<signed char>(s[i]));
    }
    void pushSet(const std::vector<Word>& pairs) { m.pushWordList(pairs); }

    void step() { m.step(); }
    // Runs one instruction that must fail; returns the message part of the error text.
    std::string failingStep() {
        try {
            m.step();
        } catch (const ExecaoInterpretador&) {
            const auto cut = m.runtimeErrorText.find("...\n");
            return cut == std::string::npos ? m.runtimeErrorText : m.runtimeErrorText.substr(cut + 4);
        }
        ADD_FAILURE() << "the instruction did not raise a run-time error";
        return {};
    }

    [[nodiscard]] Word top() const { return m.readWord(m.sp); }
    [[nodiscard]] double topReal() const { return m.topReal(); }
    [[nodiscard]] Word depth() const { return m.sp - kStackBase; }
    // The words above the stack base, deepest first.
    [[nodiscard]] std::vector<Word> stack() const {
        std::vector<Word> words;
        for (Word a = kStackBase + 1; a <= m.sp; ++a) words.push_back(m.readWord(a));
        return words;
    }
    [[nodiscard]] std::string popString() { return m.popString(); }
};

}  // namespace lousa::test
