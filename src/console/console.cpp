#include "console/console.hpp"

#include <cstdio>

namespace lousa {

void Console::writeFinalMessage(std::string_view latin1Text) {
    std::fwrite(latin1Text.data(), 1, latin1Text.size(), stdout);
    std::fflush(stdout);
}

std::unique_ptr<Console> makeProcessConsole() { return std::make_unique<Console>(); }

}  // namespace lousa
