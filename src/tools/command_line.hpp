#pragma once
// The tool's command line: a table of commands, each with its help text and
// the options it takes, and the parser that checks a command's arguments
// against its row. Adding a command means adding one row to the table in
// lousa_main.cpp.

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lousa::tool {

// Bad usage: reported as one line with exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Arguments;

struct Command {
    std::string_view name;
    std::string_view summary;  // one line in 'lousa --help'
    std::string_view help;     // 'lousa NAME --help', starting with "usage: lousa NAME"
    std::vector<std::string> valueOptions = {};  // options followed by a value ("-o OUT", "--name=NAME")
    std::vector<std::string> flags = {};         // options standing alone ("--verbose")
    bool manyFiles = false;                 // accepts several FILE arguments
    int (*run)(const Arguments&) = nullptr;
};

struct Arguments {
    std::string file;                // the first FILE
    std::vector<std::string> files;  // every FILE, in order
    std::map<std::string, std::string> options;
    std::set<std::string> flags;
    bool help = false;

    [[nodiscard]] std::optional<std::string> option(const std::string& name) const;
    [[nodiscard]] bool flag(const std::string& name) const { return flags.contains(name); }
};

// Parses the arguments after the command name. Throws UsageError.
Arguments parseArguments(const Command& command, const std::vector<std::string>& words);

// 'lousa --help': the usage line, then one line per command from the table.
std::string overviewText(const std::vector<Command>& commands);

// A positive decimal count (--limit N and the like). Throws UsageError.
std::uint64_t parsePositiveCount(const std::string& option, const std::string& text);

}  // namespace lousa::tool
