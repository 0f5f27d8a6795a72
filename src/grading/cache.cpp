#include "grading/cache.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

namespace lousa::grading {

namespace fs = std::filesystem;

KeyBuilder::KeyBuilder() : state_(XXH3_createState()) {
    if (!state_) throw std::bad_alloc();
    XXH3_128bits_reset(state_);
}

KeyBuilder::~KeyBuilder() { XXH3_freeState(state_); }

KeyBuilder& KeyBuilder::add(std::string_view piece) {
    const std::uint64_t size = piece.size();
    XXH3_128bits_update(state_, &size, sizeof size);
    XXH3_128bits_update(state_, piece.data(), piece.size());
    return *this;
}

KeyBuilder& KeyBuilder::addTree(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    add(std::to_string(files.size()));
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        add(fs::relative(f, dir).string());
        add(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    return *this;
}

std::string KeyBuilder::hex() const {
    const XXH128_hash_t h = XXH3_128bits_digest(state_);
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(h.high64),
                  static_cast<unsigned long long>(h.low64));
    return text;
}

void ResultCache::load(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return;
    const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("runs")) return;
    try {
        for (const nlohmann::json& run : j.at("runs")) {
            RunResult r = runFromJson(run);
            if (!r.key.empty()) entries_[r.key] = std::move(r);
        }
    } catch (const std::exception&) {
        entries_.clear();  // a damaged cache only costs the runs
    }
}

const RunResult* ResultCache::find(const std::string& key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

void ResultCache::save(const fs::path& file) const {
    nlohmann::json runs = nlohmann::json::array();
    for (const auto& [key, run] : entries_) {
        if (!used_.contains(key)) continue;
        nlohmann::json j = runToJson(run);
        j.erase("cluster");
        j.erase("cluster_size");
        runs.push_back(std::move(j));
    }
    const fs::path temporary = file.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << nlohmann::json{{"runs", std::move(runs)}}.dump();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, file);
}

}  // namespace lousa::grading
