#include "grading/submission.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "tools/program_files.hpp"

namespace lousa::grading {

namespace fs = std::filesystem;

Submission loadSubmission(const fs::path& path) {
    Submission s;
    s.path = path;
    s.id = path.stem().string();
    try {
        tool::ProgramInput program = tool::loadProgram(path.string());
        if (program.streamCutShort) {
            s.error = "the compressed program ends inside a token (damaged file)";
        } else if (program.code.empty()) {
            s.error = "the file holds no program";
        } else {
            s.code = std::move(program.code);
            s.codeText = std::move(program.codeText);
        }
    } catch (const tool::AssemblyFailed& e) {
        s.error = e.lines.empty() ? "the listing does not assemble" : e.lines.front();
    } catch (const std::exception& e) {
        s.error = e.what();
    }
    return s;
}

std::vector<Submission> collectSubmissions(const std::vector<std::string>& paths) {
    std::vector<fs::path> files;
    for (const std::string& name : paths) {
        std::error_code ec;
        const fs::path path(name);
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> inside;
            for (const fs::directory_entry& entry : fs::directory_iterator(path, ec)) {
                const std::string base = entry.path().filename().string();
                if (base.starts_with(".") || entry.is_directory(ec)) continue;
                inside.push_back(entry.path());
            }
            std::sort(inside.begin(), inside.end());
            files.insert(files.end(), inside.begin(), inside.end());
        } else if (fs::exists(path, ec) || fs::is_symlink(path, ec)) {
            files.push_back(path);
        } else {
            throw std::runtime_error(name + ": no such file or folder");
        }
    }
    std::map<std::string, int> stems;
    for (const fs::path& f : files) ++stems[f.stem().string()];
    std::vector<Submission> submissions;
    for (const fs::path& f : files) {
        Submission s = loadSubmission(f);
        if (stems[s.id] > 1) s.id = f.filename().string();
        submissions.push_back(std::move(s));
    }
    std::sort(submissions.begin(), submissions.end(),
              [](const Submission& a, const Submission& b) { return a.id < b.id; });
    for (std::size_t i = 1; i < submissions.size(); ++i)
        if (submissions[i].id == submissions[i - 1].id)
            throw std::runtime_error(submissions[i].path.string() + ": the same file is given twice");
    return submissions;
}

}  // namespace lousa::grading
