#pragma once
// ISO 8601 internet date-time texts in UTC with whole seconds, e.g. 2026-12-07T01:27:50Z.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

std::string isoTimeText(std::chrono::system_clock::time_point time);
std::string isoTimeTextNow();

// Reads YYYY-MM-DDTHH:MM:SSZ; fractional seconds, as Codex writes them, are accepted and dropped.
std::optional<std::chrono::system_clock::time_point> parseIsoTimeText(std::string_view text);

// Times from a number of seconds or milliseconds since 1970; absent when not finite or beyond
// what the system clock holds (roughly the years 1678 to 2262). The same range bounds the
// texts parseIsoTimeText reads.
std::optional<std::chrono::system_clock::time_point> timeFromSeconds(double seconds);
std::optional<std::chrono::system_clock::time_point> timeFromMilliseconds(double milliseconds);

} // namespace kestro
