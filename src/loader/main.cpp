// The runner: executes the program appended to its own executable.

#include "loader/run_sequence.hpp"
#include "loader/standard_descriptors.hpp"

int main(int argc, char** argv) {
    lousa::openClosedStandardDescriptors();
    const std::string self = (argc > 0 && argv[0] != nullptr) ? argv[0] : "";
    return lousa::runnerMain(self, self);
}
