#pragma once
// String values: concatenation, substrings, the in-place DELETE and INSERT
// on string variables, number-to-text (STR) and text-to-number (VAL),
// assignment, LENGTH, POS, UPCASE and the stack-layout conversions.
//
// On the stack a string is a -1 marker with its characters above it, the
// first character on top; in a variable the characters run from offset 0
// and a -1 ends a string shorter than the variable's capacity.

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <string_view>

#include "instructions/compute/arithmetic.hpp"
#include "instructions/compute/comparisons.hpp"
#include "instructions/compute/dense_memory.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa {

namespace compute {

// Pushes the character words chars[0..length) as a string value, chars[0]
// on top.
inline void pushChars(Interpretador& m, const Word* chars, Word length) {
    if (Word* to = m.writableWordsAt(std::int64_t{m.sp} + 1, std::int64_t{length} + 1)) {
        to[0] = -1;
        copyReversed(to + length, chars, length);
        m.sp = wrapAdd(m.sp, length + 1);
        return;
    }
    m.push(-1);
    for (Word i = length; i-- > 0;) m.push(chars[i]);
}

// Copies the characters of a stack operand into chars as string-value words
// (low byte, sign-extended), at most room of them and none from a byte 0 on.
// Returns how many were taken; ended tells whether a byte 0 stopped it.
inline Word takeChars(const Interpretador& m, const StackText& text, Word room, Word* chars, bool& ended) {
    const Word n = std::min(text.length, room);
    Word taken = 0;
    if (text.words) {
        taken = firstDown(text.words, n, isByteZero);
        for (Word i = 0; i < taken; ++i) chars[i] = signedByte(text.words[-i]);
    } else {
        for (; taken < n && text.at(m, taken) != 0; ++taken) chars[taken] = signedByte(text.at(m, taken));
    }
    ended = taken < n;
    return taken;
}


// The characters of the left operand then the right one into chars (room
// for 255): the result is at most 255 characters and ends before a byte 0,
// as pushString cuts. Returns how many.
inline Word joinedChars(const Interpretador& m, const StringOperands& ops, Word* chars) {
    bool ended = false;
    Word length = takeChars(m, ops.left, 255, chars, ended);
    if (!ended) length += takeChars(m, ops.right, 255 - length, chars + length, ended);
    return length;
}

// Where sub (the left operand) first occurs in s (the right one), from 1,
// or 0; searched where the operands lie.
inline Word positionOf(const Interpretador& m, const StringOperands& ops) {
    const StackText& sub = ops.left;
    const StackText& s = ops.right;
    const unsigned char first = sub.length > 0 ? sub.at(m, 0) : 0;
    const Word last = s.length - sub.length;  // the last place sub may start
    if (s.words && sub.length > 0) {
        // Where s lies in the contiguous region, its places holding sub's
        // first character are found eight words at a time.
        const auto isFirst = [first = Word{first}](auto w) { return (w & 0xFF) == first; };
        for (Word at = 0; at <= last; ++at) {
            at += firstDown(s.words - at, last - at + 1, isFirst);
            Word i = 1;
            while (at <= last && i < sub.length && s.at(m, at + i) == sub.at(m, i)) ++i;
            if (at <= last && i == sub.length) return at + 1;
        }
        return 0;
    }
    for (Word at = 0; at <= last; ++at) {
        if (sub.length > 0 && s.at(m, at) != first) continue;
        Word i = 0;
        while (i < sub.length && s.at(m, at + i) == sub.at(m, i)) ++i;
        if (i == sub.length) return at + 1;
    }
    return 0;
}

// COPY's substring of s from start (from 0, not below 0) for count
// characters: the end (exclusive) of the characters it keeps, at most 255.
inline std::int64_t copyEnd(const StackText& s, std::int64_t start, Word count) {
    if (count > 0 && s.length >= start) return std::min<std::int64_t>({s.length, start + count, start + 255});
    return start;
}

// Whether the word ranges [a, a + n) and [b, b + k) have no word in common.
inline bool apart(std::int64_t a, std::int64_t n, std::int64_t b, std::int64_t k) { return a + n <= b || b + k <= a; }

// LOAD_STR's usual case: the variable at address (reach words at most, up
// to its -1) pushed with its marker at top, where both lie apart in the
// contiguous region and the stack words may be written. Returns the
// string's length, or -1 with nothing written. The characters copied hold
// no -1 (the first one ends the variable's string).
[[gnu::always_inline]] inline Word loadStringAt(DenseMemory d, Word address, Word top, Word reach) {
    if (!d.holds(address, reach) || !d.writable(top, 1)) return -1;
    const Word count = firstUp(d.words + address, reach, isMarker);
    // A variable overlapping the words written is read as word by word, by the general path.
    if (!d.writable(top, count + 1) || !apart(address, std::min(count + 1, reach), top, count + 1)) return -1;
    d.words[top] = -1;
    copyReversed(d.words + top + count, d.words + address, count);
    return count;
}

// STORE_STR's writing into a variable whose words `to` lie in the
// contiguous region: the first n characters of text, then a -1 when n is
// below the capacity. A variable overlapping the string is written in the
// same order as word by word, so that it reads alike.
inline void writeText(Word* to, Word address, const StackText& text, Word n, Word capacity) {
    if (n > 0 && apart(address, n < capacity ? n + 1 : n, std::int64_t{text.top} - n + 1, n)) {
        copyReversed(to + n - 1, text.words - n + 1, n);
    } else {
        for (Word i = 0; i < n; ++i) to[i] = text.words[-i];
    }
    if (n < capacity) to[n] = -1;
}

// COPY's substring, characters [start, end) of s, moved down to `to`: the
// marker, then the characters in ascending order of address on both sides,
// as word by word (a byte 0 stays in it). Returns its length.
inline Word moveSubstring(Word* to, const StackText& s, std::int64_t start, std::int64_t end) {
    to[0] = -1;
    const auto n = static_cast<Word>(end - start);
    if (n > 0) {
        const Word* from = s.words - (end - 1);
        for (Word k = 0; k < n; ++k) to[k + 1] = signedByte(from[k]);
    }
    return n;
}

// The capacity operand of a string variable, never below 0.
inline Word capacityOf(Word n) { return n < 0 ? 0 : n; }

// Upper case of one code-page-850 byte: the accented small letters that have
// a capital in the code page, and a-z.
inline unsigned char upperCp850(unsigned char c) {
    static constexpr std::array<std::pair<unsigned char, unsigned char>, 20> kAccented{{
        {129, 154}, {130, 144}, {131, 182}, {132, 142}, {133, 183}, {135, 128}, {136, 210},
        {137, 211}, {139, 216}, {140, 215}, {147, 226}, {148, 153}, {150, 234}, {160, 181},
        {161, 214}, {162, 224}, {163, 233}, {164, 165}, {198, 199}, {228, 229},
    }};
    for (const auto& [lower, upper] : kAccented)
        if (c == lower) return upper;
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// The longest prefix of text that reads as a decimal floating-point number
// (blanks, sign, digits, point and fraction, exponent), as the C library's
// strtod reads it but without its locale, hexadecimal, infinity and NaN
// forms. Returns the value and sets end to where the number stops, or to 0
// when there is none.
inline double parseNumber(std::string_view text, std::size_t& end) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const auto digitsFrom = [&](std::size_t k) {
        while (k < text.size() && text[k] >= '0' && text[k] <= '9') ++k;
        return k;
    };
    std::size_t j = digitsFrom(i);
    bool digits = j > i;
    if (j < text.size() && text[j] == '.') {
        const std::size_t k = digitsFrom(j + 1);
        digits = digits || k > j + 1;
        j = k;
    }
    if (!digits) {
        end = 0;
        return 0.0;
    }
    if (j < text.size() && (text[j] == 'e' || text[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
        const std::size_t e = digitsFrom(k);
        if (e > k) j = e;
    }
    end = j;
    // The grammar is checked; strtod only computes the value, in the C locale
    // so that the decimal point is always '.'.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string number(text.substr(start, j - start));
    const locale_t previous = uselocale(cLocale);
    const double value = std::strtod(number.c_str(), nullptr);
    uselocale(previous);
    return value;
}

}  // namespace compute

inline void Interpretador::opConcat() {
    // Built in a local buffer from the operands where they lie, then pushed
    // over them.
    const compute::StringOperands ops = compute::stackStringOperands(*this, operand(1));
    std::array<Word, 255> chars;
    const Word length = compute::joinedChars(*this, ops, chars.data());
    sp = ops.left.below;
    compute::pushChars(*this, chars.data(), length);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opStoreStr() {
    const Word capacity = compute::capacityOf(operand(1));
    const compute::StackText text = compute::stackString(*this, sp);
    const Word address = readWord(text.below);
    const Word m = std::min(text.length, capacity);
    const Word written = m < capacity ? m + 1 : m;
    if (Word* to = text.words ? writableWordsAt(address, written) : nullptr) {
        compute::writeText(to, address, text, m, capacity);
    } else {
        for (Word i = 0; i < m; ++i) writeWordAt(address, i, readWord(wrapSub(sp, i)));
        if (m < capacity) writeWordAt(address, m, -1);
    }
    sp = wrapSub(text.below, 1);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opCharToStr() {
    const Word c = readWord(sp);
    writeWord(sp, -1);
    push(c);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opCopy() {
    const Word count = pop();
    const std::int64_t start = std::max<std::int64_t>(std::int64_t{pop()} - 1, 0);
    const compute::StackText s = compute::stackString(*this, sp);
    // The substring already lies on the stack, character i at s.top - i:
    // it moves down over the string's lower part (a byte 0 stays in it),
    // the last character deepest, cut to 255 characters.
    const std::int64_t end = compute::copyEnd(s, start, count);
    Word top = wrapAdd(s.below, 1);
    // Where the string lies in the contiguous region, the words it moves to do too.
    // In ascending order of address on both sides, after the marker, as
    // word by word (a string without a marker can have its deepest word
    // read after the marker is written over it).
    if (Word* to = s.words ? writableWordsAt(top, end - start + 1) : nullptr) {
        sp = wrapAdd(top, compute::moveSubstring(to, s, start, end));
        pc = wrapAdd(pc, 1);
        return;
    }
    writeWord(top, -1);
    for (std::int64_t i = end - 1; i >= start; --i) {
        top = wrapAdd(top, 1);
        writeWord(top, static_cast<signed char>(s.at(*this, static_cast<Word>(i))));
    }
    sp = top;
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opDelete() {
    const Word capacity = compute::capacityOf(operand(1));
    std::int64_t count = pop();
    const std::int64_t index = pop();
    const Word address = pop();
    std::string s = readStringAt(address, capacity);
    const auto length = static_cast<std::int64_t>(s.size());
    if (index >= 1 && count >= 1 && length >= index) {
        count = std::min(count, length - index + 1);
        s.erase(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
        writeStringVar(address, capacity, s);
    }
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opInsert() {
    const Word capacity = compute::capacityOf(operand(1));
    const bool sourceIsChar = operand(2) != 0;
    const std::int64_t index = pop();
    const Word address = pop();
    const std::string source = sourceIsChar ? std::string(1, static_cast<char>(pop() & 0xFF)) : popString();
    std::string s = readStringAt(address, capacity);
    if (index < 2)
        s.insert(0, source);
    else if (static_cast<std::int64_t>(s.size()) < index)
        s += source;
    else
        s.insert(static_cast<std::size_t>(index - 1), source);
    writeStringVar(address, capacity, s);  // what passes the capacity is lost
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opStr() {
    const Word capacity = operand(1);
    const Word address = pop();
    std::array<char, 12> digits;  // "-2147483648" is the longest
    const std::to_chars_result written = std::to_chars(digits.data(), digits.data() + digits.size(), pop());
    const std::string_view text(digits.data(), static_cast<std::size_t>(written.ptr - digits.data()));
    if (capacity < static_cast<Word>(text.size()))
        raiseRuntimeError(latin1(" => Cadeia muito pequena para converter de inteiro para string em STR!"));
    writeStringVar(address, capacity, text);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opStrToBlock() {
    const Word n = operand(1);
    const std::string s = popString();
    const Word base = sp;
    for (const char c : s) push(static_cast<signed char>(c));
    if (static_cast<std::int64_t>(s.size()) < n) push(-1);
    sp = wrapAdd(base, n);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opStrLength() {
    const compute::StackText text = compute::stackString(*this, sp);
    sp = text.below;
    push(text.length);
    pc = wrapAdd(pc, 1);
}

inline void Interpretador::opStrPos() {
    const compute::StringOperands ops = compute::stackStringOperands(*this, operand(1));
    const Word found = compute::positionOf(*this, ops);
    sp = ops.left.below;
    push(found);
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opUpcase() {
    if (operand(1) != 0) {
        const std::string s = popString();
        push(-1);
        for (std::size_t i = s.size(); i-- > 0;)
            push(static_cast<signed char>(compute::upperCp850(static_cast<unsigned char>(s[i]))));
    } else {
        // A single character goes through the plain a-z rule only.
        const Word c = readWord(sp);
        if (c >= 'a' && c <= 'z') writeWord(sp, c - 'a' + 'A');
    }
    pc = wrapAdd(pc, 2);
}

inline void Interpretador::opVal() {
    const bool integerTarget = operand(1) == 1;
    const bool fromString = operand(2) != 0;
    const Word codeAddress = pop();
    const Word target = pop();
    std::string text = fromString ? popString() : std::string(1, static_cast<char>(pop() & 0xFF));
    // The text ends at a byte 0, as a C string does.
    text.resize(std::char_traits<char>::length(text.c_str()));
    std::size_t end = 0;
    const double value = compute::parseNumber(text, end);
    const Word code = end == text.size() ? 0 : static_cast<Word>(end) + 1;
    if (integerTarget) {
        writeWord(target, compute::wordFromReal(value));
    } else {
        // High half in the target word, low half in the next one (downward in the heap).
        const auto bits = std::bit_cast<std::uint64_t>(value);
        writeWordAt(target, 0, static_cast<Word>(static_cast<UWord>(bits >> 32)));
        writeWordAt(target, 1, static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU)));
    }
    writeWord(codeAddress, code);
    pc = wrapAdd(pc, 3);
}

inline void Interpretador::opLoadStr() {
    const Word address = readWord(sp);
    // A string value holds at most 255 characters, whatever the capacity says.
    const Word capacity = std::min<Word>(operand(1), 255);
    // At once where the variable and the words from sp up are contiguous and
    // apart: then writing the marker first cannot change what is read.
    if (const Word loaded = compute::loadStringAt(compute::denseMemory(*this), address, sp, std::max<Word>(capacity, 0));
        loaded >= 0) {
        sp = wrapAdd(sp, loaded);
        pc = wrapAdd(pc, 2);
        return;
    }
    writeWord(sp, -1);
    Word count = 0;
    while (count < capacity && readWordAt(address, count) != -1) ++count;
    for (Word i = count; i-- > 0;) push(readWordAt(address, i));
    pc = wrapAdd(pc, 2);
}

}  // namespace lousa
