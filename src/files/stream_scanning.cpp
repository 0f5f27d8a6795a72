#include "files/stream_scanning.hpp"

#include "files/real_token.hpp"

namespace lousa {

namespace {

bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Skips white space; returns the first other character (already read) or kEnd.
int firstNonSpace(FluxoArquivo& stream) {
    int c = stream.getChar();
    while (c != FluxoArquivo::kEnd && isScanSpace(c)) c = stream.getChar();
    return c;
}

}  // namespace

bool isScanSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

ScanResult scanInteger(FluxoArquivo& stream, Word& value) {
    int c = firstNonSpace(stream);
    if (c == FluxoArquivo::kEnd) return ScanResult::End;
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = stream.getChar();
    }
    if (!isDigit(c)) {
        stream.ungetChar();
        return ScanResult::NoMatch;
    }
    UWord magnitude = 0;
    while (isDigit(c)) {
        magnitude = magnitude * 10U + static_cast<UWord>(c - '0');
        c = stream.getChar();
    }
    stream.ungetChar();
    value = negative ? wrapNeg(static_cast<Word>(magnitude)) : static_cast<Word>(magnitude);
    return ScanResult::Converted;
}

ScanResult scanReal(FluxoArquivo& stream, double& value) {
    int c = firstNonSpace(stream);
    if (c == FluxoArquivo::kEnd) return ScanResult::End;
    RealToken token;
    if (c == '+' || c == '-') {
        token.setNegative(c == '-');
        c = stream.getChar();
    }
    bool digits = false;
    while (isDigit(c)) {
        token.addDigit(static_cast<char>(c));
        digits = true;
        c = stream.getChar();
    }
    if (c == '.') {
        token.addPoint();
        c = stream.getChar();
        while (isDigit(c)) {
            token.addDigit(static_cast<char>(c));
            digits = true;
            c = stream.getChar();
        }
    }
    if (!digits) {
        stream.ungetChar();
        return ScanResult::NoMatch;
    }
    if (c == 'e' || c == 'E') {
        // The exponent counts only when digits follow; otherwise the "e" and
        // a sign after it go back to the stream.
        const std::int64_t exponentAt = stream.position() - 1;
        c = stream.getChar();
        if (c == '+' || c == '-') {
            token.setExponentNegative(c == '-');
            c = stream.getChar();
        }
        if (isDigit(c)) {
            while (isDigit(c)) {
                token.addExponentDigit(static_cast<char>(c));
                c = stream.getChar();
            }
            stream.ungetChar();
        } else {
            token.setExponentNegative(false);
            stream.seek(exponentAt);
        }
    } else {
        stream.ungetChar();
    }
    // The text is C's own syntax, so C's conversion gives C's value (a
    // signed infinity on overflow, zero or a denormal on underflow).
    value = token.value();
    return ScanResult::Converted;
}

ScanResult scanWord(FluxoArquivo& stream, std::string& word, std::size_t maxKept) {
    word.clear();
    int c = firstNonSpace(stream);
    if (c == FluxoArquivo::kEnd) return ScanResult::End;
    while (c != FluxoArquivo::kEnd && !isScanSpace(c)) {
        if (word.size() < maxKept) word.push_back(static_cast<char>(c));
        c = stream.getChar();
    }
    stream.ungetChar();
    return ScanResult::Converted;
}

std::string readLine(FluxoArquivo& stream, std::size_t limit) {
    std::string line;
    while (line.size() < limit) {
        const int c = stream.getChar();
        if (c == FluxoArquivo::kEnd) break;
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return line;
}

void skipLine(FluxoArquivo& stream) {
    int c = stream.getChar();
    while (c != FluxoArquivo::kEnd && c != '\n') c = stream.getChar();
}

}  // namespace lousa
