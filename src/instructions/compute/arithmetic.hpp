#pragma once
// Integer and real arithmetic, bitwise and boolean operations, conversions,
// the standard mathematical functions and the pseudo-random generator.
//
// Integers wrap modulo 2^32 (wrapAdd and friends); reals are doubles in two
// words, the high half beneath the low half on the stack. Nothing here
// allocates: these run in the innermost loops of every program.

#include <bit>
#include <cmath>
#include <cstdint>

#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace compute {

// Truncation toward zero to 64 bits. Where the processor's conversion is
// undefined (NaN, infinities, magnitudes of 2^63 and more) it yields its
// "integer indefinite", the lowest 64-bit integer; so do we, without the
// undefined behaviour of an out-of-range cast.
inline std::int64_t truncTo64(double x) {
    if (x >= -9223372036854775808.0 && x < 9223372036854775808.0) return static_cast<std::int64_t>(x);
    return INT64_MIN;
}

// The low 32 bits of a 64-bit integer, as a signed word.
inline Word low32(std::int64_t v) { return static_cast<Word>(static_cast<UWord>(static_cast<std::uint64_t>(v))); }

// A real turned into an integer word: truncated to 64 bits, then cut to the
// low 32, so that out-of-range values wrap like integer arithmetic and NaN
// or infinities give 0.
inline Word wordFromReal(double x) { return low32(truncTo64(x)); }

// The argument of a one-argument real function. An integer argument (type 1)
// is widened in place: the stack grows by one word and its two top words
// become the real that the result is written over.
inline double realArgument(Interpretador& m, Word type) {
    if (type == 1) {
        const Word x = m.readWord(m.sp);
        m.sp = wrapAdd(m.sp, 1);
        return static_cast<double>(x);
    }
    return m.topReal();
}

inline void replaceTopReal(Interpretador& m, double value) { m.storeReal(value, m.sp, wrapSub(m.sp, 1)); }

// The result of a op b with NaN operands made independent of the order in
// which the compiler emitted the operation (the processor passes on the NaN
// of whichever operand it was given first): a NaN operand comes through
// quieted, a's before b's. Every copy of an instruction (the plain loop, the
// threaded loop's handlers and fast paths) then writes the same words.
inline double orderedNaN(double a, double b, double result) {
    if (result == result) return result;
    constexpr std::uint64_t kQuiet = std::uint64_t{1} << 51;
    if (a != a) return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) | kQuiet);
    if (b != b) return std::bit_cast<double>(std::bit_cast<std::uint64_t>(b) | kQuiet);
    return result;
}

// a op b for the two reals on top; the result takes the place of a.
template <typename Op>
inline void binaryReal(Interpretador& m, Op op) {
    const double b = m.topReal();
    const double a = m.readReal(wrapSub(m.sp, 3));
    m.sp = wrapSub(m.sp, 2);
    replaceTopReal(m, orderedNaN(a, b, op(a, b)));
}

// a op b for the two integers on top; the result takes the place of a.
template <typename Op>
inline void binaryInt(Interpretador& m, Op op) {
    const Word b = m.readWord(m.sp);
    m.sp = wrapSub(m.sp, 1);
    m.writeWord(m.sp, op(m.readWord(m.sp), b));
}

// The next number of the generator, 0..32767.
inline Word drawRandom(Interpretador& m) {
    m.randomState = m.randomState * 22695477U + 1U;
    return static_cast<Word>((m.randomState >> 16) & 32767U);
}

inline const char* const kDivisionByZero = " => Divisão por Zero!";

}  // namespace compute

// --- integers

inline void Interpretador::opAddInt() {
    compute::binaryInt(*this, [](Word a, Word b) { return wrapAdd(a, b); });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opSubInt() {
    compute::binaryInt(*this, [](Word a, Word b) { return wrapSub(a, b); });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opMulInt() {
    compute::binaryInt(*this, [](Word a, Word b) { return wrapMul(a, b); });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opDivInt() {
    const Word b = readWord(sp);
    if (b == 0) raiseRuntimeError(latin1(compute::kDivisionByZero));
    // The one quotient that does not fit, -2147483648 div -1, wraps to itself.
    compute::binaryInt(*this, [](Word a, Word d) { return d == -1 ? wrapNeg(a) : a / d; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opModInt() {
    const Word b = readWord(sp);
    if (b == 0) raiseRuntimeError(latin1(compute::kDivisionByZero));
    // Every remainder by -1 is 0; asking the processor traps on -2147483648.
    compute::binaryInt(*this, [](Word a, Word d) { return d == -1 ? 0 : a % d; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opAndInt() {
    compute::binaryInt(*this, [](Word a, Word b) { return a & b; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opOrInt() {
    compute::binaryInt(*this, [](Word a, Word b) { return a | b; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opXorInt() {
    compute::binaryInt(*this, [](Word a, Word b) { return a ^ b; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opNegInt() {
    writeWord(sp, wrapNeg(readWord(sp)));
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opNotBool() {
    writeWord(sp, readWord(sp) == 0 ? 1 : 0);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opNotInt() {
    writeWord(sp, ~readWord(sp));
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opOdd() {
    writeWord(sp, readWord(sp) % 2);  // 1, 0 or -1, the sign of the operand
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opPred() {
    writeWord(sp, wrapSub(readWord(sp), 1));
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opSucc() {
    writeWord(sp, wrapAdd(readWord(sp), 1));
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opInc() {
    const Word address = pop();
    writeWord(address, wrapAdd(readWord(address), 1));
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opDec() {
    const Word address = pop();
    writeWord(address, wrapSub(readWord(address), 1));
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opRandom() {
    const Word n = readWord(sp);
    const Word draw = compute::drawRandom(*this);
    // The draw is never negative, so a negative n gives a remainder of 0 or
    // more, and n = -2147483648 leaves the draw itself; n = 0 gives 0.
    writeWord(sp, n == 0 ? 0 : draw % n);
    pc = wrapAdd(pc, 1);
}

// --- reals

inline void Interpretador::opAddReal() {
    compute::binaryReal(*this, [](double a, double b) { return a + b; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opSubReal() {
    compute::binaryReal(*this, [](double a, double b) { return a - b; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opMulReal() {
    compute::binaryReal(*this, [](double a, double b) { return a * b; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opDivReal() {
    // A NaN divisor does not compare equal to zero and is divided by.
    if (topReal() == 0.0) raiseRuntimeError(latin1(compute::kDivisionByZero));
    compute::binaryReal(*this, [](double a, double b) { return a / b; });
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opNegReal() {
    compute::replaceTopReal(*this, -topReal());
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opAbs() {
    if (operand(1) == 1) {
        const Word x = readWord(sp);
        if (x < 0) writeWord(sp, wrapNeg(x));
    } else {
        const double x = topReal();
        if (x < 0) compute::replaceTopReal(*this, -x);  // -0.0 is not below 0 and stays
    }
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opToReal() {
    if (operand(1) == 2) {
        const Word x = readWord(sp);
        sp = wrapAdd(sp, 1);
        compute::replaceTopReal(*this, static_cast<double>(x));
    } else {
        // The integer lies beneath a real: widen it and put the real back on top.
        const Word high = readWord(wrapSub(sp, 1));
        const Word low = readWord(sp);
        sp = wrapSub(sp, 2);
        const Word x = readWord(sp);
        sp = wrapAdd(sp, 1);
        compute::replaceTopReal(*this, static_cast<double>(x));
        push(high);
        push(low);
    }
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opArctan() {
    compute::replaceTopReal(*this, std::atan(compute::realArgument(*this, operand(1))));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opCos() {
    compute::replaceTopReal(*this, std::cos(compute::realArgument(*this, operand(1))));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opSin() {
    compute::replaceTopReal(*this, std::sin(compute::realArgument(*this, operand(1))));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opExp() {
    compute::replaceTopReal(*this, std::exp(compute::realArgument(*this, operand(1))));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opLn() {
    const double x = compute::realArgument(*this, operand(1));
    if (x == 0.0) raiseRuntimeError(latin1(" => O argumento da função LN não pode ser zero! "));
    compute::replaceTopReal(*this, std::log(x));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opSqrt() {
    const double x = compute::realArgument(*this, operand(1));
    if (x < 0.0 || std::isnan(x))
        raiseRuntimeError(latin1(" => O argumento da função SQRT não pode ser menor que zero!"));
    compute::replaceTopReal(*this, std::sqrt(x));
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opSqr() {
    if (operand(1) == 1) {
        const Word x = readWord(sp);
        writeWord(sp, wrapMul(x, x));
    } else {
        const double x = topReal();
        compute::replaceTopReal(*this, x * x);
    }
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opFrac() {
    if (operand(1) == 1) {
        sp = wrapAdd(sp, 1);
        compute::replaceTopReal(*this, 0.0);
    } else {
        const double x = topReal();
        // The whole part is cut to 32 bits as the integer conversion does, so
        // beyond 2^31 this is not the fractional part; that is the rule.
        const long double whole = compute::low32(compute::truncTo64(x));
        compute::replaceTopReal(*this, static_cast<double>(static_cast<long double>(x) - whole));
    }
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opInt() {
    const bool integer = operand(1) == 1;
    const double x = integer ? static_cast<double>(readWord(sp)) : topReal();
    // Rounded to single precision first (so INT(2.9999999) is 3). Only values
    // below 2^63 go through float: the cast of a larger double is undefined,
    // and those give the indefinite value anyway.
    const double single =
        std::fabs(x) < 9223372036854775808.0 ? static_cast<double>(static_cast<float>(x)) : x;
    const Word result = compute::wordFromReal(single);
    if (!integer) sp = wrapSub(sp, 1);
    writeWord(sp, result);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opRound() {
    if (operand(1) == 2) {
        const double x = topReal();
        sp = wrapSub(sp, 1);
        writeWord(sp, compute::wordFromReal(std::floor(x + 0.5)));
    } else {
        writeWord(sp, compute::wordFromReal(std::floor(static_cast<double>(readWord(sp)) + 0.5)));
    }
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opTrunc() {
    const double x = topReal();
    sp = wrapSub(sp, 1);
    writeWord(sp, compute::wordFromReal(std::trunc(x)));
    pc = wrapAdd(pc, 1);
}

}  // namespace lousa
