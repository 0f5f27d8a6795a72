#include "tools/program_files.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "loader/arquivo_compilado.hpp"
#include "loader/decompressor.hpp"
#include "tools/assembler.hpp"
#include "vm/word_memory.hpp"

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
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot open " + path + ": " + errnoText());
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        throw ToolError(path + " is a directory");
    }
    const auto tooLarge = [&] {
        close(fd);
        return ToolError(path + " is larger than " + kMaxInputText + ", the most lousa reads");
    };
    if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > kMaxInputBytes) throw tooLarge();
    std::string content;
    content.resize(S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) + 1 : 65536);
    std::size_t filled = 0;
    for (;;) {
        if (filled == content.size()) {
            if (filled > kMaxInputBytes) throw tooLarge();
            content.resize(std::min(content.size() * 2, kMaxInputBytes + 1));
        }
        const ssize_t got = read(fd, content.data() + filled, content.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const std::string reason = errnoText();
            close(fd);
            throw ToolError("cannot read " + path + ": " + reason);
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    close(fd);
    if (filled > kMaxInputBytes) throw ToolError(path + " is larger than " + kMaxInputText + ", the most lousa reads");
    content.resize(filled);
    return content;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7F) escape(byte);
            else out += static_cast<char>(byte);
            ++i;
            continue;
        }
        // A whole UTF-8 sequence (no overlong forms, no surrogates) passes,
        // unless it encodes a C1 control (U+0080..U+009F).
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
        bool valid = length != 0 && byte <= 0xF4 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && length == 3) {
            const auto second = static_cast<unsigned char>(text[i + 1]);
            valid = !(byte == 0xE0 && second < 0xA0) && !(byte == 0xED && second >= 0xA0);
        }
        if (valid && length == 4) {
            const auto second = static_cast<unsigned char>(text[i + 1]);
            valid = !(byte == 0xF0 && second < 0x90) && !(byte == 0xF4 && second >= 0x90);
        }
        if (valid && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) valid = false;  // C1
        if (!valid) {
            escape(byte);
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

void refuseBinaryListing(std::string_view content, const std::string& path) {
    // Tab, line feed, vertical tab, form feed, carriage return, escape and
    // the Ctrl+Z that ends old text files are the controls a text may hold.
    const bool binary = std::any_of(content.begin(), content.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && !(byte >= 0x09 && byte <= 0x0D) && byte != 0x1A && byte != 0x1B;
    });
    if (binary) throw ToolError(path + " is a binary file, not a listing, and holds no packed program (no payload marker)");
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
            const std::string_view stream = payloadStream(content);
            const std::size_t nameAt = findPayload(content);
            if (nameAt < content.size()) {
                const std::size_t length = static_cast<unsigned char>(content[nameAt]);
                program.sourceName = content.substr(nameAt + 1, std::min(length, content.size() - nameAt - 1));
                if (!program.sourceName.empty() && program.sourceName.back() == '\0') program.sourceName.pop_back();
            }
            program.streamBytes = stream.size();
            DecodeResult decoded = decodeStream(stream);
            if (decoded.tooLarge)
                throw ToolError("the code text packed in " + path + " is larger than " + kMaxCodeTextText +
                                ", the most the runner loads");
            program.codeText = std::move(decoded.text);
            program.streamCutShort = decoded.ranShort;
            program.code = parseCodeText(program.codeText, &WordMemory::codeCapacity);
            break;
        }
        case InputKind::CodeText:
            program.codeText = content;
            program.code = parseCodeText(content, &WordMemory::codeCapacity);
            break;
        case InputKind::Listing:
            if (hasExeExtension(path)) throw ToolError(path + " carries no program (no payload marker)");
            refuseBinaryListing(content, path);
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

bool isDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool hasExeExtension(const std::string& path) {
    const std::string name = baseName(path);
    return name.size() > 4 && name[name.size() - 4] == '.' && std::tolower(static_cast<unsigned char>(name[name.size() - 3])) == 'e' &&
           std::tolower(static_cast<unsigned char>(name[name.size() - 2])) == 'x' &&
           std::tolower(static_cast<unsigned char>(name[name.size() - 1])) == 'e';
}

std::vector<std::string> packInputs(const std::vector<std::string>& files) {
    std::vector<std::string> inputs;
    for (const std::string& file : files) {
        if (!isDirectory(file)) {
            inputs.push_back(file);
            continue;
        }
        std::vector<std::string> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(file, error)) {
            const std::string path = file + (file.ends_with('/') ? "" : "/") + entry.path().filename().string();
            std::error_code notRegular;
            if (hasExeExtension(path) && entry.is_regular_file(notRegular)) found.push_back(path);
        }
        if (error) throw ToolError("cannot list " + file + ": " + error.message());
        std::sort(found.begin(), found.end());
        inputs.insert(inputs.end(), found.begin(), found.end());
    }
    return inputs;
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
