#include "vm/interpretador.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <ctime>
#include <functional>

#include "console/console.hpp"
#include "engine/translation.hpp"
#include "vm/latin1.hpp"

namespace lousa {

Interpretador::Interpretador(std::vector<Word> code, std::string directory, Console* consoleToUse)
    : console(consoleToUse), fileNames(FileNames::fromEnvironment(directory)) {
    memory.clear();
    bp = static_cast<Word>(code.size());
    codeSize = bp;
    pendingKey = 0;
    currentLine = 0;
    pendingLineFeed = false;
    runnerDirectory = std::move(directory);
    scopes.push("PROGRAM", bp);
    sets.reset();
    memory.adoptCode(std::move(code));
    // A run killed while it waits (SIGKILL cannot be caught) has its files on disk.
    if (console) console->setRunBeforeWait([this] { openFiles.flushEach(); });
}

Interpretador::~Interpretador() {
    if (console) console->setRunBeforeWait({});
    memory.clear();
}

void Interpretador::start() {
    if (console) console->flushInput();
    randomState = randomSeed ? *randomSeed : static_cast<UWord>(std::time(nullptr));
    randomState = randomState * 22695477U + 1U;  // the first draw is discarded
    running.store(!stopRequested.load(), std::memory_order_relaxed);
    runtimeErrorRaised = false;
    runtimeErrorText.clear();
    pc = 0;
}

void Interpretador::raiseRuntimeError(std::string message) {
    running.store(false, std::memory_order_relaxed);
    runtimeErrorRaised = true;
    runtimeErrorText.clear();
    runtimeErrorText = latin1(" => Erro de execução na linha ") + decimalText(currentLine) + "...\n" + message;
    throw ExecaoInterpretador{};
}

void Interpretador::raiseMemoryError() {
    raiseRuntimeError(latin1(" => Esse programa não pode ser executado, porque usa muita memória!"));
}

void Interpretador::invalidInstruction() { raiseRuntimeError(latin1("Instrução inválida")); }

void Interpretador::pushReal(double value) {
    sp = wrapAdd(sp, 2);
    storeReal(value, sp, wrapSub(sp, 1));
}

double Interpretador::popReal() {
    const double value = topReal();
    sp = wrapSub(sp, 2);
    return value;
}

void Interpretador::pushString(const std::string& text) {
    push(-1);
    std::size_t length = std::strlen(text.c_str());
    if (length > 255) length = 255;
    for (std::size_t i = length; i-- > 0;) push(static_cast<signed char>(text[i]));
}

std::string Interpretador::popString() {
    std::string result;
    // A string is at most 255 characters; the bound keeps a missing marker
    // from walking the whole memory.
    while (readWord(sp) != -1) {
        result.push_back(static_cast<char>(pop() & 0xFF));
        if (result.size() >= static_cast<std::size_t>(kStringScanLimit)) break;
    }
    if (readWord(sp) == -1) sp = wrapSub(sp, 1);
    return result;
}

std::pair<std::string, std::string> Interpretador::popStringOperands(Word kind) {
    std::string right;
    std::string left;
    if (kind == 2 || kind == 3)
        right = std::string(1, static_cast<char>(pop() & 0xFF));
    else
        right = popString();
    if (kind == 1 || kind == 3)
        left = std::string(1, static_cast<char>(pop() & 0xFF));
    else
        left = popString();
    return {std::move(left), std::move(right)};
}

std::string Interpretador::readStringAt(Word address, Word maxLength) const {
    std::string result;
    if (const Word* from = wordsAt(address, std::clamp<Word>(maxLength, 0, 255))) {
        for (Word i = 0; i < maxLength && i < 255 && from[i] != -1; ++i) result.push_back(static_cast<char>(from[i] & 0xFF));
        return result;
    }
    for (Word i = 0; i < maxLength && i < 255; ++i) {
        const Word w = readWordAt(address, i);
        if (w == -1) break;
        result.push_back(static_cast<char>(w & 0xFF));
    }
    return result;
}

void Interpretador::writeStringVar(Word address, Word capacity, std::string_view text) {
    const Word m = static_cast<Word>(std::min<std::size_t>(text.size(), capacity < 0 ? 0 : static_cast<std::size_t>(capacity)));
    if (Word* to = writableWordsAt(address, m < capacity ? m + 1 : m)) {
        for (Word i = 0; i < m; ++i) to[i] = static_cast<signed char>(text[static_cast<std::size_t>(i)]);
        if (m < capacity) to[m] = -1;
        return;
    }
    for (Word i = 0; i < m; ++i) writeWordAt(address, i, static_cast<signed char>(text[static_cast<std::size_t>(i)]));
    if (m < capacity) writeWordAt(address, m, -1);
}

void Interpretador::pushWordList(std::span<const Word> list) {
    const auto n = static_cast<std::int64_t>(list.size());
    if (Word* to = writableWordsAt(std::int64_t{sp} + 1, n + 1)) {
        // At once where the stack lies in the contiguous region, unless the
        // list itself lies where it is pushed (then word by word, as below).
        const std::less<const Word*> before;
        if (!before(to, list.data() + n) || !before(list.data(), to + n + 1)) {
            std::copy(list.begin(), list.end(), to);
            to[n] = static_cast<Word>(static_cast<UWord>(list.size()) / 2U);
            sp = static_cast<Word>(std::int64_t{sp} + n + 1);
            return;
        }
    }
    for (const Word w : list) push(w);
    push(static_cast<Word>(static_cast<UWord>(list.size()) / 2U));
}

std::vector<Word> Interpretador::popWordList() {
    const Word count = pop();
    std::vector<Word> list;
    if (count <= 0) return list;
    // The pairs cannot be more than the words below the count; a wild count
    // stops at the bottom of the stack instead of allocating for it, and a
    // wild sp counts no further than the contiguous region the stack lives in.
    const std::int64_t available = sp >= 0 ? (std::min<std::int64_t>(sp, memory.denseLimit()) + 1) / 2 : 0;
    const std::int64_t pairs = std::min<std::int64_t>(count, available);
    list.resize(static_cast<std::size_t>(pairs) * 2);
    for (std::int64_t i = pairs - 1; i >= 0; --i) {
        list[static_cast<std::size_t>(2 * i + 1)] = pop();
        list[static_cast<std::size_t>(2 * i)] = pop();
    }
    return list;
}

std::string directoryOf(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string{} : path.substr(0, cut + 1);
}

std::string decimalText(Word value) { return std::to_string(value); }

std::string hexText(Word value) {
    static constexpr char digits[] = "0123456789abcdef";
    auto u = static_cast<UWord>(value);
    std::string text;
    do {
        text.insert(text.begin(), digits[u & 0xFU]);
        u >>= 4;
    } while (u != 0);
    return text;
}

}  // namespace lousa
