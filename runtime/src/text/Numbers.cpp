#include "text/Numbers.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>

namespace kestro {

std::optional<double> parseNumber(std::string_view text) {
    const std::string copy(text); // strtod needs a terminated text
    if (copy.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str() || end != copy.c_str() + copy.size() || errno == ERANGE) return std::nullopt;
    return value;
}

std::optional<int64_t> parseInteger(std::string_view text) {
    const std::string copy(text);
    if (copy.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), &end, 10);
    if (end == copy.c_str() || end != copy.c_str() + copy.size() || errno == ERANGE) return std::nullopt;
    return static_cast<int64_t>(value);
}

std::optional<DecimalText> parseDecimal(std::string_view text, bool allowMinus) {
    DecimalText decimal;
    if (!text.empty() && (text.front() == '+' || (allowMinus && text.front() == '-'))) {
        decimal.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    constexpr uint64_t kMaximum = std::numeric_limits<uint64_t>::max();
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (decimal.magnitude > (kMaximum - digit) / 10) {
            decimal.overflowed = true;
            decimal.magnitude = kMaximum;
        } else if (!decimal.overflowed) {
            decimal.magnitude = decimal.magnitude * 10 + digit;
        }
    }
    return decimal;
}

std::optional<uint16_t> parsePort(std::string_view text) {
    const auto decimal = parseDecimal(text, false);
    if (!decimal || decimal->magnitude > 65535) return std::nullopt;
    return static_cast<uint16_t>(decimal->magnitude);
}

} // namespace kestro
