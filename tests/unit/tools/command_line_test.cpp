// The command table's parser: what each row accepts and how it refuses.

#include "tools/command_line.hpp"

#include <gtest/gtest.h>

namespace lousa::tool {
namespace {

int noRun(const Arguments&) { return 0; }

const Command kOne{.name = "one", .summary = "", .help = "", .valueOptions = {"-o", "--name"}, .flags = {"--all"},
                   .run = noRun};
const Command kMany{.name = "many", .summary = "", .help = "", .valueOptions = {"-o"}, .manyFiles = true, .run = noRun};

TEST(CommandLine, AcceptedArguments) {
    Arguments a = parseArguments(kOne, {"--all", "x.lst", "--name=a=b", "-o", "-"});
    EXPECT_EQ(a.file, "x.lst");
    EXPECT_EQ(a.option("--name"), "a=b");
    EXPECT_EQ(a.option("-o"), "-");
    EXPECT_TRUE(a.flag("--all"));
    EXPECT_FALSE(a.option("--stub"));

    a = parseArguments(kOne, {"--", "-o"});  // after "--" a dash starts a file name
    EXPECT_EQ(a.file, "-o");
    EXPECT_TRUE(a.options.empty());

    a = parseArguments(kMany, {"a.exe", "-o", "out", "b.exe", "dir"});
    EXPECT_EQ(a.files, (std::vector<std::string>{"a.exe", "b.exe", "dir"}));
    EXPECT_EQ(a.file, "a.exe");

    EXPECT_TRUE(parseArguments(kOne, {"--help"}).help);  // no FILE needed for help
}

TEST(CommandLine, RefusedArguments) {
    const struct {
        const Command* command;
        std::vector<std::string> words;
        std::string message;
    } cases[] = {
        {&kOne, {}, "missing FILE"},
        {&kOne, {"a", "b"}, "one file only (found a and b)"},
        {&kOne, {"a", "--bogus"}, "unknown option --bogus"},
        {&kOne, {"a", "-o"}, "option -o needs a value"},
        {&kOne, {"a", "-o", "x", "-o", "y"}, "option -o given twice"},
        {&kOne, {"a", "--all=yes"}, "option --all takes no value"},
        {&kMany, {"a", "--all"}, "unknown option --all"},
    };
    for (const auto& c : cases) {
        try {
            parseArguments(*c.command, c.words);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(CommandLine, PositiveCounts) {
    EXPECT_EQ(parsePositiveCount("--limit", "18446744073709551615"), UINT64_MAX);
    for (const char* bad : {"", "0", "-1", "1x", "18446744073709551616"})
        EXPECT_THROW(parsePositiveCount("--limit", bad), UsageError) << bad;
}

TEST(CommandLine, OverviewListsEveryRow) {
    const std::string text = overviewText({kOne, kMany});
    EXPECT_NE(text.find("\n  one      \n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  many     \n"), std::string::npos) << text;
}

}  // namespace
}  // namespace lousa::tool
