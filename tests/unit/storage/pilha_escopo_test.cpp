// The scope stack: every name length comes back whole after pushes, pops and
// pushes again over the popped names' room, across the buffers' growth.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/pilha_escopo.hpp"

namespace lousa {
namespace {

// A name of `length` bytes that differ from each other and from their
// neighbours' (a copy that moves or drops a byte shows).
std::string nameOf(std::size_t length, char seed) {
    std::string name;
    for (std::size_t i = 0; i < length; ++i) name += static_cast<char>(seed + static_cast<char>(i % 23));
    return name;
}

void expectStack(const PilhaEscopo& scopes, const std::vector<std::string>& names) {
    ASSERT_EQ(scopes.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(scopes.at(i).name, names[i]) << "record " << i;
        EXPECT_EQ(scopes.at(i).frameBase, static_cast<Word>(1000 + i)) << "record " << i;
    }
}

// push, or pushPadded from storage whose padding holds bytes that must not
// show up in any name.
void pushEither(PilhaEscopo& scopes, bool padded, const std::string& name, Word frameBase) {
    if (!padded) return scopes.push(name, frameBase);
    const std::string stored = name + std::string(PilhaEscopo::kNamePadding, '#');
    scopes.pushPadded(std::string_view(stored.data(), name.size()), frameBase);
}

class PilhaEscopoPush : public testing::TestWithParam<bool> {};

TEST_P(PilhaEscopoPush, EveryNameLengthSurvivesPushPopAndReuse) {
    const bool padded = GetParam();
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 40; ++n) lengths.push_back(n);
    lengths.push_back(255);
    lengths.push_back(3);
    lengths.push_back(0);
    PilhaEscopo scopes;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        names.push_back(nameOf(lengths[i], static_cast<char>('A' + i % 7)));
        pushEither(scopes, padded, names.back(), static_cast<Word>(1000 + i));
        ASSERT_EQ(scopes.top().name, names.back()) << "length " << lengths[i];
    }
    expectStack(scopes, names);
    // Pop half, then push other names over the freed room: the records below stay intact.
    for (int i = 0; i < 20; ++i) {
        scopes.pop();
        names.pop_back();
    }
    expectStack(scopes, names);
    for (std::size_t n : {std::size_t{9}, std::size_t{1}, std::size_t{16}, std::size_t{17}, std::size_t{7}}) {
        names.push_back(nameOf(n, 'a'));
        pushEither(scopes, padded, names.back(), static_cast<Word>(1000 + names.size() - 1));
    }
    expectStack(scopes, names);
    while (!names.empty()) {
        scopes.pop();
        names.pop_back();
        expectStack(scopes, names);
    }
    scopes.pop();  // one too many is ignored
    EXPECT_EQ(scopes.size(), 0U);
    EXPECT_THROW((void)scopes.top(), std::out_of_range);
}

INSTANTIATE_TEST_SUITE_P(CopiedAndPadded, PilhaEscopoPush, testing::Bool());

TEST(PilhaEscopo, DeepStackChargesAndReleasesTheAccount) {
    MemoryAccount account;
    {
        PilhaEscopo scopes(&account);
        for (int i = 0; i < 100000; ++i) scopes.push("FIB", i);
        EXPECT_GE(account.used(), std::size_t{100000} * (3 + sizeof(Word)));
        EXPECT_EQ(scopes.at(54321).frameBase, 54321);
        EXPECT_EQ(scopes.at(54321).name, "FIB");
    }
    EXPECT_EQ(account.used(), 0U);
}

}  // namespace
}  // namespace lousa
