#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

namespace kestro {

std::optional<Pipe> closeOnExecPipe() {
    int ends[2] = {-1, -1};
    if (::pipe(ends) != 0) return std::nullopt;
    Pipe pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
    if (::fcntl(ends[0], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(ends[1], F_SETFD, FD_CLOEXEC) != 0)
        return std::nullopt;
    return pipe;
}

} // namespace kestro
