#pragma once
// Random programs of the hot instructions and the outcome of running one,
// for the tests that hold one loop against another: the reference threaded
// loop against the plain loop, the translation tier against the reference.
// Operands land on both sides of every fast path's conditions (levels 0, 1
// and 2, dense, heap, code and wild addresses, zero divisors, indexes out of
// bounds), and some programs store into their own code.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "vm/interpretador.hpp"

namespace lousa::testing {

struct Outcome {
    std::vector<Word> dense;
    Word pc, sp, bp, line;
    bool error;
    std::string text;
    std::vector<Word> heapWords;
    std::uint64_t executed = 0;  // under a budget

    bool operator==(const Outcome&) const = default;
};

inline Outcome outcomeOf(const Interpretador& m) {
    Outcome o{{}, m.pc, m.sp, m.bp, m.currentLine, m.runtimeErrorRaised, m.runtimeErrorText, {}};
    o.dense.assign(m.memory.denseData(), m.memory.denseData() + m.memory.denseSize());
    for (Word a = -2; a >= -40; --a) o.heapWords.push_back(m.heap.read(a));
    return o;
}

// Runs code on the given tier, without a budget (budget 0) or under one.
// A run without a budget that has not ended after ten seconds (a loop that
// should have ended) is stopped, so that the outcome differs and the test
// fails instead of hanging.
// Where the random programs' relative file names land: a program that
// stores into its own code can make any instruction, a file's rewrite too,
// and its name must not land in the directory the tests run in.
inline std::string scratchProgramPath() {
    const std::filesystem::path directory = std::filesystem::temp_directory_path() / "lousa-random-programs";
    std::filesystem::create_directories(directory);
    return (directory / "program").string();
}

inline Outcome runOn(const std::vector<Word>& code, Tier tier, std::uint64_t budget = 0) {
    Interpretador m(code, scratchProgramPath(), nullptr);
    m.tier = tier;
    std::uint64_t executed = 0;
    if (budget == 0) {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!ended.wait_for(lock, std::chrono::seconds(10), [&] { return done; })) m.requestStop();
        });
        m.run();
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        ended.notify_one();
        watchdog.join();
    } else {
        executed = m.runBudget(budget);
    }
    Outcome o = outcomeOf(m);
    o.executed = executed;
    return o;
}

// Picks an operand word: mostly small stack-area addresses and values,
// sometimes code addresses, heap pointers, negative or wild words.
inline Word someWord(std::mt19937& rng, Word codeSize) {
    switch (rng() % 8) {
        case 0: return static_cast<Word>(rng() % 5) - 1;
        case 1: return static_cast<Word>(rng() % static_cast<unsigned>(codeSize));
        case 2: return -2 - static_cast<Word>(rng() % 20);
        case 3: return static_cast<Word>(rng());
        default: return codeSize + static_cast<Word>(rng() % 40);
    }
}

// A frame slot of the random programs' frame, or one just outside it.
inline Word local(std::mt19937& rng) { return static_cast<Word>(rng() % 34) - 2; }

inline std::vector<Word> randomProgram(std::mt19937& rng) {
    const Word codeGuess = 200;
    // Frame of 30 words; a heap block of 24 words whose pointer goes to local 3.
    std::vector<Word> code = {94, 30, 100, 4, 126, 0, 3, 89, 24, 8, 1};
    bool setVariables = false;  // locals 20 and 21 given sets
    while (code.size() < 180) {
        switch (rng() % 48) {
            case 0: code.insert(code.end(), {127, static_cast<Word>(rng() % 3), static_cast<Word>(rng() % 34) - 2}); break;
            case 1: code.insert(code.end(), {126, static_cast<Word>(rng() % 3), static_cast<Word>(rng() % 34) - 2}); break;
            case 2: code.insert(code.end(), {58, someWord(rng, codeGuess)}); break;
            case 3: code.insert(code.end(), {8, static_cast<Word>(rng() % 4)}); break;
            case 4: code.insert(code.end(), {121, static_cast<Word>(rng() % 4)}); break;
            case 5: code.insert(code.end(), {127, 0, 3}); break;  // the heap pointer
            case 6: code.push_back(1); break;
            case 7: code.push_back(114); break;
            case 8: code.push_back(85); break;
            case 9: code.push_back(84); break;
            case 10: code.push_back(static_cast<Word>(rng() % 2 ? 73 : 74)); break;
            case 11: code.push_back(static_cast<Word>(rng() % 2 ? 18 : 19)); break;
            case 12: code.push_back(45); break;
            case 13: code.insert(code.end(), {103, static_cast<Word>(rng()), static_cast<Word>(rng() % 3 == 0 ? 0x7FF80000 : rng())}); break;
            case 14: code.push_back(static_cast<Word>(std::vector<Word>{2, 115, 86}[rng() % 3])); break;
            case 15: code.push_back(static_cast<Word>(rng() % 2 ? 77 : 75)); break;
            case 16: code.push_back(64); break;
            case 17: code.insert(code.end(), {62, static_cast<Word>(rng() % 100)}); break;
            case 18: code.insert(code.end(), {65, static_cast<Word>(rng() % 3) - 1, static_cast<Word>(rng() % 10)}); break;
            case 19: code.insert(code.end(), {24, static_cast<Word>(rng() % 3), static_cast<Word>(rng() % 3) - 1}); break;
            case 20: code.insert(code.end(), {58, static_cast<Word>(rng() % 20)}); break;
            case 21: code.push_back(79); break;  // POP keeps the stack from only growing
            case 22: code.push_back(static_cast<Word>(rng() % 2 ? 5 : 91)); break;
            case 23:  // a comparison and a forward JUMP_FALSE (to the final HALT, patched below)
                code.insert(code.end(), {static_cast<Word>(std::vector<Word>{73, 74, 18, 19, 45}[rng() % 5]), 40, -1});
                break;
            // The compiler's fixed sequences, which the translation tier fuses.
            case 24:  // a local against a constant, and a forward JUMP_FALSE, sometimes after LINE
                if (rng() % 2) code.insert(code.end(), {62, static_cast<Word>(rng() % 100)});
                code.insert(code.end(), {127, 0, static_cast<Word>(rng() % 34) - 2, 58, static_cast<Word>(rng() % 8),
                                         static_cast<Word>(std::vector<Word>{73, 74, 18, 19, 45}[rng() % 5]), 40, -1});
                break;
            case 25:  // sometimes with a JUMP to the next instruction after it
                code.insert(code.end(), {126, 0, static_cast<Word>(rng() % 34) - 2, 64});
                if (rng() % 2) code.insert(code.end(), {60, static_cast<Word>(code.size() + 2)});
                break;
            case 26:  // v := k, sometimes into the program's own code (bp is the code size)
                code.insert(code.end(), {126, 0, static_cast<Word>(rng() % 3 == 0 ? -static_cast<Word>(rng() % codeGuess) : static_cast<Word>(rng() % 34) - 2),
                                         58, someWord(rng, codeGuess), 8, 1});
                break;
            case 27: code.insert(code.end(), {126, 0, static_cast<Word>(rng() % 34) - 2, 127, 0, static_cast<Word>(rng() % 34) - 2, 8, 1}); break;
            case 28:  // sometimes stored at the address beneath; sometimes the two words beneath added and stored
                if (rng() % 4 == 0) {
                    code.insert(code.end(), {static_cast<Word>(rng() % 2 ? 1 : 114), 8, 1});
                    break;
                }
                code.insert(code.end(), {58, static_cast<Word>(rng() % 4) - 1, static_cast<Word>(std::vector<Word>{1, 114, 85, 84}[rng() % 4])});
                if (rng() % 2) code.insert(code.end(), {8, 1});
                break;
            case 29:  // sometimes two locals and the operation
                if (rng() % 2) code.insert(code.end(), {127, 0, local(rng)});
                code.insert(code.end(), {127, 0, static_cast<Word>(rng() % 34) - 2, static_cast<Word>(std::vector<Word>{1, 114, 85}[rng() % 3])});
                break;
            case 30: code.insert(code.end(), {65, static_cast<Word>(rng() % 3) - 1, static_cast<Word>(rng() % 10), 24, 1, static_cast<Word>(rng() % 3) - 1}); break;
            case 31:
                code.insert(code.end(), {52, static_cast<Word>(rng() % 4)});
                if (rng() % 3) code.insert(code.end(), {121, 1});
                break;
            case 32:  // LINE and a local's value or address
                code.insert(code.end(), {62, static_cast<Word>(rng() % 100), static_cast<Word>(rng() % 2 ? 127 : 126), 0,
                                         static_cast<Word>(rng() % 34) - 2});
                break;
            // Longer fused forms: a statement on locals, element address and
            // load, a constant stored at an address on the stack, real
            // operations on locals, a routine's scope and frame.
            case 33:
            case 34: {
                const Word target = rng() % 3 == 0 ? -static_cast<Word>(rng() % codeGuess) : local(rng);
                const Word operand = rng() % 2 ? Word{58} : Word{127};
                code.insert(code.end(), {126, 0, target, 127, 0, local(rng), operand});
                if (operand == 127) code.push_back(0);
                code.insert(code.end(), {operand == 58 ? someWord(rng, codeGuess) : local(rng),
                                         static_cast<Word>(rng() % 2 ? 1 : 114), 8, 1});
                break;
            }
            case 35:  // LOAD_UP 0; PUSH; an operation or a comparison with no jump
                code.insert(code.end(), {127, 0, local(rng), 58, static_cast<Word>(rng() % 8) - 2,
                                         static_cast<Word>(std::vector<Word>{1, 114, 73, 74, 18, 19, 45}[rng() % 7])});
                break;
            case 36:  // the heap block's element: address, or address and load
                // The base from a local (the heap block's pointer), or a frame address.
                if (rng() % 3 == 0) code.insert(code.end(), {126, 0, local(rng)});
                else code.insert(code.end(), {127, 0, 3});
                code.insert(code.end(), {127, 0, local(rng), 65, static_cast<Word>(rng() % 3) - 1,
                                         static_cast<Word>(rng() % 30), 24, 1, static_cast<Word>(rng() % 2 + 1)});
                if (rng() % 3 == 0) {
                    code.insert(code.end(), {121, 1});
                    if (rng() % 2) code.insert(code.end(), {40, -1});
                }
                else if (rng() % 2) code.insert(code.end(), {58, someWord(rng, codeGuess), 8, 1});
                break;
            case 37:  // a constant stored at an address pushed before: heap, frame, code or wild
                code.insert(code.end(), {58, rng() % 2 ? someWord(rng, codeGuess) : static_cast<Word>(-2 - rng() % 24),
                                         58, someWord(rng, codeGuess), 8, 1});
                break;
            case 38: {  // a real local, or two, and a real operation; the result stored, or a product added
                code.insert(code.end(), {126, static_cast<Word>(rng() % 4 == 0 ? 1 : 0), local(rng), 121, 2});
                const bool two = rng() % 2;
                if (two) code.insert(code.end(), {126, 0, local(rng), 121, 2});
                if (two && rng() % 3 == 0) {
                    code.insert(code.end(), {86, static_cast<Word>(rng() % 2 ? 2 : 115)});
                    break;
                }
                if (rng() % 4) code.push_back(static_cast<Word>(std::vector<Word>{2, 115, 86}[rng() % 3]));
                if (!two && rng() % 3 == 0) code.insert(code.end(), {8, 2});
                break;
            }
            case 39:  // a real constant compared with the real beneath, sometimes and-ed and a JUMP_FALSE
                code.insert(code.end(), {103, static_cast<Word>(rng()), static_cast<Word>(rng() % 3 == 0 ? 0x7FF80000 : rng()),
                                         static_cast<Word>(rng() % 2 ? 77 : 75)});
                if (rng() % 2) code.insert(code.end(), {5, 40, -1});
                break;
            case 40:  // one real local copied into another, sometimes into the code
                code.insert(code.end(), {126, 0, rng() % 4 == 0 ? -static_cast<Word>(rng() % codeGuess) : local(rng), 126, 0,
                                         local(rng), 121, 2, 8, 2});
                break;
            case 41:  // a forward JUMP_FALSE, sometimes after AND_INT
                if (rng() % 2) code.push_back(5);
                code.insert(code.end(), {40, -1});
                break;
            case 42:  // a routine's scope, named "AB", and sometimes its frame
                if (rng() % 3) code.insert(code.end(), {87, 65, 66, -1});
                if (rng() % 2) code.insert(code.end(), {57, static_cast<Word>(rng() % 4), static_cast<Word>(rng() % 3) * 50});
                break;
            case 43: {  // a loop counting a local up from 0, its test sometimes after LINE, its back edge after INC or LINE
                const Word slot = local(rng);
                code.insert(code.end(), {126, 0, slot, 58, 0, 8, 1});
                const Word head = static_cast<Word>(code.size());
                if (rng() % 2) code.insert(code.end(), {62, static_cast<Word>(rng() % 100)});
                code.insert(code.end(), {127, 0, slot, 58, static_cast<Word>(rng() % 6),
                                         static_cast<Word>(std::vector<Word>{73, 74, 18, 19, 45}[rng() % 5]), 40, 0});
                const std::size_t exit = code.size() - 1;
                if (rng() % 3 == 0) {
                    // slot := slot + k, or slot := slot + step with step a local set to k (or the slot itself)
                    const Word k = static_cast<Word>(rng() % 3) + 1;
                    if (rng() % 2) {
                        const Word step = local(rng);
                        code.insert(code.end(), {126, 0, step, 58, k, 8, 1, 126, 0, slot, 127, 0, slot, 127, 0, step});
                    } else {
                        code.insert(code.end(), {126, 0, slot, 127, 0, slot, 58, k});
                    }
                    code.insert(code.end(), {1, 8, 1});
                } else {
                    code.insert(code.end(), {126, 0, slot, 64});
                }
                if (rng() % 2) code.insert(code.end(), {62, static_cast<Word>(rng() % 100)});
                code.insert(code.end(), {60, head});
                code[exit] = static_cast<Word>(code.size());
                break;
            }
            case 44: code.insert(code.end(), {28, static_cast<Word>(rng() % 4 ? 1 : rng() % 3)}); break;  // DUP, mostly of one
            case 45: {  // string values: literals, locals loaded and stored, joined, searched, cut, numbers written
                const auto small = [&](Word n) { return static_cast<Word>(rng() % static_cast<unsigned>(n)); };
                // Capacities around the short strings' lengths, sometimes negative or the largest.
                const auto capacity = [&] { return rng() % 8 == 0 ? Word{255} : small(8) - 1; };
                // Characters: letters mostly, sometimes a byte 0 or a -1 (which reads as a marker),
                // a byte above 127 or a word whose low byte only is a letter.
                const auto character = [&] {
                    switch (rng() % 10) {
                        case 0: return small(2) - 1;
                        case 1: return Word{200} + small(2) * 256;
                        default: return 'a' + small(4);
                    }
                };
                switch (rng() % 8) {
                    case 0: {
                        const Word n = small(12) + 1;
                        if (rng() % 4) code.insert(code.end(), {58, rng() % 4 ? -1 : character()});
                        code.insert(code.end(), {112, n});
                        for (Word k = 0; k < n; ++k) code.push_back(character());
                        break;
                    }
                    case 1:  // a local's string, sometimes searched for the character beneath or joined to the string beneath
                        code.insert(code.end(), {126, 0, local(rng), 125, capacity()});
                        if (rng() % 2) code.insert(code.end(), {static_cast<Word>(rng() % 2 ? 3 : 92), small(2)});
                        break;
                    case 2: code.insert(code.end(), {126, small(3), local(rng), 125, capacity()}); break;
                    case 3: code.insert(code.end(), {126, 0, local(rng), 58, -1, 112, 2, character(), character(), 12, capacity()}); break;
                    case 4: code.insert(code.end(), {static_cast<Word>(rng() % 2 ? 3 : 92), small(4)}); break;
                    case 5: code.insert(code.end(), {58, small(6), 58, small(6) - 1, 31}); break;
                    case 6: code.insert(code.end(), {127, 0, local(rng), 126, 0, local(rng), 69, small(4)}); break;
                    default: code.insert(code.end(), {12, capacity()}); break;
                }
                break;
            }
            case 46: {  // set values: constructors, variables loaded and stored, checked, joined, cut, tested
                const auto small = [&](Word n) { return static_cast<Word>(rng() % static_cast<unsigned>(n)); };
                // A few set variables mostly, so that their entries are found again; any slot now and then.
                const auto variable = [&] { return rng() % 6 == 0 ? local(rng) : Word{20} + small(2); };
                // A constructor's pairs, mostly in order and apart, sometimes out of order, overlapping or
                // empty, one element (DUP 1) or a range; then the pair count, now and then not the pairs pushed.
                // The least and the greatest element of the last constructor.
                Word least = 0, greatest = 0;
                const auto constructor = [&] {
                    const Word pairs = small(5);
                    Word low = small(6) - 2;
                    least = low;
                    greatest = low;
                    for (Word k = 0; k < pairs; ++k) {
                        if (rng() % 5 == 0) low = small(20) - 2;
                        if (rng() % 3 == 0) {
                            code.insert(code.end(), {58, low, 28, 1});
                            least = std::min(least, low);
                            greatest = std::max(greatest, low);
                            low += 2 + small(3);
                            continue;
                        }
                        const Word high = rng() % 8 == 0 ? low - 1 : low + small(5);
                        code.insert(code.end(), {58, low, 58, high});
                        least = std::min(least, low);
                        greatest = std::max(greatest, high);
                        low = high + 1 + small(3);
                    }
                    code.insert(code.end(), {58, rng() % 8 == 0 ? small(8) - 1 : pairs});
                };
                // Bounds mostly holding the elements; now and then at the last constructor's
                // least and greatest elements or one inside them.
                const auto checked = [&](bool afterConstructor) {
                    if (!afterConstructor || rng() % 2) code.insert(code.end(), {17, -4, 40});
                    else code.insert(code.end(), {17, least + small(2), greatest - small(2)});
                };
                const auto operation = [&] { return std::vector<Word>{119, 68, 37}[rng() % 3]; };
                // The set variables first given a range each (an entry of the table), then a few
                // statements in a row, so that variables stored are loaded again.
                if (!setVariables) {
                    for (const Word v : {20, 21}) {
                        code.insert(code.end(), {126, 0, v});
                        Word low = small(4) - 2;
                        for (Word k = 0; k < 4; ++k, low += 6) code.insert(code.end(), {58, low, 58, low + small(4)});
                        code.insert(code.end(), {58, 4, 9});
                    }
                    setVariables = true;
                }
                for (Word statements = 1 + small(4); statements > 0; --statements) switch (rng() % 7) {
                    case 0:  // v := [...]
                        code.insert(code.end(), {126, 0, variable()});
                        constructor();
                        if (rng() % 2) checked(true);
                        code.push_back(9);
                        break;
                    case 1:  // v := w op [...], or w op u
                        code.insert(code.end(), {126, 0, variable(), 126, 0, variable(), 122});
                        if (rng() % 2) constructor();
                        else code.insert(code.end(), {126, 0, variable(), 122});
                        code.push_back(operation());
                        if (rng() % 4) checked(false);
                        code.push_back(9);
                        break;
                    case 2:  // k in v, or k in [...], sometimes tested
                        code.insert(code.end(), {58, small(24) - 4});
                        if (rng() % 3) code.insert(code.end(), {126, 0, variable(), 122});
                        else constructor();
                        code.push_back(63);
                        if (rng() % 2) code.insert(code.end(), {40, -1});
                        break;
                    case 3:  // a variable by an address pushed apart (after LINE), from further out, the heap block, any word
                        switch (rng() % 4) {
                            case 0: code.insert(code.end(), {126, 0, variable(), 62, small(100)}); break;
                            case 1: code.insert(code.end(), {126, small(3), variable()}); break;
                            case 2: code.insert(code.end(), {127, 0, 3}); break;
                            default: code.insert(code.end(), {58, someWord(rng, codeGuess)}); break;
                        }
                        code.push_back(122);
                        break;
                    case 4:  // a constructor left on the stack, or joined with what lies beneath
                        constructor();
                        if (rng() % 3 == 0) code.push_back(operation());
                        else if (rng() % 2) checked(true);
                        break;
                    case 5:  // a check alone, or the stack dropped into the code, where nothing is written in place
                        if (rng() % 2) checked(false);
                        else code.insert(code.end(), {80, 30 + small(200)});
                        break;
                    default: code.push_back(std::vector<Word>{122, 63, 9, 119, 68, 37}[rng() % 6]); break;
                }
                break;
            }
            default: code.insert(code.end(), {58, static_cast<Word>(rng() % 8)}); break;
        }
    }
    // Now and then a backward jump to the start of the body: a loop, which
    // a JUMP_FALSE or stores into the code may end.
    if (rng() % 4 == 0) code.insert(code.end(), {60, 11});
    code.push_back(43);
    for (std::size_t i = 0; i + 2 < code.size(); ++i)
        if (code[i + 1] == 40 && code[i + 2] == -1) code[i + 2] = static_cast<Word>(code.size() - 1);
    return code;
}


}  // namespace lousa::testing
