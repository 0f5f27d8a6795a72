#pragma once
// The result cache: a run's result is kept under a hash of everything that
// decides it (the program, the test's files, the limits and flags, the seed),
// so grading again reruns only what changed.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include <xxhash.h>

#include "grading/result_model.hpp"

namespace lousa::grading {

// Builds a key from pieces; each piece is framed by its length, so that
// ("ab", "c") and ("a", "bc") differ.
class KeyBuilder {
public:
    KeyBuilder();
    ~KeyBuilder();
    KeyBuilder(const KeyBuilder&) = delete;
    KeyBuilder& operator=(const KeyBuilder&) = delete;
    KeyBuilder& add(std::string_view piece);
    // Every regular file under dir, by relative name and content.
    KeyBuilder& addTree(const std::filesystem::path& dir);
    [[nodiscard]] std::string hex() const;

private:
    XXH3_state_t* state_;
};

class ResultCache {
public:
    // Reads OUTDIR/cache.json when present; a damaged cache is ignored.
    void load(const std::filesystem::path& file);
    [[nodiscard]] const RunResult* find(const std::string& key) const;
    void store(const RunResult& run) { entries_[run.key] = run; }
    // Writes the entries stored or found since load (what this session used).
    void save(const std::filesystem::path& file) const;
    void markUsed(const std::string& key) { used_[key] = true; }

private:
    std::map<std::string, RunResult> entries_;
    std::map<std::string, bool> used_;
};

}  // namespace lousa::grading
