// The family column of the opcode table, which 'lousa info' counts by, names
// the file where each handler lives: a row tagged with the wrong family
// would make info misreport what a program does.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vm/opcode_table.hpp"

namespace lousa {
namespace {

struct Row {
    const char* mnemonic;
    const char* handler;
    OpcodeFamily family;
};

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
#define OP(num, name, operands, handler) {#name, #handler,
#define OP_FAMILY(family) OpcodeFamily::family},
#include "vm/opcodes.def"
#undef OP_FAMILY
#undef OP
    };
    return table;
}

std::string familySource(OpcodeFamily family) {
    std::string name(familyName(family));
    if (name == "keyboard and screen") name = "keyboard_screen";
    for (char& c : name)
        if (c == ' ') c = '_';
    const bool compute = family <= OpcodeFamily::Sets;
    const std::string path = std::string(LOUSA_SOURCE_DIR) + "/src/instructions/" + (compute ? "compute/" : "io/") +
                             name + (compute ? ".hpp" : ".cpp");
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(OpcodeFamilies, EveryHandlerLivesInItsFamilysFile) {
    ASSERT_EQ(rows().size(), static_cast<std::size_t>(kAssignedOpcodeCount));
    std::vector<std::string> sources;
    for (std::size_t f = 0; f < kOpcodeFamilyCount; ++f) sources.push_back(familySource(static_cast<OpcodeFamily>(f)));
    for (const Row& row : rows()) {
        const std::string definition = std::string("op") + row.handler + "(";
        EXPECT_NE(sources[static_cast<std::size_t>(row.family)].find(definition), std::string::npos)
            << row.mnemonic << " is tagged " << familyName(row.family) << " but op" << row.handler
            << " is not in that family's file";
        EXPECT_EQ(opcodeInfo(static_cast<std::int32_t>(*opcodeByMnemonic(row.mnemonic)))->family, row.family);
    }
}

}  // namespace
}  // namespace lousa
