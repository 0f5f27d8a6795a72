// The lousa executable as users run it: exit statuses, messages, the files
// it writes (or leaves alone), and packed programs run by their path.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kInvalid = " => Erro de execu\xE7\xE3o na linha 0...\nInstru\xE7\xE3o inv\xE1lida";

class ToolCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lousa-cli-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& name, const std::string& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }

    // Runs a shell command line in the test directory with no input.
    Outcome shell(const std::string& commandLine) {
        const std::string command = "cd '" + dir_.string() + "' && (" + commandLine + ") </dev/null >'" +
                                    (dir_ / ".out").string() + "' 2>'" + (dir_ / ".err").string() + "'";
        const int raw = std::system(command.c_str());
        Outcome o;
        o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        o.out = readAll(dir_ / ".out");
        o.err = readAll(dir_ / ".err");
        fs::remove(dir_ / ".out");
        fs::remove(dir_ / ".err");
        return o;
    }
    Outcome lousa(const std::string& arguments) { return shell(std::string("'") + LOUSA_TOOL_PATH + "' " + arguments); }

    // The names in the test directory, to check that a failure left nothing.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

bool oneLine(const std::string& text) {
    return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

TEST_F(ToolCli, UsageErrorsAreOneLineAndStatusTwo) {
    for (const char* args : {"", "frobnicate x", "asm", "asm a.lst b.lst", "asm --bogus a.lst", "pack a.lst -o",
                             "trace a.lst --limit x", "trace a.lst --limit 0", "run a.lst --name x"}) {
        const Outcome o = lousa(args);
        EXPECT_EQ(o.status, 2) << args;
        EXPECT_TRUE(oneLine(o.err)) << args << ": " << o.err;
        EXPECT_EQ(o.out, "") << args;
    }
    EXPECT_NE(lousa("frobnicate x").err.find("unknown command 'frobnicate'"), std::string::npos);
}

TEST_F(ToolCli, HelpForTheToolAndEveryCommand) {
    const Outcome top = lousa("--help");
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"asm", "dis", "pack", "run", "trace", "extract"}) {
        EXPECT_NE(top.out.find(std::string("  ") + command + " "), std::string::npos) << command;
        const Outcome o = lousa(std::string(command) + " --help");
        EXPECT_EQ(o.status, 0) << command;
        EXPECT_EQ(o.out.rfind(std::string("usage: lousa ") + command, 0), 0U) << command;
    }
    const Outcome version = lousa("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("lousa ", 0), 0U);
    EXPECT_TRUE(oneLine(version.out));
}

TEST_F(ToolCli, AsmWritesBesideTheListingOrWhereTold) {
    write("prog.lst", "PUSH 'A'\nHALT\n");
    EXPECT_EQ(lousa("asm prog.lst").status, 0);
    EXPECT_EQ(readAll(dir_ / "prog.code"), "3 4 58 65 43 ");
    const Outcome toStdout = lousa("asm prog.lst -o -");
    EXPECT_EQ(toStdout.status, 0);
    EXPECT_EQ(toStdout.out, "3 4 58 65 43 ");
    EXPECT_EQ(lousa("asm prog.lst -o other.txt").status, 0);
    EXPECT_EQ(readAll(dir_ / "other.txt"), "3 4 58 65 43 ");
    EXPECT_EQ(lousa("asm prog.lst -oattached.txt").status, 0);  // the value attached, as getopt takes it
    EXPECT_EQ(readAll(dir_ / "attached.txt"), "3 4 58 65 43 ");
    // Never over the input itself.
    write("x.code", "HALT\n");
    EXPECT_EQ(lousa("asm x.code").status, 1);
    EXPECT_EQ(readAll(dir_ / "x.code"), "HALT\n");
}

TEST_F(ToolCli, SpecialFilesAreWrittenInPlaceNotReplaced) {
    write("prog.lst", "PUSH 'A'\nHALT\n");
    const Outcome o = shell("mkfifo fifo && (timeout 10 cat fifo > got & '" + std::string(LOUSA_TOOL_PATH) +
                            "' asm prog.lst -o fifo; status=$?; wait; exit $status)");
    EXPECT_EQ(o.status, 0) << o.err;
    struct stat info {};
    ASSERT_EQ(stat((dir_ / "fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(readAll(dir_ / "got"), "3 4 58 65 43 ");
}

TEST_F(ToolCli, FailuresNameTheReasonAndWriteNothing) {
    write("bad.lst", "HALT\nFOO 1\n");
    write("good.lst", "HALT\n");
    write("stub3", "image\x1A\x1A\x1Arest");
    write("stubend", "image\x1A");
    const std::vector<std::string> before = entries();

    Outcome o = lousa("asm bad.lst");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "bad.lst:2: unknown mnemonic FOO\n");
    o = lousa("pack bad.lst");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "bad.lst:2: unknown mnemonic FOO\n");
    o = lousa("pack good.lst --stub stub3");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(oneLine(o.err)) << o.err;
    EXPECT_NE(o.err.find("three consecutive 0x1A"), std::string::npos);
    o = lousa("pack good.lst --stub stubend");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("ends with 0x1A"), std::string::npos);
    o = lousa("pack good.lst --stub absent");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(oneLine(o.err)) << o.err;
    o = lousa("pack good.lst --name " + std::string(255, 'n'));
    EXPECT_EQ(o.status, 1);
    o = lousa("asm missing.lst");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "lousa: cannot open missing.lst: No such file or directory\n");
    o = lousa("extract good.lst");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("not a packed executable"), std::string::npos);
    o = lousa("asm good.lst -o no/such/dir/out.code");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(oneLine(o.err)) << o.err;
    // Nothing new: no output, no temporary file left behind.
    EXPECT_EQ(entries(), before);
}

TEST_F(ToolCli, PackedProgramsRunByTheirPath) {
    write("halt.lst", "HALT\n");
    write("bad.lst", ".word 4\n");
    ASSERT_EQ(lousa("pack halt.lst").status, 0);
    ASSERT_EQ(lousa("pack bad.lst -o sub.exe --name 'ação.pas'").status, 0);

    struct stat info {};
    ASSERT_EQ(stat((dir_ / "halt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755U);

    // The runner, the container's name field and the stream, in that order.
    const std::string runner = readAll(LOUSA_RUNNER_PATH);
    const std::string packed = readAll(dir_ / "halt");
    ASSERT_GT(packed.size(), runner.size());
    EXPECT_EQ(packed.substr(0, runner.size()), runner);
    EXPECT_EQ(packed.substr(runner.size(), 13), std::string("\x1A\x1A\x1A\x09halt.pas\0", 13));
    EXPECT_EQ(readAll(dir_ / "sub.exe").substr(runner.size() + 3, 1), "\x0B");  // "ação.pas" is 10 bytes in UTF-8

    fs::create_directories(dir_ / "elsewhere");
    Outcome o = shell("cd elsewhere && ../halt | cat");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    o = shell("cd elsewhere && \"$PWD/../sub.exe\"");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, kInvalid);
}

TEST_F(ToolCli, RunTakesEveryFormAndExtractGivesTheCodeText) {
    write("bad.lst", "LINE 0\n.word 4\n");
    ASSERT_EQ(lousa("asm bad.lst").status, 0);
    ASSERT_EQ(lousa("pack bad.lst").status, 0);
    for (const char* file : {"bad.lst", "bad.code", "bad"}) {
        const Outcome o = lousa(std::string("run ") + file);
        EXPECT_EQ(o.status, 0) << file;
        EXPECT_EQ(o.out, kInvalid) << file;
    }
    const Outcome extracted = lousa("extract bad");
    EXPECT_EQ(extracted.status, 0);
    EXPECT_EQ(extracted.out, readAll(dir_ / "bad.code"));

    // A code text is packed as it stands, whatever its spacing.
    write("odd.code", "2 99 62  4 ");
    ASSERT_EQ(lousa("pack odd.code -o odd").status, 0);
    EXPECT_EQ(lousa("extract odd").out, "2 99 62  4 ");
    ASSERT_EQ(lousa("extract odd -o odd.out").status, 0);
    EXPECT_EQ(readAll(dir_ / "odd.out"), "2 99 62  4 ");
    // The packed listing and the packed code disassemble alike.
    EXPECT_EQ(lousa("dis bad").out.substr(lousa("dis bad").out.find('\n')),
              lousa("dis bad.lst").out.substr(lousa("dis bad.lst").out.find('\n')));
}

TEST_F(ToolCli, TraceShowsEachInstructionBeforeItRuns) {
    write("t.lst", "ENTER_JUMP 0 10 go\ngo: LINE 7\nPUSH 5\nSCOPE_ENTER \"AB\"\n.word 4\n");
    Outcome o = lousa("trace t.lst");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, " => Erro de execu\xE7\xE3o na linha 7...\nInstru\xE7\xE3o inv\xE1lida");
    EXPECT_EQ(o.err,
              "     0  ENTER_JUMP 0 10 4  sp=0\n"
              "     4  LINE 7  sp=16\n"
              "     6  PUSH 5  sp=16\n"
              "     8  SCOPE_ENTER \"AB\"  sp=17\n"
              "    12  .word 4  sp=17\n");

    write("loop.lst", "a: JUMP a\n");
    o = lousa("trace loop.lst --limit 3");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "     0  JUMP 0  sp=0\n     0  JUMP 0  sp=0\n     0  JUMP 0  sp=0\ntrace: stopped after 3 instructions\n");
}

}  // namespace

namespace {

TEST_F(ToolCli, OutputSpelledAnotherWayNeverReplacesTheInput) {
    write("a.lst", "HALT\n");
    ASSERT_EQ(::symlink("a.lst", (dir_ / "link.lst").c_str()), 0);
    ASSERT_EQ(::link((dir_ / "a.lst").c_str(), (dir_ / "hard.lst").c_str()), 0);
    for (const std::string args : {"asm a.lst -o ./a.lst", "pack a.lst -o \"$PWD/a.lst\"", "asm a.lst -o link.lst",
                                   "pack a.lst -o hard.lst", "dis a.lst -o ../\"$(basename \"$PWD\")\"/a.lst"}) {
        const Outcome o = lousa(args);
        EXPECT_EQ(o.status, 1) << args;
        EXPECT_NE(o.err.find("would replace the input"), std::string::npos) << args << ": " << o.err;
        EXPECT_EQ(readAll(dir_ / "a.lst"), "HALT\n") << args;
    }
}

TEST_F(ToolCli, EndlessBinaryAndEmptyInputsFailInOneLine) {
    std::string binary(3000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 7919 + 13) % 251);
    write("binary.lst", binary);
    write("empty.lst", "; nothing but a comment\n");
    write("marker-only", std::string("image\x1A\x1A\x1A\x05x.pas", 14));
    write("cut-short", std::string("image\x1A\x1A\x1A\x00\x01", 10));
    const struct {
        std::string args;
        std::string reason;
    } cases[] = {
        {"dis /dev/zero", "larger than 64 MiB"},     {"asm /dev/zero", "larger than 64 MiB"},
        {"pack /dev/zero", "larger than 64 MiB"},    {"extract /dev/zero", "larger than 64 MiB"},
        {"run /dev/zero", "larger than 64 MiB"},     {"asm binary.lst", "binary file"},
        {"run binary.lst", "binary file"},           {"run empty.lst", "no program in empty.lst"},
        {"run marker-only", "no program in marker-only"}, {"run cut-short", "no program in cut-short"},
        {"trace empty.lst", "no program in empty.lst"},   {"pack empty.lst", "no program in empty.lst"},
    };
    for (const auto& c : cases) {
        const Outcome o = lousa(c.args);
        EXPECT_EQ(o.status, 1) << c.args;
        EXPECT_TRUE(oneLine(o.err)) << c.args << ": " << o.err;
        EXPECT_NE(o.err.find(c.reason), std::string::npos) << c.args << ": " << o.err;
        EXPECT_EQ(o.out, "") << c.args;  // no "Error.." from the loader
    }
    // The packed runner itself keeps its own behaviour for a stream cut short.
    const Outcome runner = shell("cat '" + std::string(LOUSA_RUNNER_PATH) + "' cut-short > r && chmod +x r && ./r");
    EXPECT_EQ(runner.status, 0);
    EXPECT_EQ(runner.out, "Error..");
}

TEST_F(ToolCli, ListingBytesInMessagesCannotDriveTheTerminal) {
    write("esc.lst", "PUSH \x1B[?25l\n\x1B[2JX 1\nPUSH \x9B" "31m\n");
    const Outcome o = lousa("asm esc.lst");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "esc.lst:1: bad number '\\x1B[?25l'\n"
              "esc.lst:2: unknown mnemonic \\x1B[2JX\n"
              "esc.lst:3: bad number '\\x9B31m'\n");
    // File names are quoted too.
    EXPECT_EQ(lousa("asm \"$(printf '\\033[2Jgone')\"").err, "lousa: cannot open \\x1B[2Jgone: No such file or directory\n");
}

}  // namespace

namespace {

// A classroom executable as the classroom compiler makes it: a Windows image
// (here a stand-in without the marker) with the payload of `packed` behind it.
std::string classroomExecutable(const std::string& packed) {
    const std::string runner = readAll(LOUSA_RUNNER_PATH);
    return std::string("MZ\x90\0windows image", 18) + packed.substr(runner.size());
}

TEST_F(ToolCli, ClassroomExecutablesRepackOntoTheRunnerInOneStep) {
    write("hello.lst", "LINE 3\nPUSH_STR \"Olá\"\nCON_WRITE 6\n.word 4\n");
    ASSERT_EQ(lousa("pack hello.lst -o packed --name HELLO.PAS").status, 0);
    const std::string packed = readAll(dir_ / "packed");
    write("Hello.EXE", classroomExecutable(packed));

    Outcome o = lousa("pack Hello.EXE");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out + o.err, "");
    EXPECT_EQ(readAll(dir_ / "Hello"), packed);  // the payload moved unchanged, name and all
    const std::string expected = "Ol\xA0 => Erro de execu\xE7\xE3o na linha 3...\nInstru\xE7\xE3o inv\xE1lida";
    EXPECT_EQ(shell("./Hello").out, expected);
    EXPECT_EQ(lousa("run Hello.EXE").out, expected);

    // A packed Lousa program repacks too, onto whichever runner is given; --name re-records the name.
    ASSERT_EQ(lousa("pack packed -o renamed --name OTHER.PAS").status, 0);
    EXPECT_NE(lousa("info renamed").out.find("source name:   OTHER.PAS\n"), std::string::npos);
    EXPECT_EQ(shell("./renamed").out, expected);
}

TEST_F(ToolCli, PackingManyReportsEachFileAndSkipsThoseWithoutAProgram) {
    write("hello.lst", "PUSH_STR \"oi\"\nCON_WRITE 6\nHALT\n");
    ASSERT_EQ(lousa("pack hello.lst -o packed").status, 0);
    fs::create_directories(dir_ / "turma");
    fs::create_directories(dir_ / "out");
    std::ofstream(dir_ / "turma" / "ana.exe", std::ios::binary) << classroomExecutable(readAll(dir_ / "packed"));
    std::ofstream(dir_ / "turma" / "BIA.EXE", std::ios::binary) << classroomExecutable(readAll(dir_ / "packed"));
    std::ofstream(dir_ / "turma" / "caio.exe", std::ios::binary) << std::string("MZ\x90\0no payload", 14);
    std::ofstream(dir_ / "turma" / "notas.txt") << "not a program\n";

    Outcome o = lousa("pack turma");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out,
              "turma/BIA.EXE -> turma/BIA (hello.pas, 9 code words)\n"
              "turma/ana.exe -> turma/ana (hello.pas, 9 code words)\n"
              "turma/caio.exe: skipped: turma/caio.exe carries no program (no payload marker)\n");
    EXPECT_EQ(o.err, "lousa: 1 of 3 files not packed\n");
    EXPECT_EQ(shell("turma/ana && turma/BIA").out, "oioi");
    EXPECT_FALSE(fs::exists(dir_ / "turma" / "caio"));

    o = lousa("pack turma/ana.exe turma/BIA.EXE -o out");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "turma/ana.exe -> out/ana (hello.pas, 9 code words)\n"
                     "turma/BIA.EXE -> out/BIA (hello.pas, 9 code words)\n");
    EXPECT_EQ(shell("out/ana").out, "oi");

    for (const char* usage : {"pack turma -o turma/ana.exe", "pack turma/ana.exe turma/BIA.EXE --name X.PAS"})
        EXPECT_EQ(lousa(usage).status, 2) << usage;
}

TEST_F(ToolCli, InfoTellsWhatAProgramUsesBeforeItRuns) {
    write("quiet.lst", "PUSH 1\nPOP\nHALT\n");
    write("busy.lst", "LINE 1\nREAD_KEY 0\nGOTOXY\nFILE_REWRITE 0\nDELAY\nHALT\n.word 4\n");
    ASSERT_EQ(lousa("pack busy.lst --name BUSY.PAS").status, 0);
    Outcome o = lousa("info busy");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.substr(0, o.out.find("compressed:")),
              "file:          busy (packed executable)\n"
              "source name:   BUSY.PAS\n"
              "code:          10 words, 34 bytes of code text\n");
    EXPECT_EQ(o.out.substr(o.out.find("instructions:")),
              "instructions:  6, and 1 words of data\n"
              "  control              2\n"
              "  text files           1\n"
              "  keyboard and screen  1\n"
              "  console control      2\n"
              "keyboard:      yes (READ_KEY)\n"
              "screen:        yes (GOTOXY)\n"
              "files:         yes (FILE_REWRITE)\n");
    o = lousa("info quiet.lst");
    EXPECT_NE(o.out.find("keyboard:      no\nscreen:        no\nfiles:         no\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("(as lousa pack would write it)"), std::string::npos);
}

}  // namespace

namespace {

// The man page's text with roff's escapes for hyphens and fonts removed.
std::string manPageText() {
    std::string page = readAll(std::string(LOUSA_SOURCE_DIR) + "/docs/man/lousa.1.in");
    std::string text;
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (page[i] == '\\' && i + 1 < page.size() && page[i + 1] == '-') {
            text += '-';
            ++i;
        } else if (page[i] == '\\' && i + 2 < page.size() && page[i + 1] == 'f') {
            i += 2;
        } else {
            text += page[i];
        }
    }
    return text;
}

TEST_F(ToolCli, ManPageDescribesEveryCommandAndOptionOfTheHelp) {
    const std::string man = manPageText();
    const std::string overview = lousa("--help").out;
    const std::size_t listStart = overview.find("commands:\n");
    ASSERT_NE(listStart, std::string::npos);
    std::istringstream lines(overview.substr(listStart + 10));
    std::string line;
    int commands = 0;
    while (std::getline(lines, line) && line.starts_with("  ")) {
        const std::string command = line.substr(2, line.find(' ', 2) - 2);
        ++commands;
        const std::size_t section = man.find(".SS \"lousa " + command);
        ASSERT_NE(section, std::string::npos) << command << " has no section in lousa(1)";
        // The command's sections run to the next command's or to the next .SH.
        std::size_t end = section;
        do end = man.find("\n.SS \"lousa ", end + 1);
        while (end != std::string::npos && man.compare(end + 12, command.size() + 1, command + " ") == 0);
        end = std::min(end, man.find("\n.SH ", section));
        const std::string text = man.substr(section, end - section);
        // Every option the command's help names is in its section of the page.
        const std::string help = lousa(command + " --help").out;
        for (std::size_t at = help.find(" -"); at != std::string::npos; at = help.find(" -", at + 1)) {
            const std::size_t end = help.find_first_of(" \n]=", at + 1);
            const std::string option = help.substr(at + 1, end - at - 1);
            if (option.size() < 2 || !std::isalpha(static_cast<unsigned char>(option.back()))) continue;
            EXPECT_NE(text.find(option), std::string::npos) << command << ": " << option << " not in lousa(1)";
        }
    }
    EXPECT_GE(commands, 7);
    for (const char* section : {".SH EXIT STATUS", ".SH ENVIRONMENT", ".SH LISTING FORMAT", "LOUSA_DRIVE_A", "LOUSA_MEMORY_LIMIT"})
        EXPECT_NE(man.find(section), std::string::npos) << section;
}

}  // namespace
