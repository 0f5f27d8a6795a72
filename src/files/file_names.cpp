#include "files/file_names.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace lousa {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char lowerLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `text` is `name` (capitals) in any letter case. Compared a letter
// at a time and left at the first difference: a loop that upper-cases a
// whole string is vectorised by some compilers with a constant of sixteen
// 26s (0x1A), and three of those in the runner's image would read as the
// payload marker.
bool named(std::string_view text, std::string_view name) {
    if (text.size() != name.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (lowerLetter(text[i]) != lowerLetter(name[i])) return false;
    return true;
}

std::string withSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir.push_back('/');
    return dir;
}

// The components of a relative name: separators of both kinds, empty and "."
// components dropped, trailing spaces and dots cut as Windows cuts them.
std::vector<std::string> componentsOf(std::string_view name) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= name.size()) {
        std::size_t end = at;
        while (end < name.size() && !isSeparator(name[end])) ++end;
        std::string part(name.substr(at, end - at));
        if (part != "..") {
            while (!part.empty() && (part.back() == ' ' || part.back() == '.')) part.pop_back();
        }
        if (!part.empty()) parts.push_back(std::move(part));
        at = end + 1;
    }
    return parts;
}

// Creates a directory and its missing parents; true when it exists afterwards.
bool makeDirectories(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const auto cut = dir.find_last_of('/', dir.size() > 1 ? dir.size() - 2 : 0);
    if (cut != std::string::npos && cut > 0 && !makeDirectories(dir.substr(0, cut))) return false;
    return mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST;
}

// The entry of `dir` that equals `part` without regard to ASCII letter case;
// of several, the first in byte order. Empty when there is none.
std::string caseInsensitiveMatch(const std::string& dir, const std::string& part) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return {};
    std::string best;
    while (const dirent* entry = readdir(d)) {
        const std::string candidate = entry->d_name;
        if (strcasecmp(candidate.c_str(), part.c_str()) == 0 && (best.empty() || candidate < best)) best = candidate;
    }
    closedir(d);
    return best;
}

std::string canonical(const std::string& path) {
    char buffer[PATH_MAX];
    if (realpath(path.empty() ? "." : path.c_str(), buffer) == nullptr) return {};
    return buffer;
}

bool within(const std::string& path, const std::string& box) {
    return (path + "/").compare(0, box.size(), box) == 0;
}

// The device a DOS device name stands for: the last component, without its
// extension, trailing spaces or a colon, in any letter case.
std::optional<ResolvedName> deviceNamed(std::string_view name) {
    const auto cut = name.find_last_of("/\\");
    std::string_view stem = cut == std::string_view::npos ? name : name.substr(cut + 1);
    stem = stem.substr(0, stem.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == ':')) stem.remove_suffix(1);
    std::string key(1, '\0');
    key.append(name);
    if (named(stem, "CON")) return ResolvedName{key, 0, Dispositivo::Console};
    if (named(stem, "NUL")) return ResolvedName{key, 0, Dispositivo::Discard};
    const bool port = named(stem, "PRN") || named(stem, "AUX") ||
                      (stem.size() == 4 && (named(stem.substr(0, 3), "COM") || named(stem.substr(0, 3), "LPT")) &&
                       stem[3] >= '1' && stem[3] <= '9');
    if (port) return ResolvedName{key, ENOENT, Dispositivo::None};
    return std::nullopt;
}

// A terminal: a character device that says so when opened (without
// becoming the process's controlling terminal or waiting for a line).
bool isTerminal(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool terminal = isatty(fd) == 1;
    ::close(fd);
    return terminal;
}

// True when nothing is at path yet, or what is there leads into the box.
bool absentOrWithin(const std::string& path, const std::string& box) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return within(canonical(path), box);
}

bool onProcFileSystem(const std::string& path) {
    struct statfs fs {};
    return statfs(path.empty() ? "." : path.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

}  // namespace

FileNames::Settings FileNames::fromEnvironment(std::string runnerDirectory) {
    Settings s;
    s.runnerDirectory = std::move(runnerDirectory);
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        s.dataHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        s.dataHome = std::string(home) + "/.local/share";
    }
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string variable = std::string("LOUSA_DRIVE_") + letter;
        if (const char* dir = std::getenv(variable.c_str()); dir != nullptr && dir[0] != '\0')
            s.drives[lowerLetter(letter)] = dir;
    }
    return s;
}

FileNames::FileNames(Settings settings) : settings_(std::move(settings)) {}

bool FileNames::confineTo(const std::string& box) {
    struct stat st {};
    const std::string dir = canonical(box);
    if (dir.empty() || stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    box_ = withSeparator(dir);
    opened_.clear();
    return true;
}

std::string FileNames::driveDirectory(char letter) const {
    letter = lowerLetter(letter);
    if (confined()) return box_ + ".drives/" + letter + "/";
    if (const auto given = settings_.drives.find(letter); given != settings_.drives.end())
        return withSeparator(given->second);
    // Without a data directory the drives live beside the runner.
    const std::string home = settings_.dataHome.empty() ? settings_.runnerDirectory + ".lousa" : settings_.dataHome;
    return withSeparator(home) + "lousa/drives/" + letter + "/";
}

ResolvedName FileNames::resolve(std::string_view name, bool createDrives) const {
    if (const auto nul = name.find('\0'); nul != std::string_view::npos) name = name.substr(0, nul);
    if (std::optional<ResolvedName> device = deviceNamed(name)) return *device;

    // Where the name starts: a drive, the root, the box, the runner or the
    // current directory.
    std::string base;
    if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') {
        base = driveDirectory(name[0]);
        // A box's drive folder is made only where it stays in the box.
        if (createDrives && (!confined() || absentOrWithin(box_ + ".drives", box_))) makeDirectories(base);
        name.remove_prefix(2);
    } else if (!name.empty() && isSeparator(name[0])) {
        if (confined()) return {std::string(name), EACCES};
        base = "/";
    } else if (confined()) {
        base = box_;
    } else {
        const auto cut = name.find_last_of("/\\");
        if (cut == std::string_view::npos || name[0] == '.') base = settings_.runnerDirectory;
    }

    const std::vector<std::string> parts = componentsOf(name);
    std::string path = base;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) path.push_back('/');
        path.append(parts[i]);
    }
    const std::string spelled = path;  // what refusals report
    std::string existing = path;       // the longest prefix known to exist
    bool missing = false;
    struct stat st {};
    // Outside a box the exact name is tried whole first. Inside one every
    // component is checked as it is reached, so nothing beyond a step out of
    // the box is ever looked at, and the answer tells nothing about it.
    bool exact = false;
    if (!confined() && !parts.empty()) {
        if (lstat(path.c_str(), &st) == 0)
            exact = true;
        else if (errno != ENOENT)
            return {spelled, errno == ENOTDIR ? kPathNotFound : errno};
    }
    if (!exact && !parts.empty()) {
        // Component by component: the exact spelling when it exists, else an
        // entry that differs only in letter case.
        path = existing = base;
        if (confined() && !within(canonical(base), box_)) return {spelled, EACCES};
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const bool last = i + 1 == parts.size();
            std::string part = parts[i];
            if (!missing) {
                if (lstat((path + part).c_str(), &st) != 0) {
                    if (errno == ENOTDIR) return {spelled, kPathNotFound};
                    if (errno != ENOENT) return {spelled, errno};
                    if (std::string match = caseInsensitiveMatch(path, part); !match.empty())
                        part = std::move(match);
                    else
                        missing = true;
                }
                if (!missing) {
                    existing = path + part;
                    // Symbolic links and ".." followed: still in the box?
                    if (confined() && !within(canonical(existing), box_)) return {spelled, EACCES};
                }
            }
            if (missing && !last) return {spelled, kPathNotFound};  // a directory on the way is missing
            path += part;
            if (!last) path.push_back('/');
        }
    }
    if (path.empty()) path.push_back('.');

    if (onProcFileSystem(missing ? existing : path)) return {path, EACCES};
    if (!missing && isTerminal(path)) return {path, 0, Dispositivo::Console};
    return {path, 0};
}

ResolvedName FileNames::forOpening(std::string_view name) {
    ResolvedName resolved = resolve(name, true);
    if (resolved.refusal == 0) opened_.insert_or_assign(std::string(name), resolved.path);
    return resolved;
}

std::string FileNames::registeredPath(std::string_view name) {
    if (const auto found = opened_.find(name); found != opened_.end()) return found->second;
    return resolve(name, false).path;
}

void FileNames::forget(std::string_view name) {
    if (const auto found = opened_.find(name); found != opened_.end()) opened_.erase(found);
}

}  // namespace lousa
