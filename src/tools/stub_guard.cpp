// Build step for the runner image: the payload is found after the first run
// of three 0x1A bytes, so the image itself may hold no such run and may not
// end with 0x1A (it would join the marker). A trailing 0x1A is mended by
// appending a zero byte; a run inside is mended by stripping the symbol
// tables, where such runs come from; if it stays, the build fails.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string readAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool hasMarkerRun(const std::string& image) { return image.find("\x1A\x1A\x1A") != std::string::npos; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: stub-guard RUNNER\n");
        return 2;
    }
    const char* path = argv[1];
    std::string image = readAll(path);
    if (image.empty()) {
        std::fprintf(stderr, "stub-guard: cannot read %s\n", path);
        return 1;
    }
    if (hasMarkerRun(image)) {
        const std::string command = std::string("strip --strip-unneeded '") + path + "'";
        if (std::system(command.c_str()) != 0) return 1;
        image = readAll(path);
        if (hasMarkerRun(image)) {
            std::fprintf(stderr, "stub-guard: %s holds three consecutive 0x1A bytes\n", path);
            return 1;
        }
    }
    if (image.back() == '\x1A') {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.put('\0');
    }
    return 0;
}
