// lousa-count [--by-kind] FILE: runs a program as the runner would (process
// console, relative file names beside FILE, the run-time error text at the
// end) and writes the number of executed instructions to standard error as
// "instructions: N", then, when an invalid instruction stopped the run (an
// instruction whose family is not built yet, say), which one it was.
// FILE is a packed executable or a code text.
//
// It then runs the program a second time on the translation tier, through
// the counting variant of its loop (built into this tool only), output
// discarded, and writes "internal instructions: M" (instructions dispatched by
// the tier's loop, plus original instructions it ran through the reference
// step) and "original instructions: K" (as the tier counted them, by the
// weights of its instructions). --by-kind adds one line per kind of internal
// instruction that ran: its name, its count and what it stands for.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "console/console.hpp"
#include "console/input_reader.hpp"
#include "console/plain_backend.hpp"
#include "engine/loop.hpp"
#include "loader/arquivo_compilado.hpp"
#include "loader/decompressor.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"
#include "vm/opcode_table.hpp"

namespace {

// The second run: the translation tier with every dispatch counted; its
// console writes into a string that is dropped, and reads nothing.
void countTranslated(const std::vector<lousa::Word>& code, const std::string& path, bool byKind) {
    lousa::engine::DispatchCounts counts;
    std::uint64_t original = 0;
    {
        std::string discarded;
        lousa::Console console(std::make_unique<lousa::PlainBackend>(discarded),
                               std::make_unique<lousa::MemoryByteSource>(std::string()));
        lousa::Interpretador machine(code, lousa::directoryOf(path), &console);
        try {
            machine.start();
            lousa::engine::loop<true, true>(machine, UINT64_MAX, original, &counts);
        } catch (...) {
        }
        machine.running.store(false, std::memory_order_relaxed);
        console.finish();
    }
    std::uint64_t internal = counts.referenceSteps;
    for (const std::uint64_t n : counts.perIop) internal += n;
    std::fprintf(stderr, "internal instructions: %llu\n", static_cast<unsigned long long>(internal));
    std::fprintf(stderr, "original instructions: %llu\n", static_cast<unsigned long long>(original));
    if (!byKind) return;
    std::vector<std::pair<std::uint64_t, std::size_t>> kinds;
    for (std::size_t i = 0; i < lousa::engine::kIopCount; ++i)
        if (counts.perIop[i] != 0) kinds.emplace_back(counts.perIop[i], i);
    std::sort(kinds.rbegin(), kinds.rend());
    for (const auto& [n, i] : kinds) {
        const lousa::engine::IopInfo& info = lousa::engine::kIopTable[i];
        std::fprintf(stderr, "  %-22.*s %12llu  %.*s\n", static_cast<int>(info.name.size()), info.name.data(),
                     static_cast<unsigned long long>(n), static_cast<int>(info.meaning.size()), info.meaning.data());
    }
    if (counts.referenceSteps != 0)
        std::fprintf(stderr, "  %-22s %12llu\n", "(reference steps)", static_cast<unsigned long long>(counts.referenceSteps));
}

}  // namespace

int main(int argc, char** argv) {
    const bool byKind = argc == 3 && std::strcmp(argv[1], "--by-kind") == 0;
    if (argc != 2 && !byKind) {
        std::fprintf(stderr, "usage: lousa-count [--by-kind] FILE (a packed executable or a code text)\n");
        return 2;
    }
    const std::string path = argv[argc - 1];
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "lousa-count: cannot open %s\n", path.c_str());
        return 2;
    }
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const bool packed = lousa::findPayload(content) != std::string::npos;
    const std::vector<lousa::Word> code =
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
        lousa::Interpretador machine(code, lousa::directoryOf(path), console.get());
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
    countTranslated(code, path, byKind);
    return 0;
}
