#include "tools/packer.hpp"

#include <climits>
#include <unistd.h>

#include "loader/compressor.hpp"
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
    if (n <= 0) throw ToolError("cannot find the tool's own directory; give the runner with --stub");
    std::string self(buffer, static_cast<std::size_t>(n));
    return self.substr(0, self.find_last_of('/') + 1) + "lousa-runner";
}

std::string packExecutable(std::string_view stub, std::string_view name, std::string_view codeText) {
    if (name.size() > 254) throw ToolError("program name longer than 254 bytes: " + std::string(name));
    std::string image(stub);
    image += buildPayload(name, codeText);
    return image;
}

}  // namespace lousa::tool
