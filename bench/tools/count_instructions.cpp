// lousa-count FILE: runs a program as the runner would (process console,
// relative file names beside FILE, the run-time error text at the end) and
// writes the number of executed instructions to standard error as
// "instructions: N", then, when an invalid instruction stopped the run (an
// instruction whose family is not built yet, say), which one it was.
// FILE is a packed executable or a code text.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "console/console.hpp"
#include "loader/arquivo_compilado.hpp"
#include "loader/decompressor.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"
#include "vm/opcode_table.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lousa-count FILE (a packed executable or a code text)\n");
        return 2;
    }
    const std::string path = argv[1];
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "lousa-count: cannot open %s\n", path.c_str());
        return 2;
    }
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const bool packed = lousa::findPayload(content) != std::string::npos;
    std::vector<lousa::Word> code =
        lousa::parseCodeText(packed ? lousa::decodeStream(lousa::payloadStream(content)).text : content);
    if (code.empty()) {
        std::fprintf(stderr, "lousa-count: %s holds no code\n", path.c_str());
        return 2;
    }

    std::unique_ptr<lousa::Console> console = lousa::makeProcessConsole();
    std::uint64_t executed = 0;
    std::string stoppedAt;
    std::string finalMessage;
    {
        lousa::Interpretador machine(std::move(code), lousa::directoryOf(path), console.get());
        // Step by step, as the machine's own run does, so that the count
        // survives a run-time error (runBudget's result does not: it is lost
        // with the exception). The instruction that raised it counts.
        try {
            machine.start();
            while (machine.running.load(std::memory_order_relaxed)) {
                ++executed;
                machine.step();
            }
        } catch (...) {
            // A run-time error has recorded its text; anything else ends the run, as in run().
        }
        machine.running.store(false, std::memory_order_relaxed);
        // An instruction whose family is not built yet ends the run as invalid;
        // name it, so that a benchmark can say what it is waiting for.
        static const std::string invalid = lousa::latin1("Instrução inválida");
        const std::string& text = machine.runtimeErrorText;
        if (machine.runtimeErrorRaised) finalMessage = text;
        if (machine.runtimeErrorRaised && text.size() >= invalid.size() &&
            text.compare(text.size() - invalid.size(), invalid.size(), invalid) == 0) {
            if (machine.pc < 0 || machine.pc >= machine.codeSize) {
                stoppedAt = "pc " + std::to_string(machine.pc) + " outside the code";
            } else {
                const lousa::Word word = machine.readWord(machine.pc);
                const auto* info = lousa::opcodeInfo(word);
                stoppedAt = info ? std::string(info->mnemonic) : "unassigned opcode " + std::to_string(word);
            }
        }
    }
    console->finish();
    if (!finalMessage.empty()) console->writeFinalMessage(finalMessage);
    std::fprintf(stderr, "instructions: %llu\n", static_cast<unsigned long long>(executed));
    if (!stoppedAt.empty()) std::fprintf(stderr, "invalid instruction: %s\n", stoppedAt.c_str());
    return 0;
}
