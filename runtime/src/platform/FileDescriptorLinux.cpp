#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

namespace kestro {

std::optional<Pipe> closeOnExecPipe() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
    return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

} // namespace kestro
