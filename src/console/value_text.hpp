#pragma once
// The texts of values as write and writeln produce them, for the console and
// for text files alike. Each function gives exactly the bytes that the C
// conversion named beside it gives (in the "C" locale), so a program prints
// the same text whatever the output goes to.
//
// Widths and decimals come from the program's stack, so a hostile word could
// ask for a two-gigabyte field: their magnitude is cut to the limits below,
// far beyond any line a console or a text file shows.

#include <span>
#include <string>
#include <string_view>

#include "vm/word.hpp"

namespace lousa {

// Largest field width honoured (a negative width honours the same magnitude).
inline constexpr Word kMaxFieldWidth = 65535;
// Largest number of decimals honoured by the width-and-decimals form.
inline constexpr Word kMaxDecimals = 65535;

// --- natural forms
std::string integerText(Word value);    // "%d"
std::string characterText(Word value);  // "%c" of the low byte (a 0 byte is one byte 0)
std::string booleanText(Word value);    // "TRUE" for any non-zero word, else "FALSE"
std::string realText(double value);     // "%f": six decimals, never an exponent
std::string pointerText(Word value);    // "nil" for 0, else "$" and lower-case hex of the unsigned word
// "[ 1..3, 7 ]" from a set's word list (low1, high1, low2, high2 ...); "[  ]"
// when empty. A trailing unpaired word is ignored.
std::string setText(std::span<const Word> pairs);

// --- field forms: right-aligned in |width| columns (left-aligned when the
// width is negative), never cut when the text is longer
std::string fieldText(std::string_view text, Word width);  // "%*s": the text up to its first 0 byte
std::string integerField(Word value, Word width);          // "%*d"
std::string characterField(Word value, Word width);        // "%*c"
std::string realField(double value, Word width);           // "%*f"
// "%*.*f"; a negative number of decimals gives six, as C's negative precision does.
std::string realField(double value, Word width, Word decimals);

}  // namespace lousa
