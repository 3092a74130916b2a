#pragma once
// ISO 8601 internet date-time texts in UTC with whole seconds, e.g. 2026-12-07T01:27:50Z.

#include <chrono>
#include <string>

namespace kestro {

std::string isoTimeText(std::chrono::system_clock::time_point time);
std::string isoTimeTextNow();

} // namespace kestro
