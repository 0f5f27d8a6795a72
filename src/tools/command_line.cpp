#include "tools/command_line.hpp"

#include <algorithm>
#include <cstdint>

namespace lousa::tool {

std::optional<std::string> Arguments::option(const std::string& name) const {
    const auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
}

namespace {

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

Arguments parseArguments(const Command& command, const std::vector<std::string>& words) {
    Arguments args;
    bool positionalOnly = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& arg = words[i];
        if (!positionalOnly && (arg == "--help" || arg == "-h")) {
            args.help = true;
            continue;
        }
        if (!positionalOnly && arg == "--") {
            positionalOnly = true;
            continue;
        }
        if (!positionalOnly && arg.size() > 1 && arg[0] == '-') {
            std::string name = arg;
            std::optional<std::string> value;
            if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            } else if (!arg.starts_with("--") && arg.size() > 2 && listed(command.valueOptions, arg.substr(0, 2))) {
                // A short option with its value attached, as getopt takes it: -j2, -oDIR.
                name = arg.substr(0, 2);
                value = arg.substr(2);
            }
            if (listed(command.flags, name)) {
                if (value) throw UsageError("option " + name + " takes no value");
                args.flags.insert(name);
                continue;
            }
            if (!listed(command.valueOptions, name)) throw UsageError("unknown option " + name);
            if (!value) {
                if (i + 1 >= words.size()) throw UsageError("option " + name + " needs a value");
                value = words[++i];
            }
            if (args.options.contains(name)) throw UsageError("option " + name + " given twice");
            args.options[name] = *value;
            continue;
        }
        if (!args.files.empty() && !command.manyFiles)
            throw UsageError("one file only (found " + args.files.front() + " and " + arg + ")");
        args.files.push_back(arg);
    }
    if (!args.help && args.files.empty()) throw UsageError("missing FILE");
    if (!args.files.empty()) args.file = args.files.front();
    return args;
}

std::string overviewText(const std::vector<Command>& commands) {
    std::string text =
        "usage: lousa COMMAND [OPTIONS] FILE\n"
        "\n"
        "Builds and runs programs of the Lousa machine.\n"
        "\n"
        "commands:\n";
    for (const Command& c : commands) {
        std::string name(c.name);
        name.resize(std::max<std::size_t>(name.size() + 1, 9), ' ');
        text += "  " + name + std::string(c.summary) + "\n";
    }
    text +=
        "\n"
        "'lousa COMMAND --help' describes one command; 'lousa --version' names the version.\n"
        "Exit status: 0 on success, 1 when a command fails, 2 for bad usage\n"
        "(run and trace: the program's own status).\n";
    return text;
}

std::uint64_t parsePositiveCount(const std::string& option, const std::string& text) {
    std::uint64_t value = 0;
    if (text.empty()) throw UsageError(option + " needs a positive number");
    for (const char c : text) {
        if (c < '0' || c > '9') throw UsageError(option + " needs a positive number, not '" + text + "'");
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) throw UsageError(option + " " + text + " is too large");
        value = value * 10 + digit;
    }
    if (value == 0) throw UsageError(option + " needs a positive number");
    return value;
}

}  // namespace lousa::tool
