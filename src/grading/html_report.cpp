// index.html: one self-contained page (no network, no script needed) with
// the class matrix in verdict colours, each student's total, the mistakes
// grouped, and for every run not accepted its input, the expected and the
// actual output and the console transcript side by side, whitespace made
// visible and the first difference marked.

#include <array>
#include <map>

#include "grading/reports.hpp"

namespace lousa::grading {

namespace {

struct Colour {
    Verdict verdict;
    const char* background;
    const char* text;
};

constexpr std::array<Colour, 11> kColours{{
    {Verdict::Accepted, "#2e7d32", "#fff"},
    {Verdict::WrongAnswer, "#c62828", "#fff"},
    {Verdict::Presentation, "#f9a825", "#000"},
    {Verdict::TimeLimit, "#6a1b9a", "#fff"},
    {Verdict::WallTimeLimit, "#8e24aa", "#fff"},
    {Verdict::MemoryLimit, "#283593", "#fff"},
    {Verdict::OutputLimit, "#00838f", "#fff"},
    {Verdict::RunTimeError, "#ef6c00", "#000"},
    {Verdict::OutOfInput, "#ffcc80", "#000"},
    {Verdict::InvalidProgram, "#424242", "#fff"},
    {Verdict::JudgeError, "#000", "#ff0"},
}};

constexpr const char* kStyle = R"(
body{font-family:system-ui,sans-serif;margin:1.5em;color:#222}
h1{margin:0 0 .2em}
.note{color:#555}
table.matrix{border-collapse:collapse;margin:1em 0}
.matrix th,.matrix td{border:1px solid #ccc;padding:.25em .5em;text-align:center;font-size:.9em}
.matrix th.student{text-align:left}
.matrix td a{color:inherit;text-decoration:none;display:block}
.matrix th.sample{font-style:italic;color:#777}
.score{font-weight:bold}
.legend span{display:inline-block;padding:.1em .5em;margin:.1em;border-radius:3px;font-size:.85em}
details.run{border:1px solid #ccc;border-radius:4px;margin:.5em 0;padding:.3em .6em}
details.run summary{cursor:pointer}
.verdict{padding:.05em .4em;border-radius:3px;font-size:.85em}
.sides{display:grid;grid-template-columns:repeat(auto-fit,minmax(14em,1fr));gap:.6em;margin-top:.5em}
.sides h4{margin:.2em 0}
pre{background:#f6f6f6;border:1px solid #ddd;padding:.4em;overflow:auto;max-height:24em;margin:0;font-size:.85em;white-space:pre-wrap;word-break:break-all}
.ws{color:#aaa}
mark.first-diff{background:#ffeb3b;outline:2px solid #c62828}
.cut{color:#a00;font-style:italic}
.hint{background:#e8f5e9;padding:.2em .5em;border-radius:3px}
)";

const Colour& colourOf(Verdict v) { return kColours[static_cast<std::size_t>(v)]; }

std::string html(std::string_view text) { return xmlEscaped(text); }

std::string verdictBadge(Verdict v) {
    const Colour& c = colourOf(v);
    return "<span class=\"verdict v-" + std::string(verdictName(v)) + "\" style=\"background:" + c.background +
           ";color:" + c.text + "\">" + std::string(verdictName(v)) + "</span>";
}

// The number of bytes in the UTF-8 character starting at text[i].
std::size_t characterLength(std::string_view text, std::size_t i) {
    std::size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    return n;
}

// Text with spaces, tabs and line ends shown; the character at `mark` (a
// byte offset at a character's start, or the end) is marked.
std::string visible(std::string_view text, std::size_t mark) {
    std::string out;
    for (std::size_t i = 0; i <= text.size();) {
        const bool marked = i == mark;
        if (marked) out += "<mark class=\"first-diff\">";
        if (i == text.size()) {
            if (marked) out += "<span class=\"ws\">&#x2205;</span></mark>";  // the text ended here
            break;
        }
        const std::size_t n = characterLength(text, i);
        const std::string_view c = text.substr(i, n);
        if (c == " ") out += "<span class=\"ws\">&#xB7;</span>";
        else if (c == "\t") out += "<span class=\"ws\">&#x2192;</span>\t";
        else if (c == "\r") out += "<span class=\"ws\">&#x240D;</span>";
        else if (c == "\n") out += "<span class=\"ws\">&#x21B5;</span>\n";
        else out += html(c);
        if (marked) out += "</mark>";
        i += n;
    }
    return out;
}

// The first byte where a and b differ, moved back to a character's start.
std::size_t firstDifferenceAt(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) return std::string_view::npos;
    while (i > 0 && ((i < a.size() && (static_cast<unsigned char>(a[i]) & 0xC0) == 0x80) ||
                     (i < b.size() && (static_cast<unsigned char>(b[i]) & 0xC0) == 0x80)))
        --i;
    return i;
}

std::string side(const char* title, std::string_view text, std::size_t mark, bool cut, const char* kind = nullptr,
                 const char* tip = nullptr) {
    std::string out = "<div><h4" + (tip ? std::string(" title=\"") + tip + "\"" : std::string()) + ">" + title +
                      "</h4><pre" +
                      (kind ? std::string(" class=\"") + kind + "\"" : std::string()) + ">" + visible(text, mark) +
                      "</pre>";
    if (cut) out += "<div class=\"cut\">cut: only the first part is shown</div>";
    return out + "</div>";
}

std::string anchor(std::size_t student, std::size_t test) {
    std::string id = "r";
    id.append(std::to_string(student)).append("-").append(std::to_string(test));
    return id;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string matrix(const GradeResults& results) {
    std::string out = "<table class=\"matrix\" id=\"matrix\"><thead><tr><th class=\"student\">student</th>";
    for (const TestInfo& t : results.tests)
        out += std::string("<th") + (t.sample ? " class=\"sample\" title=\"sample: not scored\"" : "") + ">" +
               html(t.name) + "</th>";
    out += "<th>score</th></tr></thead><tbody>\n";
    for (std::size_t s = 0; s < results.students.size(); ++s) {
        const StudentResult& student = results.students[s];
        out += "<tr><th class=\"student\">" + html(student.id) + "</th>";
        for (std::size_t t = 0; t < student.runs.size(); ++t) {
            const RunResult& r = student.runs[t];
            const Colour& c = colourOf(r.verdict);
            const std::string cell = std::string(verdictCode(r.verdict));
            out += "<td class=\"cell\" data-verdict=\"" + std::string(verdictName(r.verdict)) + "\" style=\"background:" +
                   c.background + ";color:" + c.text + "\" title=\"" + html(r.test + ": " + std::string(verdictName(r.verdict)) +
                                                                              (r.message.empty() ? "" : " - " + r.message)) +
                   "\">";
            out += r.verdict == Verdict::Accepted ? cell : "<a href=\"#" + anchor(s, t) + "\">" + cell + "</a>";
            out += "</td>";
        }
        out += "<td class=\"score\">" + number(student.score) + " / " + number(student.max) + "</td></tr>\n";
    }
    return out + "</tbody></table>\n";
}

std::string legend(const GradeResults& results) {
    std::map<Verdict, int> counts;
    for (const StudentResult& s : results.students)
        for (const RunResult& r : s.runs) ++counts[r.verdict];
    std::string out = "<p class=\"legend\">";
    for (const Colour& c : kColours)
        out += "<span style=\"background:" + std::string(c.background) + ";color:" + c.text + "\">" +
               std::string(verdictCode(c.verdict)) + " " + std::string(verdictName(c.verdict)) + ": " +
               std::to_string(counts[c.verdict]) + "</span>";
    return out + "</p>\n";
}

std::string runDetails(const GradeResults& results, std::size_t s, std::size_t t, bool open) {
    const StudentResult& student = results.students[s];
    const RunResult& r = student.runs[t];
    const TestInfo* test = t < results.tests.size() ? &results.tests[t] : nullptr;
    std::string out = "<details class=\"run\" id=\"" + anchor(s, t) + "\"" + (open ? " open" : "") +
                      "><summary><b>" + html(student.id) + "</b> " +
                      html(r.test) + " " + verdictBadge(r.verdict) + " " + html(r.message) + "</summary>\n";
    if (!r.wouldPassIf.empty()) out += "<p class=\"hint\">would pass if: " + html(r.wouldPassIf) + "</p>";
    if (r.cluster != 0)
        out += "<p class=\"note\">the same output as " + std::to_string(r.clusterSize - 1) +
               " other student(s): mistake #" + std::to_string(r.cluster) + " of this test</p>";
    if (r.verdict != Verdict::InvalidProgram && test) {
        // Side by side: what went in, what was wanted, what came out, and the
        // console as the student saw it (the input where it was read).
        const std::size_t mark = firstDifferenceAt(r.output, test->expected);
        out += "<div class=\"sides\">" + side("input", test->input, std::string_view::npos, false, "input") +
               side("expected", test->expected, mark, false, "expected") +
               side("actual", r.output, mark, r.outputCut, "actual");
        if (!r.transcript.empty())
            out += side("transcript", r.transcript, std::string_view::npos, false, "transcript",
                        "the console as the student saw it, each input line where the program read it");
        out += "</div>";
    }
    return out + "</details>\n";
}

// Each mistake made by several students, once: the teacher reads it once.
std::string clusters(const GradeResults& results) {
    std::string out;
    for (std::size_t t = 0; t < results.tests.size(); ++t) {
        std::map<int, std::pair<std::vector<std::string>, std::size_t>> groups;  // cluster -> students, first student
        for (std::size_t s = 0; s < results.students.size(); ++s) {
            if (t >= results.students[s].runs.size()) continue;
            const RunResult& r = results.students[s].runs[t];
            if (r.cluster == 0) continue;
            auto& group = groups[r.cluster];
            if (group.first.empty()) group.second = s;
            group.first.push_back(results.students[s].id);
        }
        for (const auto& [number, group] : groups) {
            std::string names;
            for (const std::string& id : group.first) names += (names.empty() ? "" : ", ") + html(id);
            out += "<li><b>" + html(results.tests[t].name) + "</b> mistake #" + std::to_string(number) + ": " +
                   std::to_string(group.first.size()) + " students (" + names + ") wrote the same output: <a href=\"#" +
                   anchor(group.second, t) + "\">see it once</a></li>\n";
        }
    }
    if (out.empty()) return {};
    return "<h2>Mistakes shared by several students</h2>\n<ul class=\"clusters\">\n" + out + "</ul>\n";
}

}  // namespace

std::string htmlReport(const GradeResults& results) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
                      html(results.problem) + ": grades</title><style>" + kStyle + "</style></head><body>\n";
    out += "<h1>" + html(results.problem) + "</h1>\n<p class=\"note\">" + std::to_string(results.students.size()) +
           " students, " + std::to_string(results.tests.size()) + " tests. Sandbox: " + html(results.sandboxNote) +
           "</p>\n";
    out += legend(results) + matrix(results) + clusters(results);
    out += "<h2>Runs not accepted</h2>\n";
    bool any = false;
    for (std::size_t s = 0; s < results.students.size(); ++s)
        for (std::size_t t = 0; t < results.students[s].runs.size(); ++t)
            if (results.students[s].runs[t].verdict != Verdict::Accepted) {
                out += runDetails(results, s, t, !any);  // the first one open, as an example
                any = true;
            }
    if (!any) out += "<p>Every run was accepted.</p>\n";
    return out + "</body></html>\n";
}

}  // namespace lousa::grading
