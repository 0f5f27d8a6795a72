#include "grading/problem.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

#include <yaml-cpp/yaml.h>

namespace lousa::grading {

namespace fs = std::filesystem;

namespace {

double positiveNumber(const YAML::Node& node, const std::string& what, const fs::path& file) {
    double value = 0;
    try {
        value = node.as<double>();
    } catch (const YAML::Exception&) {
        throw ProblemError(file.string() + ": " + what + " must be a number");
    }
    if (!(value > 0) || !std::isfinite(value)) throw ProblemError(file.string() + ": " + what + " must be positive");
    return value;
}

YAML::Node readYaml(const fs::path& file) {
    try {
        return YAML::LoadFile(file.string());
    } catch (const YAML::Exception& e) {
        throw ProblemError(file.string() + ": " + e.what());
    }
}

void readLimits(const YAML::Node& limits, RunLimits& into, const fs::path& file) {
    if (!limits) return;
    if (!limits.IsMap()) throw ProblemError(file.string() + ": limits must be a mapping");
    bool wallGiven = false;
    if (limits["time_limit"]) into.processorSeconds = positiveNumber(limits["time_limit"], "time_limit", file);
    if (limits["wall_time_limit"]) {
        into.wallSeconds = positiveNumber(limits["wall_time_limit"], "wall_time_limit", file);
        wallGiven = true;
    }
    if (!wallGiven) into.wallSeconds = into.processorSeconds * 2 + 1;
    const double mib = 1024.0 * 1024.0;
    if (limits["memory"])
        into.memoryBytes = static_cast<std::uint64_t>(positiveNumber(limits["memory"], "memory", file) * mib);
    if (limits["output"])
        into.outputBytes = static_cast<std::uint64_t>(positiveNumber(limits["output"], "output", file) * mib);
    if (limits["open_files"])
        into.openFiles = static_cast<std::uint64_t>(positiveNumber(limits["open_files"], "open_files", file));
}

std::string flagsOf(const YAML::Node& node, const fs::path& file) {
    if (!node) return {};
    if (node.IsScalar()) return node.as<std::string>();
    if (node.IsSequence()) {
        std::string text;
        for (const YAML::Node& item : node) {
            if (!text.empty()) text += ' ';
            text += item.as<std::string>();
        }
        return text;
    }
    throw ProblemError(file.string() + ": validator_flags must be a text");
}

std::optional<fs::path> directoryIfPresent(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return path;
    return std::nullopt;
}

void readGroup(Problem& problem, const std::string& group) {
    const fs::path dir = problem.root / "data" / group;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return;
    std::vector<fs::path> inputs;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".in") inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
        TestCase test;
        const std::string stem = input.stem().string();
        test.name = group + "/" + stem;
        test.sample = group == "sample";
        test.weight = test.sample ? 0.0 : 1.0;
        test.input = input;
        test.answer = dir / (stem + ".ans");
        if (!fs::is_regular_file(test.answer, ec)) throw ProblemError(test.answer.string() + ": missing answer file");
        test.files = directoryIfPresent(dir / (stem + ".files"));
        test.expect = directoryIfPresent(dir / (stem + ".expect"));
        test.flags = problem.flags;
        test.flagsText = problem.flagsText;
        const fs::path yamlFile = dir / (stem + ".yaml");
        if (fs::is_regular_file(yamlFile, ec)) {
            const YAML::Node node = readYaml(yamlFile);
            if (node["weight"]) {
                try {
                    test.weight = node["weight"].as<double>();
                } catch (const YAML::Exception&) {
                    throw ProblemError(yamlFile.string() + ": weight must be a number");
                }
                if (test.weight < 0 || !std::isfinite(test.weight))
                    throw ProblemError(yamlFile.string() + ": weight must not be negative");
            }
            if (node["validator_flags"]) {
                test.flagsText = flagsOf(node["validator_flags"], yamlFile);
                test.flags = parseFlags(test.flagsText);
            }
        }
        problem.tests.push_back(std::move(test));
    }
}

std::optional<fs::path> findValidator(const fs::path& root) {
    const fs::path dir = root / "output_validators";
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return std::nullopt;
    std::vector<fs::path> candidates;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const fs::perms p = entry.status().permissions();
        if ((p & fs::perms::owner_exec) != fs::perms::none) candidates.push_back(entry.path());
    }
    if (candidates.empty())
        throw ProblemError(dir.string() + ": no executable checker (build it, or make it executable)");
    std::sort(candidates.begin(), candidates.end());
    if (candidates.size() > 1) throw ProblemError(dir.string() + ": more than one executable; keep one checker");
    return fs::absolute(candidates.front());
}

}  // namespace

CompareFlags parseFlags(const std::string& text, CompareFlags flags) {
    std::istringstream words(text);
    std::string word;
    auto number = [&](const std::string& flag) {
        std::string value;
        if (!(words >> value)) throw ProblemError("validator flag " + flag + " needs a number");
        try {
            std::size_t used = 0;
            const double d = std::stod(value, &used);
            if (used != value.size() || d < 0 || !std::isfinite(d)) throw std::invalid_argument(value);
            return d;
        } catch (const std::exception&) {
            throw ProblemError("validator flag " + flag + " needs a number, not '" + value + "'");
        }
    };
    while (words >> word) {
        if (word == "case_sensitive") flags.caseSensitive = true;
        else if (word == "space_change_sensitive") flags.spaceChangeSensitive = true;
        else if (word == "float_relative_tolerance") flags.floatRelativeTolerance = number(word);
        else if (word == "float_absolute_tolerance") flags.floatAbsoluteTolerance = number(word);
        else if (word == "float_tolerance") flags.floatRelativeTolerance = flags.floatAbsoluteTolerance = number(word);
        else if (word == "exact") flags.exact = true;
        else if (word == "screen") flags.screen = true;
        else if (word == "screen_attributes") flags.screen = flags.screenAttributes = true;
        else throw ProblemError("unknown validator flag '" + word + "'");
    }
    return flags;
}

double Problem::maxScore() const {
    double total = 0;
    for (const TestCase& t : tests)
        if (!t.sample) total += t.weight;
    return total;
}

Problem loadProblem(const fs::path& rootIn) {
    std::error_code ec;
    if (!fs::is_directory(rootIn, ec)) throw ProblemError(rootIn.string() + ": not a problem package (no such directory)");
    Problem problem;
    problem.root = fs::absolute(rootIn);
    problem.name = problem.root.filename().string();
    if (problem.name.empty()) problem.name = problem.root.parent_path().filename().string();
    const fs::path yamlFile = problem.root / "problem.yaml";
    if (fs::is_regular_file(yamlFile, ec)) {
        const YAML::Node yaml = readYaml(yamlFile);
        if (yaml["name"] && yaml["name"].IsScalar()) problem.name = yaml["name"].as<std::string>();
        readLimits(yaml["limits"], problem.limits, yamlFile);
        problem.flagsText = flagsOf(yaml["validator_flags"], yamlFile);
        try {
            problem.flags = parseFlags(problem.flagsText);
        } catch (const ProblemError& e) {
            throw ProblemError(yamlFile.string() + ": " + e.what());
        }
    }
    problem.outputValidator = findValidator(problem.root);
    readGroup(problem, "sample");
    readGroup(problem, "secret");
    if (problem.tests.empty())
        throw ProblemError(problem.root.string() + ": no tests (data/sample/*.in or data/secret/*.in with .ans)");
    return problem;
}

}  // namespace lousa::grading
