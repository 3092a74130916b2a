#include "platform/Host.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace kestro {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && *result->pw_dir != '\0')
        return result->pw_dir;
    return "/";
}

std::string currentDirectory() {
    char* path = getcwd(nullptr, 0);
    if (path == nullptr) return "/";
    std::string out(path);
    std::free(path);
    return out;
}

} // namespace kestro
