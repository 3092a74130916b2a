#include "text/TimeText.h"

#include <ctime>

namespace kestro {

std::string isoTimeText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[32];
    const size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(buffer, length);
}

std::string isoTimeTextNow() { return isoTimeText(std::chrono::system_clock::now()); }

} // namespace kestro
