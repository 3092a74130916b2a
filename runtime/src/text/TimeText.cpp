#include "text/TimeText.h"

#include <cmath>
#include <ctime>

namespace kestro {

std::string isoTimeText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[32];
    const size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(buffer, length);
}

std::string isoTimeTextNow() {
    return isoTimeText(std::chrono::system_clock::now());
}

namespace {

// The system clock counts nanoseconds in 64 bits: about 9.22e9 seconds either side of 1970.
constexpr long long kLargestSeconds = 9'200'000'000LL;

} // namespace

std::optional<std::chrono::system_clock::time_point> parseIsoTimeText(std::string_view text) {
    using namespace std::chrono;
    // YYYY-MM-DDTHH:MM:SS then an optional fraction, then Z.
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    std::string_view rest = text.substr(19);
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        if (digits == 0) return std::nullopt;
        rest.remove_prefix(digits);
    }
    if (rest != "Z") return std::nullopt;
    const auto number = [&](size_t at, size_t length) -> std::optional<int> {
        int value = 0;
        for (size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const auto y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2),
               s = number(17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 60) return std::nullopt;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)}, day{static_cast<unsigned>(*d)}};
    if (!date.ok()) return std::nullopt;
    const sys_seconds time = sys_days(date) + hours(*h) + minutes(*mi) + seconds(*s);
    if (std::abs(time.time_since_epoch().count()) > kLargestSeconds) return std::nullopt;
    return time_point_cast<system_clock::duration>(time);
}

std::optional<std::chrono::system_clock::time_point> timeFromSeconds(double seconds) {
    if (!std::isfinite(seconds) || std::abs(seconds) > double(kLargestSeconds)) return std::nullopt;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(seconds)));
}

std::optional<std::chrono::system_clock::time_point> timeFromMilliseconds(double milliseconds) {
    return timeFromSeconds(milliseconds / 1000.0);
}

} // namespace kestro
