#include "platform/SecureRandom.h"

#include <algorithm>
#include <cerrno>
#include <sys/random.h>
#include <system_error>
#include <unistd.h>

namespace kestro {

void fillWithSecureRandomBytes(void* bytes, size_t size) {
    auto* out = static_cast<unsigned char*>(bytes);
    // getentropy gives at most 256 bytes a call.
    for (size_t filled = 0; filled < size;) {
        const size_t step = std::min<size_t>(256, size - filled);
        if (::getentropy(out + filled, step) != 0)
            throw std::system_error(errno, std::generic_category(), "getentropy");
        filled += step;
    }
}

} // namespace kestro
