#include "platform/FileDescriptor.h"

#include <unistd.h>

namespace kestro {

void FileDescriptor::reset() {
    // close() releases the descriptor even when it reports EINTR, so it is never retried.
    if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
}

} // namespace kestro
