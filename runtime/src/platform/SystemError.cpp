#include "platform/SystemError.h"

#include <cstring>

namespace kestro {

std::string errnoText(int error) {
    char buffer[256];
    // GNU strerror_r returns the message pointer, which may not be the buffer.
    return std::string(strerror_r(error, buffer, sizeof buffer));
}

} // namespace kestro
