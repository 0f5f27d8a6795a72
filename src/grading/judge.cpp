#include "grading/judge.hpp"

#include <cstdio>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "console/code_page.hpp"
#include "vm/latin1.hpp"

namespace lousa::grading {

namespace fs = std::filesystem;

namespace {

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", s);
    return text;
}

std::string mib(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%g MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// The first file the test expects that the box lacks or holds differently.
std::optional<std::string> expectedFilesProblem(const TestCase& test, const fs::path& box) {
    if (!test.expect) return std::nullopt;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(*test.expect, ec)) {
        if (!entry.is_regular_file()) continue;
        const fs::path relative = fs::relative(entry.path(), *test.expect);
        const fs::path written = box / relative;
        if (!fs::is_regular_file(written, ec)) return "the file " + relative.string() + " was not written";
        const std::string want = readBytes(entry.path());
        const std::string got = readBytes(written);
        const std::size_t at = firstDifference(got, want);
        if (at != std::string::npos)
            return "the file " + relative.string() + " differs from the expected one at byte " + std::to_string(at + 1);
    }
    return std::nullopt;
}

// The run-time error text as the report shows it: "Divisão por Zero, linha 12".
std::string errorMessage(const RunFacts& facts) {
    std::string text = utf8FromLatin1(facts.errorText);
    const std::size_t newline = text.find('\n');
    std::string message = newline == std::string::npos ? text : text.substr(newline + 1);
    while (message.starts_with(" ") || message.starts_with("=") || message.starts_with(">"))
        message.erase(0, 1);
    while (!message.empty() && (message.back() == '!' || message.back() == '.' || message.back() == '\n'))
        message.pop_back();
    return message + ", linha " + std::to_string(facts.errorLine);
}

// The transcript holds the program's bytes as written; its line ends are
// shown as standard output shows them (CR LF as one LF, a lone CR kept).
std::string plainLineEnds(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != '\r' || i + 1 == bytes.size() || bytes[i + 1] != '\n') text += bytes[i];
    return text;
}

bool isMemoryMessage(const std::string& latin1Text) {
    return latin1Text.find(latin1("usa muita memória")) != std::string::npos;
}

// The messages of a console read that found no value.
bool isReadingMessage(const std::string& latin1Text) {
    for (const char* message : {"Inteiro inválido!", "Real inválido!", "Erro na leitura do valor booleano!",
                                "Tentativa de leitura após o fim da entrada!"})
        if (latin1Text.ends_with(latin1(message))) return true;
    return false;
}

}  // namespace

RunResult judgeRun(const TestCase& test, const Comparator& comparator, const RunOutcome& outcome, const fs::path& box,
                   const fs::path& scratch) {
    RunResult r;
    r.test = test.name;
    r.cpuSeconds = outcome.cpuSeconds;
    r.wallSeconds = outcome.wallSeconds;
    const RunFacts& facts = outcome.facts;
    auto keepOutput = [&] {
        r.output = reportText(outcome.output, kReportOutputLimit, &r.outputCut);
        r.transcript = utf8FromCp850(plainLineEnds(facts.transcript));
        if (facts.transcriptCut) r.transcript += "\n[...]";
    };
    auto verdict = [&](Verdict v, std::string message) {
        r.verdict = v;
        r.message = std::move(message);
        if (v != Verdict::Accepted) keepOutput();
        return r;
    };
    switch (outcome.end) {
        case RunEnd::OutputLimit:
            return verdict(Verdict::OutputLimit, "standard output passed " + mib(outcome.output.size()));
        case RunEnd::FileLimit:
            return verdict(Verdict::OutputLimit, "a file written passed the file size limit");
        case RunEnd::ProcessorLimit:
            return verdict(Verdict::TimeLimit, "used " + seconds(outcome.cpuSeconds) + " of processor time");
        case RunEnd::WallLimit:
            return verdict(Verdict::WallTimeLimit, "still running after " + seconds(outcome.wallSeconds) +
                                                       (facts.readPastEnd ? "" : " (waiting or sleeping)"));
        case RunEnd::OutOfMemory:
            return verdict(Verdict::MemoryLimit, "an allocation failed at the memory limit");
        case RunEnd::SandboxFailed:
            return verdict(Verdict::JudgeError, "the run could not be confined: " + facts.problem);
        case RunEnd::Crashed:
            return verdict(Verdict::JudgeError, outcome.signal ? std::string("the runner ended by signal ") +
                                                                     strsignal(outcome.signal)
                                                               : "the runner ended without reporting");
        case RunEnd::Finished:
            break;
    }
    if (!facts.errorText.empty()) {
        if (isMemoryMessage(facts.errorText)) return verdict(Verdict::MemoryLimit, errorMessage(facts));
        if (facts.readPastEnd && isReadingMessage(facts.errorText))
            return verdict(Verdict::OutOfInput, errorMessage(facts) +
                                                    " (it read past the end of the input: it expected more or other input)");
        return verdict(Verdict::RunTimeError, errorMessage(facts));
    }
    if (const auto problem = expectedFilesProblem(test, box)) return verdict(Verdict::WrongAnswer, *problem);
    const std::string answer = answerInCodePage(readBytes(test.answer));
    const Judgement judged = comparator.judge({test, outcome.output, answer, facts.screenText, facts.screenAttributes,
                                               scratch});
    if (judged.kind == Judgement::Kind::Accepted) return verdict(Verdict::Accepted, judged.message);
    if (judged.kind == Judgement::Kind::JudgeError) return verdict(Verdict::JudgeError, judged.message);
    if (test.flags.screen) return verdict(Verdict::WrongAnswer, judged.message);
    const Relaxation relaxation = wouldPassIf(outcome.output, answer);
    verdict(relaxation.presentationOnly ? Verdict::Presentation : Verdict::WrongAnswer, judged.message);
    r.wouldPassIf = relaxation.name;
    return r;
}

}  // namespace lousa::grading
