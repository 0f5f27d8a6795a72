#include "grading/comparator.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "console/code_page.hpp"

namespace lousa::grading {

namespace fs = std::filesystem;

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Tokens and, between them, the runs of white space (first and last may be empty).
struct Tokenized {
    std::vector<std::string_view> tokens;
    std::vector<std::string_view> spaces;  // spaces[i] precedes tokens[i]; one more at the end
};

Tokenized tokenize(std::string_view text) {
    Tokenized t;
    std::size_t i = 0;
    while (true) {
        const std::size_t spaceStart = i;
        while (i < text.size() && isSpace(text[i])) ++i;
        t.spaces.push_back(text.substr(spaceStart, i - spaceStart));
        if (i >= text.size()) break;
        const std::size_t start = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        t.tokens.push_back(text.substr(start, i - start));
    }
    return t;
}

std::optional<double> number(std::string_view token) {
    if (token.empty() || token.size() > 64) return std::nullopt;
    const std::string s(token);
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || s == "." || std::isnan(d)) return std::nullopt;
    if (s.find_first_of("xXpP") != std::string::npos) return std::nullopt;  // no hexadecimal floats
    return d;
}

bool equalText(std::string_view a, std::string_view b, bool caseSensitive) {
    if (a.size() != b.size()) return false;
    if (caseSensitive) return a == b;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string shownToken(std::string_view cp850) {
    std::string text;
    text += '\'';
    text.append(utf8FromCp850(cp850.substr(0, 60)));
    text += '\'';
    if (cp850.size() > 60) text.append("...");
    return text;
}

class ExactComparator : public Comparator {
public:
    Judgement judge(const CompareInput& in) const override {
        const std::size_t at = firstDifference(in.output, in.answer);
        if (at == std::string_view::npos) return {};
        return {Judgement::Kind::Wrong, "the output differs from the answer at byte " + std::to_string(at + 1)};
    }
};

class DefaultComparator : public Comparator {
public:
    explicit DefaultComparator(CompareFlags flags) : flags_(flags) {}
    Judgement judge(const CompareInput& in) const override { return compareTokens(in.output, in.answer, flags_); }

private:
    CompareFlags flags_;
};

std::string rightTrimmed(std::string_view line) {
    std::size_t end = line.size();
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\r')) --end;
    return std::string(line.substr(0, end));
}

std::vector<std::string> screenLines(std::string_view text, std::size_t rows) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size() && lines.size() < rows) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(rightTrimmed(text.substr(start, end - start)));
        if (end == text.size()) break;
        start = end + 1;
    }
    lines.resize(rows);
    return lines;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The final 80x25 screen against the answer's lines (trailing blanks ignored);
// with attributes, also against NAME.attr: 25 lines of 80 hexadecimal pairs.
class ScreenComparator : public Comparator {
public:
    explicit ScreenComparator(bool attributes) : attributes_(attributes) {}
    Judgement judge(const CompareInput& in) const override {
        constexpr std::size_t kRows = 25;
        const std::vector<std::string> got = screenLines(in.screen, kRows);
        const std::vector<std::string> want = screenLines(in.answer, kRows);
        for (std::size_t row = 0; row < kRows; ++row)
            if (got[row] != want[row])
                return {Judgement::Kind::Wrong, "screen row " + std::to_string(row + 1) + ": expected " +
                                                    shownToken(want[row]) + ", got " + shownToken(got[row])};
        if (!attributes_) return {};
        fs::path attrFile = in.test.answer;
        attrFile.replace_extension(".attr");
        std::error_code ec;
        if (!fs::is_regular_file(attrFile, ec))
            return {Judgement::Kind::JudgeError, attrFile.string() + " is missing (screen_attributes asks for it)"};
        std::string wantAttr;
        for (const char c : readBytes(attrFile))
            if (!isSpace(c)) wantAttr += lower(c);
        // A malformed file is the package's fault, never the student's.
        const bool hex = std::all_of(wantAttr.begin(), wantAttr.end(),
                                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
        if (!hex || wantAttr.size() != kRows * 80 * 2)
            return {Judgement::Kind::JudgeError, attrFile.filename().string() +
                                                     " must hold 25 lines of 80 hexadecimal pairs (one per cell)"};
        if (wantAttr == in.screenAttributes) return {};
        const std::size_t at = firstDifference(wantAttr, in.screenAttributes) / 2;
        return {Judgement::Kind::Wrong, "screen colours differ at row " + std::to_string(at / 80 + 1) + ", column " +
                                            std::to_string(at % 80 + 1)};
    }

private:
    bool attributes_;
};

// A checker in Kattis's convention: validator INPUT ANSWER FEEDBACK_DIR
// [FLAGS...] with the output on standard input; exit 42 accepts, 43 rejects,
// anything else (a crash, a time-out) is the judge's failure.
class ExternalComparator : public Comparator {
public:
    ExternalComparator(fs::path program, std::string flags) : program_(std::move(program)), flags_(std::move(flags)) {}

    Judgement judge(const CompareInput& in) const override {
        const fs::path feedback = in.scratch / "feedback";
        std::error_code ec;
        fs::create_directories(feedback, ec);
        const fs::path outputFile = in.scratch / "program_output";
        {
            std::ofstream out(outputFile, std::ios::binary);
            out.write(in.output.data(), static_cast<std::streamsize>(in.output.size()));
            if (!out) return {Judgement::Kind::JudgeError, "cannot write the output for the checker"};
        }
        std::vector<std::string> args{program_.string(), fs::absolute(in.test.input).string(),
                                      fs::absolute(in.test.answer).string(), feedback.string() + "/"};
        std::istringstream words(flags_);
        for (std::string w; words >> w;) args.push_back(w);
        const int status = runChecker(args, outputFile, in.scratch);
        std::string message = readBytes(feedback / "judgemessage.txt");
        while (!message.empty() && isSpace(message.back())) message.pop_back();
        if (status == 42) return {Judgement::Kind::Accepted, message};
        if (status == 43) return {Judgement::Kind::Wrong, message.empty() ? "the checker rejected the output" : message};
        return {Judgement::Kind::JudgeError,
                status < 0 ? "the checker did not finish in 60 s or could not start"
                           : "the checker ended with status " + std::to_string(status) +
                                 (message.empty() ? "" : ": " + message)};
    }

private:
    // The checker's exit status; -1 when it could not start or was killed.
    static int runChecker(const std::vector<std::string>& args, const fs::path& stdinFile, const fs::path& dir) {
        const pid_t pid = ::fork();
        if (pid < 0) return -1;
        if (pid == 0) {
            const int in = ::open(stdinFile.c_str(), O_RDONLY);
            const int devnull = ::open("/dev/null", O_WRONLY);
            if (in < 0 || devnull < 0 || ::dup2(in, 0) < 0 || ::dup2(devnull, 1) < 0 || ::dup2(devnull, 2) < 0)
                ::_exit(127);
            if (::chdir(dir.c_str()) != 0) ::_exit(127);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (true) {
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid) break;
            if (r < 0 && errno != EINTR) return -1;
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path program_;
    std::string flags_;
};

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

std::string withoutTrailingSpaces(std::string_view s) {
    std::string out;
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t end = s.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = s.size();
        std::string_view line = s.substr(start, end - start);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        out += line;
        if (!last) out += '\n';
        start = end + 1;
    }
    return out;
}

std::string unixLineEnds(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

// The largest difference between numbers in the same places, when every
// other token matches; nullopt when the outputs differ otherwise.
std::optional<double> largestNumberDifference(std::string_view output, std::string_view answer) {
    const Tokenized a = tokenize(output);
    const Tokenized b = tokenize(answer);
    if (a.tokens.size() != b.tokens.size()) return std::nullopt;
    double largest = 0;
    bool numbersDiffer = false;
    for (std::size_t i = 0; i < a.tokens.size(); ++i) {
        if (a.tokens[i] == b.tokens[i]) continue;
        const auto x = number(a.tokens[i]);
        const auto y = number(b.tokens[i]);
        if (!x || !y) return std::nullopt;
        // Rounding is about fractions: two different integers are a wrong number.
        const auto fractional = [](std::string_view t) { return t.find_first_of(".eE") != std::string_view::npos; };
        if (!fractional(a.tokens[i]) && !fractional(b.tokens[i])) return std::nullopt;
        largest = std::max(largest, std::fabs(*x - *y));
        numbersDiffer = true;
    }
    if (!numbersDiffer) return std::nullopt;
    return largest;
}

}  // namespace

std::size_t firstDifference(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return a.size() == b.size() ? std::string_view::npos : n;
}

Judgement compareTokens(std::string_view output, std::string_view answer, const CompareFlags& flags) {
    const Tokenized got = tokenize(output);
    const Tokenized want = tokenize(answer);
    const bool floats = flags.floatAbsoluteTolerance || flags.floatRelativeTolerance;
    for (std::size_t i = 0; i < want.tokens.size(); ++i) {
        const std::string where = "token " + std::to_string(i + 1);
        if (i >= got.tokens.size())
            return {Judgement::Kind::Wrong, "the output ends early: " + where + " should be " + shownToken(want.tokens[i])};
        if (flags.spaceChangeSensitive && got.spaces[i] != want.spaces[i])
            return {Judgement::Kind::Wrong, "the spacing before " + where + " differs"};
        const std::string_view g = got.tokens[i];
        const std::string_view w = want.tokens[i];
        const auto wantNumber = floats ? number(w) : std::nullopt;
        if (wantNumber) {
            const auto gotNumber = number(g);
            if (!gotNumber)
                return {Judgement::Kind::Wrong, where + ": expected the number " + shownToken(w) + ", got " + shownToken(g)};
            const double diff = std::fabs(*gotNumber - *wantNumber);
            const bool absOk = flags.floatAbsoluteTolerance && diff <= *flags.floatAbsoluteTolerance;
            const bool relOk =
                flags.floatRelativeTolerance && diff <= *flags.floatRelativeTolerance * std::fabs(*wantNumber);
            if (!absOk && !relOk && *gotNumber != *wantNumber)
                return {Judgement::Kind::Wrong, where + ": expected " + shownToken(w) + ", got " + shownToken(g) +
                                                    " (outside the tolerance)"};
            continue;
        }
        if (!equalText(g, w, flags.caseSensitive))
            return {Judgement::Kind::Wrong, where + ": expected " + shownToken(w) + ", got " + shownToken(g)};
    }
    if (got.tokens.size() > want.tokens.size())
        return {Judgement::Kind::Wrong, "extra output after the answer: " + shownToken(got.tokens[want.tokens.size()])};
    if (flags.spaceChangeSensitive && got.spaces.back() != want.spaces.back())
        return {Judgement::Kind::Wrong, "the spacing at the end differs"};
    return {};
}

std::unique_ptr<Comparator> makeComparator(const Problem& problem, const TestCase& test) {
    if (problem.outputValidator) return std::make_unique<ExternalComparator>(*problem.outputValidator, test.flagsText);
    if (test.flags.screen) return std::make_unique<ScreenComparator>(test.flags.screenAttributes);
    if (test.flags.exact) return std::make_unique<ExactComparator>();
    return std::make_unique<DefaultComparator>(test.flags);
}

std::string answerInCodePage(std::string_view bytes) {
    bool nonAscii = false;
    Utf8Decoder decoder;
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x80 && !decoder.pending()) continue;
        nonAscii = true;
        if (decoder.push(b) == Utf8Decoder::Status::kMalformed) return std::string(bytes);
    }
    if (!nonAscii || decoder.pending()) return std::string(bytes);
    return cp850FromUtf8(bytes);
}

Relaxation wouldPassIf(std::string_view output, std::string_view answer) {
    struct Step {
        const char* name;
        bool presentation;
        std::string (*relax)(std::string_view);
    };
    static const Step steps[] = {
        {"a missing final line end", true,
         [](std::string_view s) { return std::string(s.ends_with('\n') ? s.substr(0, s.size() - 1) : s); }},
        {"CR LF line ends", true, [](std::string_view s) { return unixLineEnds(s); }},
        {"trailing spaces", true, [](std::string_view s) { return withoutTrailingSpaces(unixLineEnds(s)); }},
        {"letter case", true, [](std::string_view s) { return lowered(s); }},
    };
    for (const Step& step : steps)
        if (step.relax(output) == step.relax(answer)) return {step.name, step.presentation};
    CompareFlags loose;  // tokens: any spacing
    loose.caseSensitive = true;
    if (compareTokens(output, answer, loose).kind == Judgement::Kind::Accepted) return {"spacing", true};
    loose.caseSensitive = false;
    if (compareTokens(output, answer, loose).kind == Judgement::Kind::Accepted) return {"spacing and letter case", true};
    if (const auto diff = largestNumberDifference(output, answer)) {
        std::ostringstream text;
        text << "float rounding (differences up to " << *diff << ")";
        return {text.str(), false};
    }
    return {};
}

}  // namespace lousa::grading
