#include "files/io_result.hpp"

#include <cerrno>

namespace lousa {

int ioResult(int ioErrorNumber) {
    switch (ioErrorNumber) {
        case 0:
            return 0;
        case ENOENT:
        case ENOTDIR:  // a component of the path is not a directory: the path does not exist
            return 2;
        case kPathNotFound:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return 5;
        default:
            // Negative numbers never come from errno; keep them from reading as success.
            return ioErrorNumber;
    }
}

}  // namespace lousa
