#include "platform/FileReading.h"

#include "text/Text.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace {

class OpenFile {
  public:
    // Non-blocking, so that a FIFO or a device does not hold the caller before it is refused.
    explicit OpenFile(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        struct stat info {};
        if (m_fd >= 0 && (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OpenFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

// Everything from the descriptor's position to the end of the file when that is at most `limit`
// bytes; nothing when it is more, or when a read fails.
std::optional<std::string> readAtMost(int fd, size_t limit) {
    std::string bytes;
    char chunk[65536];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) return bytes;
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (static_cast<size_t>(got) > limit - bytes.size()) return std::nullopt;
        bytes.append(chunk, static_cast<size_t>(got));
    }
}

} // namespace

std::optional<std::string> readWholeFile(const std::string& path, size_t maxBytes) {
    OpenFile file(path);
    if (file.fd() < 0) return std::nullopt;
    return readAtMost(file.fd(), maxBytes);
}

std::optional<std::string> readUTF8File(const std::string& path, size_t maxBytes) {
    auto bytes = readWholeFile(path, maxBytes);
    if (!bytes || !isValidUTF8(*bytes)) return std::nullopt;
    return bytes;
}

std::optional<FileTail> readFileTail(const std::string& path, size_t maxBytes) {
    OpenFile file(path);
    if (file.fd() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.fd(), &info) != 0) return std::nullopt;
    const size_t reported = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
    const size_t start = reported > maxBytes ? reported - maxBytes : 0;
    if (::lseek(file.fd(), static_cast<off_t>(start), SEEK_SET) < 0) return std::nullopt;
    // The size may be wrong (a file that grows while it is read, a file that reports none), so
    // the read goes on to the real end, within a bound, and keeps the last `maxBytes`.
    auto bytes = readAtMost(file.fd(), maxBytes > SIZE_MAX / 2 ? SIZE_MAX : 2 * maxBytes);
    if (!bytes) return std::nullopt;
    const size_t dropped = bytes->size() > maxBytes ? bytes->size() - maxBytes : 0;
    bytes->erase(0, dropped);
    return FileTail{.bytes = std::move(*bytes), .startsInside = start + dropped > 0};
}

std::string_view FileTail::wholeLines() const {
    if (!startsInside) return bytes;
    const size_t lineFeed = bytes.find('\n');
    if (lineFeed == std::string::npos) return {};
    return std::string_view(bytes).substr(lineFeed + 1);
}

} // namespace kestro
