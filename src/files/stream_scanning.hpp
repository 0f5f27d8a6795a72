#pragma once
// Formatted reading from a file stream by the rules of C's scanning
// conversions, as the text-file read instructions use them: "%d", "%lf",
// "%s", "%c" and a line read in the manner of fgets.

#include <cstddef>
#include <string>

#include "files/file_stream.hpp"
#include "vm/word.hpp"

namespace lousa {

enum class ScanResult {
    Converted,  // a value was read
    NoMatch,    // the text there is not a value of the kind; the offending character is left unread
    End,        // the end of the file came before any value
};

// C's white space: blank, tab, line feed, vertical tab, form feed, carriage return.
bool isScanSpace(int c);

// "%d": white space skipped, an optional sign, decimal digits. A value
// beyond 32 bits wraps modulo 2^32. As in C, a sign without digits after it
// stays consumed.
ScanResult scanInteger(FluxoArquivo& stream, Word& value);

// "%lf": white space skipped, then an optional sign, digits with an optional
// decimal point (at least one digit), and an optional exponent. An "e" that
// no digits follow is left unread.
ScanResult scanReal(FluxoArquivo& stream, double& value);

// "%s": white space skipped, then the characters up to the next white space.
// At most maxKept characters are kept; the rest of the word is consumed.
ScanResult scanWord(FluxoArquivo& stream, std::string& word, std::size_t maxKept = 255);

// fgets: at most `limit` characters, ending after a line feed, which is kept.
std::string readLine(FluxoArquivo& stream, std::size_t limit);

// Consumes characters up to and including the next line feed (or the end).
void skipLine(FluxoArquivo& stream);

}  // namespace lousa
