// The lousa tool: assemble, disassemble, pack, run and extract programs.
#include <cstdio>

int main() {
    std::puts("lousa: not built yet");
    return 1;
}
