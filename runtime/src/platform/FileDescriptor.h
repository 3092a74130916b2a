#pragma once
// Sole owner of one open file descriptor: closed when the owner goes, movable, never copied.

#include <optional>
#include <utility>

namespace kestro {

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Gives up ownership; the caller closes the descriptor.
    int release() { return std::exchange(m_fd, -1); }
    // Closes the descriptor now (if any).
    void reset();

  private:
    int m_fd = -1;
};

// Both ends of a new pipe, each close-on-exec.
struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};

// A new pipe with both ends close-on-exec; absent with errno set. Atomic on Linux; on macOS the
// flag is set just after, which children started here cannot see (they start with
// POSIX_SPAWN_CLOEXEC_DEFAULT). One implementation file per operating system.
std::optional<Pipe> closeOnExecPipe();

} // namespace kestro
