#pragma once
// A packed executable: a copy of the runner stub with the compressed code
// text appended behind the payload marker.

#include <string>
#include <string_view>

namespace lousa::tool {

// Throws ToolError when the image cannot serve as a stub: the marker is the
// first run of three 0x1A bytes, so the image may hold none, and a final
// 0x1A would join the marker and shift the header by one byte.
void checkStub(std::string_view image, const std::string& path);

// The runner to copy: lousa-runner beside the running tool, else where an
// installation puts it.
std::string defaultStubPath();

// Stub, marker, name length and name, then the compressed code text.
std::string packExecutable(std::string_view stub, std::string_view name, std::string_view codeText);

// The payload of a file that carries one (a classroom executable, a packed
// Lousa program), moved as it stands behind another stub: marker, name and
// stream keep every byte, so the program runs exactly as it did. Throws
// ToolError when the file holds no payload marker.
std::string repackExecutable(std::string_view stub, std::string_view container, const std::string& path);

}  // namespace lousa::tool
