#include "platform/SystemError.h"

#include <cstring>

namespace kestro {

namespace {

std::string unknownError(int error) {
    return "Unknown error " + std::to_string(error);
}

// The C library's strerror_r decides which of these two takes its result.

// GNU: returns the message, which may be a static text rather than the buffer.
[[maybe_unused]] std::string messageFrom(const char* message, const char* /*buffer*/, int error) {
    if (message == nullptr || *message == '\0') return unknownError(error);
    return message;
}

// POSIX (macOS, the BSDs): returns 0 or an error number, but the buffer holds the best text
// either way: the message, the message cut to fit (ERANGE), or "Unknown error: N" (EINVAL).
[[maybe_unused]] std::string messageFrom(int /*result*/, const char* buffer, int error) {
    if (*buffer == '\0') return unknownError(error);
    return buffer;
}

} // namespace

std::string errnoText(int error) {
    // One byte more than strerror_r may use, so the text is terminated even when cut.
    char buffer[257] = {};
    return messageFrom(strerror_r(error, buffer, sizeof buffer - 1), buffer, error);
}

} // namespace kestro
