#include "tools/program_files.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "loader/arquivo_compilado.hpp"
#include "loader/decompressor.hpp"
#include "tools/assembler.hpp"

namespace lousa::tool {

namespace {

std::string errnoText() { return std::strerror(errno); }

bool firstTokenIsInteger(std::string_view content) {
    std::size_t i = content.find_first_not_of(" \t\r\n");
    if (i == std::string_view::npos) return false;
    if (content[i] == '-' || content[i] == '+') ++i;
    const std::size_t digits = i;
    while (i < content.size() && content[i] >= '0' && content[i] <= '9') ++i;
    return i > digits && (i == content.size() || content[i] == ' ' || content[i] == '\t' || content[i] == '\r' ||
                          content[i] == '\n');
}

}  // namespace

std::string readFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) throw ToolError(path + " is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot open " + path + ": " + errnoText());
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ToolError("cannot read " + path + ": " + errnoText());
    return content;
}

InputKind classify(std::string_view content) {
    if (findPayload(content) != std::string_view::npos) return InputKind::Packed;
    if (firstTokenIsInteger(content)) return InputKind::CodeText;
    return InputKind::Listing;
}

std::vector<Word> assembleOrThrow(std::string_view listing, const std::string& path) {
    AsmResult result = assemble(listing);
    if (result.ok()) return std::move(result.code);
    std::vector<std::string> lines;
    for (const AsmError& e : result.errors) lines.push_back(path + ":" + std::to_string(e.line) + ": " + e.message);
    throw AssemblyFailed(std::move(lines));
}

ProgramInput loadProgram(const std::string& path) {
    const std::string content = readFile(path);
    ProgramInput program;
    program.kind = classify(content);
    switch (program.kind) {
        case InputKind::Packed: {
            DecodeResult decoded = decodeStream(payloadStream(content));
            program.codeText = std::move(decoded.text);
            program.streamCutShort = decoded.ranShort;
            program.code = parseCodeText(program.codeText);
            break;
        }
        case InputKind::CodeText:
            program.codeText = content;
            program.code = parseCodeText(content);
            break;
        case InputKind::Listing:
            if (content.find('\0') != std::string::npos || content.starts_with("\x7F" "ELF"))
                throw ToolError(path + " is a binary file without a packed program (no payload marker)");
            program.code = assembleOrThrow(content, path);
            program.codeText = formatCodeText(program.code);
            break;
    }
    return program;
}

unsigned defaultFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666U & ~static_cast<unsigned>(mask);
}

namespace {

void writeInPlace(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot open " + path + ": " + errnoText());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const std::string reason = errnoText();
            close(fd);
            throw ToolError("cannot write " + path + ": " + reason);
        }
        done += static_cast<std::size_t>(n);
    }
    close(fd);
}

}  // namespace

void writeFileAtomically(const std::string& path, std::string_view bytes, unsigned mode) {
    if (path == "-") {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
            throw ToolError("cannot write to standard output: " + errnoText());
        return;
    }
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        // A device, FIFO or the like is written in place: renaming over it
        // would replace /dev/null with a regular file.
        writeInPlace(path, bytes);
        return;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) throw ToolError("cannot create " + path + ": " + errnoText());
    auto fail = [&](const std::string& what) {
        const std::string reason = errnoText();
        close(fd);
        unlink(temporary.c_str());
        throw ToolError("cannot " + what + " " + path + ": " + reason);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0) fail("set the permissions of");
    if (close(fd) != 0) {
        const std::string reason = errnoText();
        unlink(temporary.c_str());
        throw ToolError("cannot write " + path + ": " + reason);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = errnoText();
        unlink(temporary.c_str());
        throw ToolError("cannot write " + path + ": " + reason);
    }
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string withoutExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot <= nameStart) return path;  // none, or a hidden file's leading dot
    return path.substr(0, dot);
}

}  // namespace lousa::tool
