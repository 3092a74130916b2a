#pragma once
// Reading numbers from texts: tool output, Codex's files, request heads and settings. Each reader
// takes the whole text or nothing. Pure functions; never throw.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestro {

// The whole text as a floating-point number in strtod's grammar ("12", "1.5e3", " 7", "inf").
std::optional<double> parseNumber(std::string_view text);

// The whole text as a base-10 64-bit integer in strtoll's grammar; absent when out of range.
std::optional<int64_t> parseInteger(std::string_view text);

// An optional sign and one or more decimal digits, nothing else ("+8787", "-0", "007").
struct DecimalText {
    bool negative = false;
    uint64_t magnitude = 0; // saturates at UINT64_MAX
    bool overflowed = false;
};
std::optional<DecimalText> parseDecimal(std::string_view text, bool allowMinus);

// An optional "+" then decimal digits, 0...65535.
std::optional<uint16_t> parsePort(std::string_view text);

} // namespace kestro
