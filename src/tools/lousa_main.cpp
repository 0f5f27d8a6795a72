// The lousa tool: assemble, disassemble, pack, run, trace and extract
// programs of the machine. Each command is one row of the table below: its
// name, its help text, the options it takes and the function that runs it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/tier.hpp"
#include "loader/arquivo_compilado.hpp"
#include "loader/run_sequence.hpp"
#include "loader/standard_descriptors.hpp"
#include "sandbox/sandbox.hpp"
#include "tools/assembler.hpp"
#include "tools/command_line.hpp"
#include "tools/disassembler.hpp"
#include "tools/grade_command.hpp"
#include "tools/packer.hpp"
#include "tools/program_info.hpp"
#include "tools/program_files.hpp"
#include "tools/tracer.hpp"
#include "vm/interpretador.hpp"

#ifndef LOUSA_VERSION
#define LOUSA_VERSION "unknown"
#endif

namespace {

using namespace lousa;
using namespace lousa::tool;

void refuseOverwritingInput(const std::string& output, const std::string& input) {
    if (output == input || (output != "-" && sameFile(output, input)))
        throw ToolError("the output " + output + " would replace the input " + input + "; name another with -o");
}

// A file that decodes to no code words at all: an empty listing, or a
// payload that holds nothing. The packed runner itself keeps its own ways
// with such a payload; the tool says what is wrong.
void requireProgram(const ProgramInput& program, const std::string& path) {
    if (program.code.empty()) throw ToolError("no program in " + path);
}

int commandAsm(const Arguments& args) {
    const std::string content = readFile(args.file);
    refuseBinaryListing(content, args.file);
    const std::vector<Word> code = assembleOrThrow(content, args.file);
    const std::string output = args.option("-o").value_or(withoutExtension(args.file) + ".code");
    refuseOverwritingInput(output, args.file);
    writeFileAtomically(output, formatCodeText(code), defaultFileMode());
    return 0;
}

int commandDis(const Arguments& args) {
    const ProgramInput program = loadProgram(args.file);
    if (program.streamCutShort)
        std::fprintf(stderr, "lousa: warning: the compressed stream of %s ends inside a token; the code is cut short\n",
                     printable(args.file).c_str());
    const std::string listing = disassemble(program.code, baseName(args.file));
    const std::string output = args.option("-o").value_or("-");
    refuseOverwritingInput(output, args.file);
    writeFileAtomically(output, listing, defaultFileMode());
    return 0;
}

// Packs one file: a listing or code text onto the runner, or the payload of
// a file that carries one (a classroom executable, a packed program) moved
// onto the runner as it stands. Returns what was written, for the report.
std::string packOne(const std::string& input, const std::string& output, const Arguments& args,
                    const std::string& stub) {
    const ProgramInput program = loadProgram(input);
    requireProgram(program, input);
    refuseOverwritingInput(output, input);
    std::string image;
    std::string name;
    if (program.kind == InputKind::Packed && !args.option("--name")) {
        image = repackExecutable(stub, readFile(input), input);
        name = program.sourceName;
    } else {
        if (program.streamCutShort)
            throw ToolError("the compressed stream of " + input + " ends inside a token; repack it without --name");
        name = args.option("--name").value_or(program.kind == InputKind::Packed
                                                  ? program.sourceName
                                                  : baseName(withoutExtension(input)) + ".pas");
        image = packExecutable(stub, name, program.codeText);
    }
    writeFileAtomically(output, image, 0755);
    return output + " (" + name + ", " + std::to_string(program.code.size()) + " code words)";
}

int commandPack(const Arguments& args) {
    const std::string stubPath = args.option("--stub") ? *args.option("--stub") : defaultStubPath();
    const std::string stub = readFile(stubPath);
    checkStub(stub, stubPath);
    const std::vector<std::string> inputs = packInputs(args.files);
    const bool batch = inputs.size() > 1 || args.files.size() > 1 || isDirectory(args.file);
    if (!batch) {
        packOne(args.file, args.option("-o").value_or(withoutExtension(args.file)), args, stub);
        return 0;
    }
    if (args.option("--name")) throw UsageError("--name names one program; give one FILE with it");
    const std::optional<std::string> outputDirectory = args.option("-o");
    if (outputDirectory && !isDirectory(*outputDirectory))
        throw UsageError("with several files, -o names a directory, and " + *outputDirectory + " is not one");
    if (inputs.empty()) throw ToolError("no .exe files in " + args.file);
    int failed = 0;
    for (const std::string& input : inputs) {
        const std::string output =
            outputDirectory ? *outputDirectory + "/" + baseName(withoutExtension(input)) : withoutExtension(input);
        try {
            std::printf("%s -> %s\n", printable(input).c_str(), printable(packOne(input, output, args, stub)).c_str());
        } catch (const AssemblyFailed& e) {
            std::printf("%s: skipped: no payload marker, and not a listing (%s)\n", printable(input).c_str(),
                        printable(e.lines.front()).c_str());
            ++failed;
        } catch (const std::exception& e) {
            std::printf("%s: skipped: %s\n", printable(input).c_str(), printable(e.what()).c_str());
            ++failed;
        }
        std::fflush(stdout);
    }
    if (failed) std::fprintf(stderr, "lousa: %d of %zu files not packed\n", failed, inputs.size());
    return failed ? 1 : 0;
}

void announceCutShortStream(const ProgramInput& program) {
    if (!program.streamCutShort) return;
    std::fputs("Error..", stdout);  // what the runner prints for such a stream
    std::fflush(stdout);
}

// run --sandbox DIR: every name the program gives lies in DIR (its file
// names are confined there), and once the program is read and the console
// set up, the process confines itself to DIR for the rest of its life.
int runSandboxed(ProgramInput& program, const Arguments& args) {
    sandbox::Settings settings;
    settings.box = *args.option("--sandbox");
    settings.allowWeak = args.flag("--allow-weak-sandbox");
    if (!isDirectory(settings.box))
        throw ToolError("the sandbox " + settings.box + " is not a directory");
    if (const std::string missing = sandbox::missingLayers(sandbox::probe()); !missing.empty()) {
        if (!settings.allowWeak)
            throw ToolError("this kernel offers no " + missing + ", so the program could reach files outside " +
                            settings.box + "; --allow-weak-sandbox runs it without them");
        std::fprintf(stderr, "lousa: warning: sandbox without %s\n", missing.c_str());
    }
    announceCutShortStream(program);
    std::string directory = settings.box;
    if (directory.back() != '/') directory += '/';
    return runnerMainWithCode(std::move(program.code), directory, [&settings](Interpretador& machine) {
        if (!machine.fileNames.confineTo(settings.box))
            throw ToolError("the sandbox " + settings.box + " is not a directory");
        sandbox::apply(settings);
    });
}

int commandRun(const Arguments& args) {
    if (args.flag("--allow-weak-sandbox") && !args.option("--sandbox"))
        throw UsageError("--allow-weak-sandbox goes with --sandbox DIR");
    if (const auto engine = args.option("--engine")) {
        if (!tierByName(*engine)) throw UsageError("--engine takes reference or fast, not '" + *engine + "'");
        ::setenv("LOUSA_ENGINE", engine->c_str(), 1);  // the run reads its tier where the runner does
    }
    ProgramInput program = loadProgram(args.file);
    requireProgram(program, args.file);
    std::fflush(stdout);
    if (args.option("--sandbox")) return runSandboxed(program, args);
    // The code already loaded is what runs: a packed program is not decoded
    // a second time, and its text is let go before the machine is built.
    announceCutShortStream(program);
    std::string().swap(program.codeText);  // assigning an empty string would keep the buffer
    return runnerMainWithCode(std::move(program.code), directoryOf(args.file));
}

int commandTrace(const Arguments& args) {
    const std::uint64_t limit = args.option("--limit") ? parsePositiveCount("--limit", *args.option("--limit")) : 0;
    const ProgramInput program = loadProgram(args.file);
    requireProgram(program, args.file);
    announceCutShortStream(program);
    traceProgram(program.code, directoryOf(args.file), limit, stderr);
    return 0;
}

int commandExtract(const Arguments& args) {
    const ProgramInput program = loadProgram(args.file);
    if (program.kind != InputKind::Packed) throw ToolError(args.file + " is not a packed executable (no payload marker)");
    if (program.streamCutShort)
        throw ToolError("the compressed stream of " + args.file + " ends inside a token; the code text is incomplete");
    const std::string output = args.option("-o").value_or("-");
    refuseOverwritingInput(output, args.file);
    writeFileAtomically(output, program.codeText, defaultFileMode());
    return 0;
}

int commandInfo(const Arguments& args) {
    const ProgramInput program = loadProgram(args.file);
    const std::string text = formatSummary(summarize(program), args.file);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {.name = "asm",
         .summary = "assemble a listing into code text",
         .help = "usage: lousa asm LISTING [-o OUT]\n"
                 "\n"
                 "Assembles LISTING into code text (the count, the count plus one, then the\n"
                 "code words, each followed by one space).\n"
                 "\n"
                 "  -o OUT   write to OUT; '-' writes to standard output.\n"
                 "           Default: LISTING without its extension, plus .code\n"
                 "           (prog.lst -> prog.code, beside the listing).\n"
                 "\n"
                 "Errors are reported as FILE:LINE: reason, and nothing is written.\n"
                 "\n"
                 "Listing format: one instruction per line, MNEMONIC and decimal operands;\n"
                 "';' starts a comment; 'name:' defines a label, usable as a jump target\n"
                 "(absolute) or a CALL displacement (relative); a leading '123:' asserts the\n"
                 "address; 'c' is a character; PUSH_STR \"text\", PUSH_REAL 3.25,\n"
                 "SCOPE_ENTER \"NAME\" and .word n ... are conveniences. Strings are UTF-8 and\n"
                 "become code page 850 bytes; escapes \\n \\r \\t \\\\ \\\" \\' \\xHH.\n",
         .valueOptions = {"-o"},
         .run = commandAsm},
        {.name = "dis",
         .summary = "disassemble code text or a packed executable into a listing",
         .help = "usage: lousa dis FILE [-o OUT]\n"
                 "\n"
                 "Writes a listing of FILE (code text, packed executable or listing) with the\n"
                 "address of every line; 'lousa asm' turns it back into the same code words.\n"
                 "Words that form no whole instruction are written as .word.\n"
                 "\n"
                 "  -o OUT   write to OUT instead of standard output.\n",
         .valueOptions = {"-o"},
         .run = commandDis},
        {.name = "pack",
         .summary = "pack a listing or code text into an executable",
         .help = "usage: lousa pack FILE [-o EXE] [--name NAME] [--stub RUNNER]\n"
                 "       lousa pack FILE|DIR... [-o DIR] [--stub RUNNER]\n"
                 "\n"
                 "Makes a Linux executable (mode 0755) that runs the program: the code text\n"
                 "of a listing or code text is compressed and appended to a copy of the\n"
                 "runner; a file that already carries a program (a classroom .exe, a packed\n"
                 "executable) has its payload moved onto the runner unchanged.\n"
                 "\n"
                 "  -o EXE         the executable to write. Default: the input without its\n"
                 "                 extension (prog.lst -> prog, prog.exe -> prog).\n"
                 "  --name NAME    source name recorded in the payload. Default: the name\n"
                 "                 the payload records, else the input's base name with .pas\n"
                 "                 (prog.lst -> prog.pas).\n"
                 "  --stub RUNNER  the runner to copy. Default: lousa-runner beside lousa,\n"
                 "                 else the installed one.\n"
                 "\n"
                 "Several files, or a directory (its .exe files, any letter case), are packed\n"
                 "one by one with one line each on standard output, 'IN -> OUT (NAME, N code\n"
                 "words)' or 'IN: skipped: reason'; a file without a program is skipped and\n"
                 "the others are still packed. -o then names the directory to write into.\n"
                 "Exit status 1 when any file was not packed.\n",
         .valueOptions = {"-o", "--name", "--stub"},
         .manyFiles = true,
         .run = commandPack},
        {.name = "run",
         .summary = "run a listing, code text or packed executable",
         .help = "usage: lousa run FILE [--sandbox DIR [--allow-weak-sandbox]] [--engine reference|fast]\n"
                 "\n"
                 "Runs a listing, code text or packed executable exactly as the runner would:\n"
                 "same console, same messages, exit status 0. Data files with relative names\n"
                 "are found beside FILE.\n"
                 "\n"
                 "  --sandbox DIR         run confined to the directory DIR: relative names\n"
                 "                        are found there, and the kernel lets the program\n"
                 "                        read and write nothing else (Landlock), open no\n"
                 "                        socket and start no process (seccomp).\n"
                 "  --allow-weak-sandbox  where the kernel lacks Landlock or seccomp, run with\n"
                 "                        the layers there are instead of refusing.\n"
                 "  --engine TIER         the loop that runs it: 'reference' (the plain\n"
                 "                        threaded loop) or 'fast' (the translation tier, the\n"
                 "                        default); the same as LOUSA_ENGINE=TIER in the\n"
                 "                        environment, which the runner reads.\n",
         .valueOptions = {"--sandbox", "--engine"},
         .flags = {"--allow-weak-sandbox"},
         .run = commandRun},
        {.name = "trace",
         .summary = "run like 'run', showing each instruction on standard error",
         .help = "usage: lousa trace FILE [--limit N]\n"
                 "\n"
                 "Runs FILE like 'lousa run', writing each instruction to standard error\n"
                 "before it executes: address, mnemonic, operands and sp.\n"
                 "\n"
                 "  --limit N   stop after N instructions.\n",
         .valueOptions = {"--limit"},
         .run = commandTrace},
        {.name = "extract",
         .summary = "write the code text of a packed executable",
         .help = "usage: lousa extract EXE [-o OUT]\n"
                 "\n"
                 "Writes the code text held by the packed executable EXE.\n"
                 "\n"
                 "  -o OUT   write to OUT instead of standard output.\n",
         .valueOptions = {"-o"},
         .run = commandExtract},
        {.name = "info",
         .summary = "what a program holds: name, sizes, instructions, devices used",
         .help = "usage: lousa info FILE\n"
                 "\n"
                 "Describes the program in FILE (packed executable, classroom .exe, code text\n"
                 "or listing) without running it: the source name recorded in the payload,\n"
                 "the code size in words and bytes of code text, the compressed size, the\n"
                 "instruction count by family, and whether it uses the keyboard, the screen\n"
                 "(cursor, colours, window) and files, with the instructions that do.\n",
         .run = commandInfo},
        {.name = "grade",
         .summary = "grade a class's submissions against a problem's tests",
         .help = kGradeHelp,
         .valueOptions = {"-o", "-j", "--shard", "--seed"},
         .flags = {"--allow-weak-sandbox", "--no-cache"},
         .manyFiles = true,
         .run = commandGrade},
    };
    return table;
}

}  // namespace

int main(int argc, char** argv) {
    lousa::openClosedStandardDescriptors();  // before anything else is opened
    if (argc < 2) {
        std::fputs("lousa: missing command (see lousa --help)\n", stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(overviewText(commands()).c_str(), stdout);
        return 0;
    }
    if (name == "--version") {
        std::fputs("lousa " LOUSA_VERSION "\n", stdout);
        return 0;
    }
    const Command* command = nullptr;
    for (const Command& c : commands())
        if (name == c.name) command = &c;
    if (!command) {
        std::fprintf(stderr, "lousa: unknown command '%s' (see lousa --help)\n", printable(name).c_str());
        return 2;
    }
    try {
        const Arguments args = parseArguments(*command, std::vector<std::string>(argv + 2, argv + argc));
        if (args.help) {
            std::fwrite(command->help.data(), 1, command->help.size(), stdout);
            return 0;
        }
        return command->run(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "lousa %s: %s (see lousa %s --help)\n", name.c_str(), printable(e.what()).c_str(),
                     name.c_str());
        return 2;
    } catch (const AssemblyFailed& e) {
        for (const std::string& line : e.lines) std::fprintf(stderr, "%s\n", printable(line).c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lousa: %s\n", printable(e.what()).c_str());
        return 1;
    }
}
