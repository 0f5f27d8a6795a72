#include "tools/tracer.hpp"

#include <memory>

#include "console/console.hpp"
#include "loader/run_sequence.hpp"
#include "loader/stop_signals.hpp"
#include "tools/assembler.hpp"
#include "vm/interpretador.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::tool {

namespace {

// Words of a PUSH_N shown before the rest is elided.
constexpr Word kShownWords = 16;

void appendOperand(std::string& line, const std::string& operand) {
    line += ' ';
    line += operand;
}

}  // namespace

std::string traceLine(const Interpretador& m) {
    std::string line = std::to_string(m.pc);
    if (line.size() < 6) line.insert(0, 6 - line.size(), ' ');
    line += "  ";
    const bool inCode = static_cast<UWord>(m.pc) < static_cast<UWord>(m.codeSize);
    const OpcodeInfo* info = inCode ? opcodeInfo(m.readWord(m.pc)) : nullptr;
    if (!inCode) {
        line += "(outside the code)";
    } else if (!info) {
        line += ".word " + std::to_string(m.readWord(m.pc));
    } else {
        line += info->mnemonic;
        auto at = [&](Word k) { return m.readWord(wrapAdd(m.pc, k)); };
        if (info->operands == "*") {
            const Word n = at(1);
            appendOperand(line, std::to_string(n));
            for (Word k = 0; k < n && k < kShownWords; ++k) appendOperand(line, std::to_string(at(k + 2)));
            if (n > kShownWords) line += " ...";
        } else if (info->operands == "$") {
            std::string name;
            for (Word k = 1; k <= 255 && at(k) != -1; ++k) name.push_back(static_cast<char>(at(k)));
            appendOperand(line, listingStringLiteral(name));
        } else {
            for (std::size_t k = 0; k < info->operands.size(); ++k)
                appendOperand(line, std::to_string(at(static_cast<Word>(k + 1))));
        }
    }
    return line + "  sp=" + std::to_string(m.sp);
}

std::uint64_t traceProgram(std::vector<Word> code, const std::string& runnerDirectory, std::uint64_t limit,
                           std::FILE* trace) {
    std::unique_ptr<Console> console = makeProcessConsole();
    std::string finalMessage;
    std::uint64_t executed = 0;
    bool stoppedByLimit = false;
    if (!code.empty()) {
        Interpretador machine(std::move(code), runnerDirectory, console.get());
        const StopTargetScope stops(machine);
        try {
            machine.start();
            while (machine.running.load(std::memory_order_relaxed)) {
                if (limit != 0 && executed == limit) {
                    stoppedByLimit = true;
                    break;
                }
                // The program's own output goes first, so that the trace
                // and the output interleave as they happened.
                console->flushOutput();
                const std::string line = traceLine(machine) + "\n";
                std::fwrite(line.data(), 1, line.size(), trace);
                ++executed;
                machine.step();
            }
        } catch (...) {
            // As in run(): a run-time error has recorded its text.
        }
        machine.running.store(false, std::memory_order_relaxed);
        console->flushOutput();
        if (machine.runtimeErrorRaised) finalMessage = machine.runtimeErrorText;
    }
    console->finish();
    std::fflush(trace);
    if (stoppedByLimit) std::fprintf(trace, "trace: stopped after %llu instructions\n", static_cast<unsigned long long>(executed));
    if (!finalMessage.empty()) console->writeFinalMessage(finalMessage);
    return executed;
}

}  // namespace lousa::tool
