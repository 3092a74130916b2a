#include "platform/FileReading.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/utf8.h>
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

bool readToEnd(int fd, std::string& out) {
    char chunk[65536];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out.append(chunk, static_cast<size_t>(got));
    }
}

bool isValidUTF8(const std::string& bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    int32_t index = 0;
    while (index < length) {
        UChar32 c;
        U8_NEXT(data, index, length, c);
        if (c < 0) return false;
    }
    return true;
}

} // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
    OpenFile file(path);
    if (file.fd() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.fd(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
    std::string bytes;
    if (!readToEnd(file.fd(), bytes)) return std::nullopt;
    return bytes;
}

std::optional<std::string> readUTF8File(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes || !isValidUTF8(*bytes)) return std::nullopt;
    return bytes;
}

std::optional<FileTail> readFileTail(const std::string& path, size_t maxBytes) {
    OpenFile file(path);
    if (file.fd() < 0) return std::nullopt;
    const off_t end = ::lseek(file.fd(), 0, SEEK_END);
    const size_t size = end > 0 ? static_cast<size_t>(end) : 0;
    const size_t start = size > maxBytes ? size - maxBytes : 0;
    if (::lseek(file.fd(), static_cast<off_t>(start), SEEK_SET) < 0) return std::nullopt;
    FileTail tail;
    tail.startsInside = start != 0;
    if (!readToEnd(file.fd(), tail.bytes)) return std::nullopt;
    return tail;
}

} // namespace kestro
