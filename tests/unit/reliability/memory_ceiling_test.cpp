// The run's memory ceiling: every structure that grows with what a program
// does (heap pages and records, scope records, set entries, wild words)
// is charged to one account, a runaway program ends with the memory message
// at about the ceiling, and memory given back can be used again.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "loader/run_sequence.hpp"
#include "tools/assembler.hpp"
#include "unit/compute/vm_fixture.hpp"

namespace lousa {
namespace {

constexpr std::size_t kCeiling = std::size_t{2} << 20;

std::vector<Word> assembled(const std::string& listing) {
    const tool::AsmResult result = tool::assemble(listing);
    EXPECT_TRUE(result.ok()) << listing;
    return result.code;
}

std::vector<Word> hostileCase(const std::string& name) {
    std::ifstream in(std::string(LOUSA_SOURCE_DIR) + "/tests/hostile/cases/" + name + ".lst");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return assembled(text.str());
}

struct Runaway {
    const char* name;
    Word line;
};

TEST(MemoryCeiling, RunawayProgramsEndWithTheMemoryMessageAtAboutTheCeiling) {
    for (const Runaway& c :
         {Runaway{"runaway_new_word", 3}, Runaway{"runaway_new_empty", 4}, Runaway{"runaway_scope_enter", 5},
          Runaway{"runaway_set_entries", 6}, Runaway{"runaway_wild_words", 7}}) {
        SCOPED_TRACE(c.name);
        Interpretador m(hostileCase(c.name), "", nullptr);
        m.memoryAccount.ceiling = kCeiling;
        m.runBudget(50'000'000);
        EXPECT_FALSE(m.running);
        EXPECT_EQ(m.runtimeErrorText, test::errorText(c.line, test::kTooMuchMemory));
        EXPECT_LE(m.memoryAccount.used(), kCeiling);
        // A record list that doubles needs its old and new buffers at once:
        // it stops when three times its size would pass the ceiling.
        EXPECT_GE(m.memoryAccount.used(), kCeiling / 4);
    }
}

// A constant stored into heap elements a page apart reaches the ceiling in
// the STORE_N: both engines stop there, with its line, sp and count, whether
// the array's base comes from the local just before or from further back.
TEST(MemoryCeiling, ElementStoresReachItAtTheStoreInBothEngines) {
    const std::string head = "ENTER_JUMP 2 100 s\ns: LINE 1\nADDR_UP 0 3\nNEW 100000000\nSTORE_N 1\n";
    const std::string element = "LOAD_UP 0 4\nCHECK_INDEX 0 99999999\nINDEX_ADDR 1 1\nPUSH 5\nSTORE_N 1\n";
    const std::string step = "ADDR_UP 0 4\nLOAD_UP 0 4\nPUSH 1024\nADD_INT\nSTORE_N 1\nJUMP t\n";
    for (const std::string& loop : {"t: LINE 7\nLOAD_UP 0 3\n" + element, "t: LOAD_UP 0 3\nLINE 7\n" + element}) {
        SCOPED_TRACE(loop);
        const std::vector<Word> code = assembled(head + loop + step);
        Word pc[2] = {}, sp[2] = {};
        std::uint64_t executed[2] = {};
        for (const Tier tier : {Tier::reference, Tier::fast}) {
            Interpretador m(code, "", nullptr);
            m.tier = tier;
            m.memoryAccount.ceiling = 256 * 1024;
            const int t = tier == Tier::fast ? 1 : 0;
            executed[t] = m.runBudget(10'000'000);
            EXPECT_EQ(m.runtimeErrorText, test::errorText(7, test::kTooMuchMemory));
            pc[t] = m.pc;
            sp[t] = m.sp;
        }
        EXPECT_EQ(pc[1], pc[0]);
        EXPECT_EQ(sp[1], sp[0]);
        EXPECT_EQ(executed[1], executed[0]);
    }
}

// Loops that free what they take run on under a small ceiling: what is given
// back is credited, and replaced set values do not pile up.
TEST(MemoryCeiling, WhatIsGivenBackCanBeUsedAgain) {
    const char* const loops[] = {
        // a block made, written and released
        "ENTER_JUMP 1 100 s\ns: LINE 1\nt: ADDR_UP 0 3\nNEW 3000\nSTORE_N 1\nLOAD_UP 0 3\nPUSH 9\nSTORE_N 1\n"
        "LOAD_UP 0 3\nDISPOSE\nJUMP t\n",
        // a wild word written and zeroed again
        "ENTER_JUMP 1 100 s\ns: LINE 1\nt: PUSH 900000000\nPUSH 5\nSTORE_N 1\nPUSH 900000000\nPUSH 0\nSTORE_N 1\n"
        "JUMP t\n",
        // one set variable given values of growing size, S := S + [2i], emptied every 200 elements
        "ENTER_JUMP 1 100 s\ns: LINE 1\n"
        "t: ADDR_UP 0 3\nADDR_UP 0 3\nLOAD_SET\nLOAD_UP 0 4\nLOAD_UP 0 4\nPUSH 1\nSET_UNION\nSTORE_SET\n"
        "ADDR_UP 0 4\nLOAD_UP 0 4\nPUSH 2\nADD_INT\nSTORE_N 1\n"
        "LOAD_UP 0 4\nPUSH 400\nLT_INT\nJUMP_FALSE e\nJUMP t\n"
        "e: ADDR_UP 0 3\nPUSH 0\nSTORE_SET\nADDR_UP 0 4\nPUSH 0\nSTORE_N 1\nJUMP t\n",
    };
    for (const char* listing : loops) {
        SCOPED_TRACE(listing);
        Interpretador m(assembled(listing), "", nullptr);
        m.memoryAccount.ceiling = 256 * 1024;
        m.runBudget(1'000'000);
        EXPECT_TRUE(m.running) << m.runtimeErrorText;
        EXPECT_LE(m.memoryAccount.used(), m.memoryAccount.ceiling);
    }
}

TEST(MemoryCeiling, StructuresGiveEverythingBackWhenDestroyed) {
    MemoryAccount account;
    {
        MemoriaAlocacaoDinamica heap(&account);
        for (int i = 0; i < 5000; ++i) heap.write(heap.allocate(3), 1);
        ListaConjuntos sets(&account);
        for (Word i = 0; i < 5000; ++i) sets.replace(sets.add({}), {i, i + 1, i + 5, i + 9});
        PilhaEscopo scopes(&account);
        for (int i = 0; i < 5000; ++i) scopes.push("ROTINA", i);
        WordMemory memory(&account);
        for (UWord i = 0; i < 5000; ++i) memory.write(1'000'000'000 + 3 * i, 4);
        EXPECT_GT(account.used(), std::size_t{5000} * (4 + 16 + 6 + WordMemory::kSparseWordBytes));
    }
    EXPECT_EQ(account.used(), 0U);
}

TEST(MemoryCeiling, ReachingItChangesNothingInTheStructure) {
    MemoryAccount account;
    account.ceiling = 64 * 1024;
    PilhaEscopo scopes(&account);
    std::size_t pushed = 0;
    EXPECT_THROW(for (;; ++pushed) scopes.push("X", static_cast<Word>(pushed)), MemoryCeilingReached);
    EXPECT_EQ(scopes.size(), pushed);
    EXPECT_EQ(scopes.top().frameBase, static_cast<Word>(pushed - 1));
    scopes.pop();  // still usable
    EXPECT_EQ(scopes.top().name, "X");
}

TEST(MemoryCeiling, ByteSizesOfTheEnvironment) {
    struct Case {
        const char* text;
        std::optional<std::size_t> bytes;
    };
    for (const Case& c :
         {Case{"0", 0}, Case{"1048576", 1048576}, Case{"64K", 65536}, Case{"64k", 65536}, Case{"3M", 3 << 20},
          Case{"2G", std::size_t{2} << 30}, Case{"2g", std::size_t{2} << 30}, Case{"", std::nullopt},
          Case{"M", std::nullopt}, Case{"-1", std::nullopt}, Case{"1.5G", std::nullopt}, Case{"12MB", std::nullopt},
          Case{" 12", std::nullopt}, Case{"18446744073709551615", SIZE_MAX}, Case{"18446744073709551616", std::nullopt},
          Case{"17179869184G", std::nullopt}}) {
        EXPECT_EQ(parseByteSize(c.text), c.bytes) << c.text;
    }
}

TEST(MemoryCeiling, RunLimitsComeFromTheEnvironment) {
    const char* const saved = std::getenv("LOUSA_MEMORY_LIMIT");
    const std::string before = saved ? saved : "";
    unsetenv("LOUSA_MEMORY_LIMIT");
    EXPECT_EQ(runLimitsFromEnvironment()->memoryCeiling, MemoryAccount::kDefaultCeiling);
    setenv("LOUSA_MEMORY_LIMIT", "48M", 1);
    EXPECT_EQ(runLimitsFromEnvironment()->memoryCeiling, std::size_t{48} << 20);
    setenv("LOUSA_MEMORY_LIMIT", "lots", 1);
    EXPECT_FALSE(runLimitsFromEnvironment().has_value());
    if (saved)
        setenv("LOUSA_MEMORY_LIMIT", before.c_str(), 1);
    else
        unsetenv("LOUSA_MEMORY_LIMIT");
}

// The set table keeps its entries in one buffer: after many values of
// changing sizes, every entry still reads what was last stored under it, and
// what moved entries leave behind is packed away.
TEST(MemoryCeiling, SetEntriesMovedAndPackedKeepTheirValues) {
    ListaConjuntos table;
    std::vector<ListaConjuntos::RangeList> model;
    std::vector<std::size_t> largest;  // the most words each entry held
    std::mt19937 random(7);
    for (int step = 0; step < 80000; ++step) {
        if (model.size() < 16 || random() % 64 == 0) {
            model.emplace_back();
            largest.push_back(0);
            ASSERT_EQ(table.add({}), static_cast<Word>(model.size()));
        }
        // Values mostly grow, so entries outgrow their room again and again.
        const std::size_t id = random() % model.size();
        const std::size_t pairs = model[id].size() / 2 + random() % 4 -
                                  (random() % 8 == 0 ? std::min<std::size_t>(model[id].size() / 2, 5) : 0);
        ListaConjuntos::RangeList value;
        for (std::size_t p = 0; p < pairs; ++p) {
            value.push_back(static_cast<Word>(10 * p));
            value.push_back(static_cast<Word>(10 * p + random() % 5));
        }
        table.replace(static_cast<Word>(id + 1), value);
        model[id] = value;
        largest[id] = std::max(largest[id], value.size());
    }
    for (std::size_t id = 0; id < model.size(); ++id) ASSERT_EQ(table.get(static_cast<Word>(id + 1)), model[id]);
    // An entry keeps room for half as much again as it held at most, and
    // moves leave at most as much behind as the entries keep.
    std::size_t kept = 0;
    for (const std::size_t words : largest) kept += words + words / 2;
    EXPECT_LE(table.bufferWords(), 2 * kept + 8192);
}

}  // namespace
}  // namespace lousa
