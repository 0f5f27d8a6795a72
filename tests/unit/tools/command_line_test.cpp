// The command table's parser: what each row accepts and how it refuses.

#include "tools/command_line.hpp"

#include <gtest/gtest.h>

#include <map>

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

TEST(CommandLine, ShortOptionsTakeAnAttachedValue) {
    const Command grade{.name = "grade", .summary = "", .help = "", .valueOptions = {"-o", "-j", "--seed"},
                        .flags = {"--no-cache"}, .manyFiles = true, .run = noRun};
    const struct {
        std::vector<std::string> words;
        std::map<std::string, std::string> options;
        std::vector<std::string> files;
    } cases[] = {
        {{"p", "-j2"}, {{"-j", "2"}}, {"p"}},
        {{"p", "-j", "2"}, {{"-j", "2"}}, {"p"}},
        {{"-oDIR", "p", "s"}, {{"-o", "DIR"}}, {"p", "s"}},
        {{"p", "-o-"}, {{"-o", "-"}}, {"p"}},                  // a value that starts with a dash
        {{"p", "-o=x"}, {{"-o", "=x"}}, {"p"}},                // as getopt: everything after the letter
        {{"p", "-j12", "-o/tmp/a b"}, {{"-j", "12"}, {"-o", "/tmp/a b"}}, {"p"}},
        {{"p", "--", "-j2"}, {}, {"p", "-j2"}},               // after "--", a file
        {{"p", "--seed=3"}, {{"--seed", "3"}}, {"p"}},
    };
    for (const auto& c : cases) {
        const Arguments a = parseArguments(grade, c.words);
        EXPECT_EQ(a.options, c.options) << c.words[1];
        EXPECT_EQ(a.files, c.files) << c.words[1];
    }
    // Long options and flags take nothing attached; unknown letters stay unknown.
    const struct {
        std::vector<std::string> words;
        std::string message;
    } refused[] = {
        {{"p", "--seed3"}, "unknown option --seed3"},
        {{"p", "--no-cachex"}, "unknown option --no-cachex"},
        {{"p", "-x2"}, "unknown option -x2"},
        {{"p", "-j2", "-j3"}, "option -j given twice"},
    };
    for (const auto& c : refused) {
        try {
            parseArguments(grade, c.words);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
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
