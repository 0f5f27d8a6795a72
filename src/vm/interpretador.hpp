#pragma once
// The virtual machine: registers, word memory, the storage tables it owns,
// the memory primitives every instruction works through, and one operation
// per instruction (declared from the opcode table, defined family by family
// under src/instructions).

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/file_names.hpp"
#include "storage/lista_arquivos.hpp"
#include "storage/lista_conjuntos.hpp"
#include "storage/memoria_alocacao_dinamica.hpp"
#include "engine/tier.hpp"
#include "storage/pilha_escopo.hpp"
#include "vm/word.hpp"
#include "vm/word_memory.hpp"

namespace lousa {

class Console;
namespace engine {
class Translation;
}

// Thrown by raiseRuntimeError; carries nothing, the text is in the machine's
// runtimeErrorText.
struct ExecaoInterpretador {};

class Interpretador {
public:
    Interpretador(std::vector<Word> code, std::string runnerDirectory, Console* console = nullptr);
    ~Interpretador();
    Interpretador(const Interpretador&) = delete;
    Interpretador& operator=(const Interpretador&) = delete;

    // The ceiling on what the storage below may hold: set
    // `memoryAccount.ceiling` (bytes) before running. Declared first, as the
    // storage gives its memory back to it when destroyed.
    MemoryAccount memoryAccount;

    // --- registers and owned state (names as the machine's documentation gives them)
    Word pc = 0;
    Word sp = 0;
    Word bp = 0;
    WordMemory memory{&memoryAccount};
    MemoriaAlocacaoDinamica heap{&memoryAccount};
    ListaArquivos openFiles;
    ListaConjuntos sets{&memoryAccount};
    PilhaEscopo scopes{&memoryAccount};
    Word currentLine = 0;
    bool pendingLineFeed = false;
    std::string runnerDirectory;
    std::uint8_t pendingKey = 0;

    // --- implementation state beyond the documented fields
    // The run's own state. `running` is atomic so that a signal handler may
    // stop the loop between two instructions; a stop request outlives start(),
    // so a signal that comes before the loop begins still stops the run.
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    bool runtimeErrorRaised = false;
    std::string runtimeErrorText;
    // Async-signal-safe: ends the run at the next instruction boundary.
    void requestStop() noexcept {
        stopRequested.store(true);
        running.store(false);
    }
    Console* console = nullptr;  // where console instructions read and write; owned by the caller
    int ioErrorNumber = 0;       // the I/O error number of the last file operation
    UWord randomState = 0;       // state of the RANDOM generator
    std::optional<UWord> randomSeed;  // where RANDOM starts (runs that must repeat); else the clock
    Word codeSize = 0;           // instructions are fetched only from words 0..codeSize-1
    FileNames fileNames;         // turns the program's file names into what is opened
    Tier tier = tierFromEnvironment();  // which loop run and runBudget use
    std::unique_ptr<engine::Translation> translation;  // the fast tier's code, made on first use

    // The opcode at pc, or an unassigned number when pc lies outside the code.
    [[nodiscard]] UWord fetchOpcode() const {
        if (static_cast<UWord>(pc) < static_cast<UWord>(codeSize)) [[likely]]
            return static_cast<UWord>(memory.denseData()[pc]);
        return 4;
    }

    // --- run
    void start();
    void step();
    void run();
    // Runs at most maxSteps instructions (for fuzzing and tests); returns the
    // number executed. The run may still be going when it returns.
    std::uint64_t runBudget(std::uint64_t maxSteps);

    [[noreturn]] void raiseRuntimeError(std::string message);
    // " => Esse programa não pode ser executado, porque usa muita memória!"
    [[noreturn]] void raiseMemoryError();

    // --- memory primitives
    [[nodiscard]] Word readWordAt(Word base, Word offset) const {
        if (base < 0) return heap.read(wrapSub(base, offset));
        return memory.read(static_cast<UWord>(wrapAdd(base, offset)));
    }
    [[nodiscard]] Word readWord(Word address) const {
        if (static_cast<UWord>(address) < memory.denseSize()) [[likely]]
            return memory.read(static_cast<UWord>(address));
        return readWordAt(address, 0);
    }
    void writeWordAt(Word base, Word offset, Word value) {
        if (base < 0) {
            heap.write(wrapSub(base, offset), value);
            return;
        }
        memory.write(static_cast<UWord>(wrapAdd(base, offset)), value);
    }
    void writeWord(Word address, Word value) {
        if (address >= 0) {
            memory.write(static_cast<UWord>(address), value);
            return;
        }
        heap.write(address, value);
    }

    // Word memory seen as arrays (WordMemory::denseSpan): the words from
    // `first` up, `count` of them, or null when any lies outside the
    // contiguous region (a heap address, a wild one) or, for writing, is a
    // watched word. Callers fall back to the word-by-word primitives.
    [[nodiscard]] const Word* wordsAt(std::int64_t first, std::int64_t count) const {
        return first >= 0 && count >= 0 && first + count <= INT32_MAX
                   ? memory.denseSpan(static_cast<UWord>(first), static_cast<UWord>(count))
                   : nullptr;
    }
    [[nodiscard]] Word* writableWordsAt(std::int64_t first, std::int64_t count) {
        return first >= 0 && count >= 0 && first + count <= INT32_MAX
                   ? memory.writableSpan(static_cast<UWord>(first), static_cast<UWord>(count))
                   : nullptr;
    }

    void push(Word value) {
        sp = wrapAdd(sp, 1);
        writeWord(sp, value);
    }
    Word pop() {
        const Word value = readWord(sp);
        sp = wrapSub(sp, 1);
        return value;
    }
    // Inline operand i (1-based) of the instruction at pc.
    [[nodiscard]] Word operand(int i) const { return readWord(wrapAdd(pc, i)); }

    // Inline: the real instructions call these once or twice each.
    void storeReal(double value, Word lowAddress, Word highAddress) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        writeWord(lowAddress, static_cast<Word>(static_cast<UWord>(bits & 0xFFFFFFFFU)));
        writeWord(highAddress, static_cast<Word>(static_cast<UWord>(bits >> 32)));
    }
    static double realFromWords(Word high, Word low) {
        const std::uint64_t bits = (std::uint64_t{static_cast<UWord>(high)} << 32) | static_cast<UWord>(low);
        return std::bit_cast<double>(bits);
    }
    [[nodiscard]] double readReal(Word address) const { return realFromWords(readWord(address), readWord(wrapAdd(address, 1))); }
    [[nodiscard]] double topReal() const { return realFromWords(readWord(wrapSub(sp, 1)), readWord(sp)); }
    void pushReal(double value);
    double popReal();

    // --- strings and word lists
    void pushString(const std::string& text);
    std::string popString();
    std::pair<std::string, std::string> popStringOperands(Word kind);
    [[nodiscard]] std::string readStringAt(Word address, Word maxLength) const;
    [[nodiscard]] std::string readStringVar(Word address) const { return readStringAt(address, 255); }
    void writeStringVar(Word address, Word capacity, std::string_view text);
    void pushWordList(std::span<const Word> list);
    std::vector<Word> popWordList();

    // --- one operation per instruction
#define OP(num, name, operands, handler) void op##handler();
#include "vm/opcodes.def"
#undef OP

private:
    void invalidInstruction();
    void endWithMemoryMessage() noexcept;
    template <class Body>
    void startAndRun(Body body);
    void reserveFrame(std::int64_t newTop, Word words, Word extra);
    void zeroBelowTop(Word n);
    // Raises the memory message unless `words` more words fit above sp.
    void ensureStackRoom(Word words);
    [[nodiscard]] Word frameOf(Word levels) const;
    void checkRange(Word v, Word low, Word high);
    template <bool Budgeted>
    void loop(std::uint64_t maxSteps, std::uint64_t& executed);
    void threadedLoop();
};

// The directory part of a path: through its last '/' or '\\', or empty.
std::string directoryOf(const std::string& path);

// Decimal and hexadecimal texts used by messages and value output.
std::string decimalText(Word value);
std::string hexText(Word value);

}  // namespace lousa
