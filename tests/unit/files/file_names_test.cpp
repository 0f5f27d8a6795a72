#include "files/file_names.hpp"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

#include "unit/files/temp_dir.hpp"

namespace lousa {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeBytes;

struct Case {
    std::string name;
    std::string path;  // expected path below the scratch directory ("" when refused or a device name)
    int refusal = 0;
    Dispositivo device = Dispositivo::None;
};

// A scratch tree: runner/ with files in several letter cases, a drive C,
// a box with links that lead out of it, and a directory outside the box.
class FileNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* dir : {"runner/dados", "runner/Sub/Inner", "c/temp", "box/sub", "outside"})
            fs::create_directories(tmp.file(dir));
        for (const char* file : {"runner/dados/alunos.txt", "runner/dup.txt", "runner/DUP.TXT", "runner/Dup.tXt",
                                 "runner/notas.TXT", "runner/arquivo.txt", "box/dentro.txt", "outside/secret.txt"})
            writeBytes(tmp.file(file), "x");
        fs::create_directory_symlink(tmp.file("outside"), tmp.file("box/fora"));
        fs::create_symlink(tmp.file("outside/new.txt"), tmp.file("box/pendente"));
        fs::create_symlink("sub", tmp.file("box/atalho"));
    }

    FileNames makeNames() const {
        FileNames::Settings s;
        s.runnerDirectory = tmp.file("runner") + "/";
        s.dataHome = tmp.file("data");
        s.drives['c'] = tmp.file("c");
        return FileNames(s);
    }

    void check(FileNames& names, const std::vector<Case>& cases) const {
        for (const Case& c : cases) {
            const ResolvedName r = names.forOpening(c.name);
            EXPECT_EQ(r.refusal, c.refusal) << "name \"" << c.name << "\"";
            EXPECT_EQ(r.device, c.device) << "name \"" << c.name << "\"";
            if (c.refusal == 0 && !c.path.empty()) {
                EXPECT_EQ(fs::path(r.path).lexically_normal(), fs::path(tmp.file(c.path))) << "name \"" << c.name << "\"";
            }
        }
    }

    TempDir tmp;
};

TEST_F(FileNamesTest, WindowsSpellingsResolveBesideTheRunnerOnDrivesAndInAnyLetterCase) {
    FileNames names = makeNames();
    const std::string embeddedNul("saida.txt\0lixo", 14);
    check(names, {
                     {"novo.txt", "runner/novo.txt"},
                     {".\\novo.txt", "runner/novo.txt"},
                     {"./dados\\alunos.txt", "runner/dados/alunos.txt"},
                     {".\\DADOS\\Alunos.TXT", "runner/dados/alunos.txt"},      // each component without case
                     {"Notas.txt", "runner/notas.TXT"},                        // one match in another case
                     {"dup.txt", "runner/dup.txt"},                            // the exact name first
                     {"dUP.txt", "runner/DUP.TXT"},                            // else the first in byte order
                     {".\\sub\\inner\\Novo.txt", "runner/Sub/Inner/Novo.txt"},  // a new file keeps its spelling
                     {embeddedNul, "runner/saida.txt"},                        // a NUL ends the name
                     {"saida.txt . ", "runner/saida.txt"},                     // trailing spaces and dots dropped
                     {"C:\\temp\\x.txt", "c/temp/x.txt"},
                     {"c:/TEMP/x.txt", "c/temp/x.txt"},
                     {"c:x.txt", "c/x.txt"},
                     {"D:\\x.txt", "data/lousa/drives/d/x.txt"},
                     {"C:\\nada\\x.txt", "", kPathNotFound},         // a missing directory
                     {".\\arquivo.txt\\x.txt", "", kPathNotFound},  // a file where a directory should be
                     {tmp.file("outside/secret.txt"), "outside/secret.txt"},
                 });
    EXPECT_TRUE(fs::is_directory(tmp.file("data/lousa/drives/d"))) << "a drive is created on first use";
    // A relative name with a directory that does not start with "." stays
    // relative to the current directory.
    const ResolvedName relative = names.forOpening("pasta-inexistente\\x.txt");
    EXPECT_EQ(relative.path, "pasta-inexistente/x.txt");
    EXPECT_EQ(relative.refusal, kPathNotFound);
}

TEST_F(FileNamesTest, DeviceNamesInAnySpellingAndTerminalPathsAreDevices) {
    FileNames names = makeNames();
    constexpr auto console = Dispositivo::Console;
    constexpr auto discard = Dispositivo::Discard;
    const std::vector<Case> devices = {
        {"CON", "", 0, console},
        {"con.txt", "", 0, console},
        {"C:\\temp\\Con.TXT", "", 0, console},
        {"con ", "", 0, console},
        {"NUL", "", 0, discard},
        {".\\pasta\\nul.dat", "", 0, discard},
        {"nul:", "", 0, discard},
        {"PRN", "", ENOENT},
        {"aux.txt", "", ENOENT},
        {"com1", "", ENOENT},
        {"LPT9.prn", "", ENOENT},
    };
    const std::vector<Case> files = {
        {"COM0", "runner/COM0"},  // not a device name
        {"console.txt", "runner/console.txt"},
        {"xcon", "runner/xcon"},
        {"con.txt\\x", "runner/con.txt/x", kPathNotFound},  // a directory named like a device is a directory
    };
    check(names, devices);
    check(names, files);
    ASSERT_TRUE(names.confineTo(tmp.file("box")));
    check(names, devices);  // inside a box too
}

TEST_F(FileNamesTest, ATerminalPathIsTheConsole) {
    FileNames names = makeNames();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    EXPECT_EQ(names.forOpening(terminal).device, Dispositivo::Console);
    EXPECT_EQ(names.forOpening("/dev/null").device, Dispositivo::None) << "a character device, not a terminal";
    close(master);
}

TEST_F(FileNamesTest, NothingOnTheProcFileSystemOpens) {
    FileNames names = makeNames();
    const std::string pid = std::to_string(getpid());
    for (const std::string& name : std::vector<std::string>{"/proc/self/mem", "\\proc\\self\\mem", "/proc/thread-self/mem", "/proc/" + pid + "/mem",
          "/proc/" + pid + "/task/" + pid + "/mem", "/proc/self/../self/./mem", "/PROC/SELF/MEM", "/proc/self/environ"})
        EXPECT_EQ(names.forOpening(name).refusal, EACCES) << name;
    fs::create_directory_symlink("/proc/self", tmp.file("runner/eu"));
    EXPECT_EQ(names.forOpening(".\\eu\\mem").refusal, EACCES) << "through a symbolic link";
}

TEST_F(FileNamesTest, ABoxHoldsEveryName) {
    FileNames names = makeNames();
    ASSERT_TRUE(names.confineTo(tmp.file("box")));
    check(names, {
                     {"novo.txt", "box/novo.txt"},
                     {"sub\\novo.txt", "box/sub/novo.txt"},  // relative to the box, not to the current directory
                     {"DENTRO.TXT", "box/dentro.txt"},
                     {"sub\\..\\dentro.txt", "box/dentro.txt"},
                     {"..\\box\\dentro.txt", "", EACCES},  // out and back in: it did lead out
                     {"..\\outside\\secret.txt\\x", "", EACCES},  // not 3: nothing is told about the outside
                     {"atalho\\x.txt", "box/atalho/x.txt"},  // a link that stays inside
                     {"C:\\x.txt", "box/.drives/c/x.txt"},
                     {"nada\\x.txt", "", kPathNotFound},
                     {"/etc/passwd", "", EACCES},
                     {"\\tmp\\x.txt", "", EACCES},
                     {tmp.file("box/dentro.txt"), "", EACCES},  // absolute, even when it names the box
                     {"..\\x.txt", "", EACCES},
                     {"sub\\..\\..\\outside\\secret.txt", "", EACCES},
                     {"..\\nada\\x.txt", "", EACCES},  // not 3: nothing is told about the outside
                     {"fora\\secret.txt", "", EACCES},
                     {"fora\\novo.txt", "", EACCES},
                     {"pendente", "", EACCES},  // a dangling link would create a file outside
                     {"/proc/self/mem", "", EACCES},
                 });
    EXPECT_TRUE(fs::is_directory(tmp.file("box/.drives/c")));
    // A drive folder that leads out of the box is neither made nor used.
    fs::create_directory_symlink(tmp.file("outside"), tmp.file("box/.drives/d"));
    EXPECT_EQ(names.forOpening("D:\\x.txt").refusal, EACCES);
    fs::remove_all(tmp.file("box/.drives"));
    fs::create_directory_symlink(tmp.file("outside"), tmp.file("box/.drives"));
    EXPECT_EQ(names.forOpening("E:\\x.txt").refusal, EACCES);
    EXPECT_FALSE(fs::exists(tmp.file("outside/e"))) << "nothing is created outside";
    EXPECT_FALSE(names.confineTo(tmp.file("box/dentro.txt"))) << "a box is a directory";
    EXPECT_EQ(names.box(), fs::canonical(tmp.file("box")).string() + "/");
}

TEST_F(FileNamesTest, AnOpenedNameKeepsItsPathUntilClosed) {
    FileNames names = makeNames();
    // Opened before it exists: created in the spelling given, and found
    // under that path by every later instruction even once it exists.
    const ResolvedName created = names.forOpening("Novo.TXT");
    writeBytes(created.path, "x");
    EXPECT_EQ(names.registeredPath("Novo.TXT"), created.path);
    // A name opened in another case reaches the same file.
    EXPECT_EQ(names.registeredPath("novo.txt"), created.path);
    EXPECT_EQ(names.forOpening("NOVO.txt").path, created.path);
    // Once the file is gone the name is resolved afresh.
    fs::remove(created.path);
    names.forget("NOVO.txt");
    EXPECT_EQ(names.registeredPath("NOVO.txt"), tmp.file("runner/NOVO.txt"));
}

}  // namespace
}  // namespace lousa
