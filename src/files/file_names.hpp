#pragma once
// How the name a program gives a file becomes the thing that is opened. The
// programs were written on Windows, so names are read as Windows reads them:
//
// - a NUL byte ends the name; a backslash separates directories like "/";
//   trailing spaces and dots of a component are dropped;
// - a bare name, or one whose directory part starts with ".", lies beside the
//   runner; another relative name is relative to the current directory; a
//   name starting with a separator is absolute;
// - a drive ("C:\x", "c:/x", "D:x") is a directory of its own:
//   $LOUSA_DRIVE_C (for C) when set, else ${XDG_DATA_HOME:-~/.local/share}/
//   lousa/drives/c, created when a program first opens a name on it;
// - DOS device names, in any case, with or without an extension or a
//   directory: CON is the console, NUL discards and reads as empty; PRN, AUX,
//   COM1-COM9 and LPT1-LPT9 are ports this machine does not have: the open
//   is refused with I/O result 2, as Windows refuses a missing port, and no
//   file of that name is created;
// - a path that is a terminal (/dev/tty, /dev/pts/N, /dev/stdout on a
//   terminal) is the console too, so a program never writes to a terminal
//   behind the console's back;
// - the exact name is used when it exists; otherwise each component is looked
//   up without regard to ASCII letter case, and of several matches the first
//   in byte order is taken; a component found nowhere keeps its spelling (so
//   a rewrite creates it as written, and a rewrite of a name that exists in
//   another case rewrites that file);
// - a missing directory on the way, or a file where a directory should be,
//   refuses the open with I/O result 3 (path not found);
// - nothing on a proc file system is opened: every open of a program may
//   write, and a program must not write the runner's own memory or state;
// - confined to a box (the sandbox's setting), every name lies in the box:
//   relative names, whatever their form, start at the box, drives are
//   BOX/.drives/c etc., and an absolute name, a ".." or a symbolic link that
//   leads out of the box refuses the open with I/O result 5.
//
// One FileNames belongs to one machine (one run). The file instructions ask
// it for the opening of a name, and for the path under which a name already
// opened is registered in the open-file table.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "files/io_result.hpp"

namespace lousa {

// A device a name can stand for instead of a file.
enum class Dispositivo : unsigned char {
    None,     // a file
    Console,  // CON, or a path that is a terminal: the run's console
    Discard,  // NUL: writes vanish, reads find the end at once
};

struct ResolvedName {
    // The path to open, also the key of the open-file table (for a device
    // name, a key no path can equal: it starts with a NUL byte).
    std::string path;
    // When not 0, the open is refused with this I/O error number (an errno
    // value or kPathNotFound) and nothing is touched.
    int refusal = 0;
    Dispositivo device = Dispositivo::None;
};

class FileNames {
public:
    struct Settings {
        std::string runnerDirectory;  // ends with a separator, or empty for the current directory
        std::string dataHome;         // the drives default to dataHome/lousa/drives/<letter>
        std::map<char, std::string> drives;  // lower-case letter -> directory given by the environment
    };
    // Settings from the environment: LOUSA_DRIVE_A..Z, XDG_DATA_HOME, HOME.
    static Settings fromEnvironment(std::string runnerDirectory);

    explicit FileNames(Settings settings);

    // Confines every later name to the directory `box` (which must exist).
    // False, and nothing changed, when it is not a directory.
    bool confineTo(const std::string& box);
    [[nodiscard]] bool confined() const { return !box_.empty(); }
    // The box as its canonical absolute path ending with "/", or empty.
    [[nodiscard]] const std::string& box() const { return box_; }

    // Resolves a name for opening: drive directories are created here, and
    // the result is remembered for `registeredPath`.
    ResolvedName forOpening(std::string_view name);
    // The path under which a name the program opened is registered; for a
    // name not opened, its resolution without creating anything.
    std::string registeredPath(std::string_view name);
    // Drops what was remembered of a name (its file was closed).
    void forget(std::string_view name);

private:
    ResolvedName resolve(std::string_view name, bool createDrives) const;
    std::string driveDirectory(char letter) const;

    Settings settings_;
    std::string box_;
    std::map<std::string, std::string, std::less<>> opened_;  // program name -> registered path
};

}  // namespace lousa
