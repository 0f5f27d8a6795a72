#include "tools/packer.hpp"

#include <climits>
#include <unistd.h>

#include "loader/compressor.hpp"
#include "loader/decompressor.hpp"
#include "tools/program_files.hpp"

namespace lousa::tool {

void checkStub(std::string_view image, const std::string& path) {
    if (image.empty()) throw ToolError("stub " + path + " is empty");
    if (image.find("\x1A\x1A\x1A") != std::string_view::npos)
        throw ToolError("stub " + path + " holds three consecutive 0x1A bytes; the payload could not be found after it");
    if (image.back() == '\x1A')
        throw ToolError("stub " + path + " ends with 0x1A, which would join the payload marker");
}

std::string defaultStubPath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
        const std::string self(buffer, static_cast<std::size_t>(n));
        const std::string beside = self.substr(0, self.find_last_of('/') + 1) + "lousa-runner";
        if (access(beside.c_str(), R_OK) == 0) return beside;
    }
#ifdef LOUSA_INSTALLED_RUNNER
    if (access(LOUSA_INSTALLED_RUNNER, R_OK) == 0) return LOUSA_INSTALLED_RUNNER;
#endif
    throw ToolError("cannot find lousa-runner beside lousa or where it is installed; give the runner with --stub");
}

std::string packExecutable(std::string_view stub, std::string_view name, std::string_view codeText) {
    if (name.size() > 254) throw ToolError("program name longer than 254 bytes: " + std::string(name));
    std::string image(stub);
    image += buildPayload(name, codeText);
    return image;
}

std::string repackExecutable(std::string_view stub, std::string_view container, const std::string& path) {
    const std::size_t afterMarker = findPayload(container);
    if (afterMarker == std::string_view::npos) throw ToolError(path + " carries no program (no payload marker)");
    std::string image(stub);
    image += container.substr(afterMarker - 3);
    return image;
}

}  // namespace lousa::tool
