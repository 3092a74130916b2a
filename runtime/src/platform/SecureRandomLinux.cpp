#include "platform/SecureRandom.h"

#include <cerrno>
#include <sys/random.h>
#include <system_error>

namespace kestro {

void fillWithSecureRandomBytes(void* bytes, size_t size) {
    auto* out = static_cast<unsigned char*>(bytes);
    size_t filled = 0;
    while (filled < size) {
        const ssize_t got = ::getrandom(out + filled, size - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<size_t>(got);
    }
}

} // namespace kestro
