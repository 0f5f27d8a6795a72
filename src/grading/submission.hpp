#pragma once
// A student's submission: a packed executable (the classroom's Windows
// executables carry the same payload), a listing or a code text. The student
// id is the file's stem. A submission that cannot be read or decoded keeps
// its error and is graded as one invalid-program row.

#include <filesystem>
#include <string>
#include <vector>

#include "vm/word.hpp"

namespace lousa::grading {

struct Submission {
    std::string id;
    std::filesystem::path path;
    std::vector<Word> code;
    std::string codeText;  // what the cache key hashes
    std::string error;     // non-empty: invalid program, and why

    [[nodiscard]] bool valid() const { return error.empty(); }
};

// Loads one file; never throws.
Submission loadSubmission(const std::filesystem::path& path);

// Every submission named: files as they are, folders by their files (hidden
// ones skipped). Sorted by id; an id given twice keeps the file name to stay
// unique. Throws std::runtime_error for a name that does not exist.
std::vector<Submission> collectSubmissions(const std::vector<std::string>& paths);

}  // namespace lousa::grading
