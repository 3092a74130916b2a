#pragma once
// The pairing link as a QR code drawn with text, for a person at a terminal.

#include <optional>
#include <string>

namespace kestro {

// Level M, a 4-module quiet zone, two module rows per line drawn with half blocks, each line
// black on white whatever the terminal's own colours, ended by a line feed. Absent when the link
// does not fit in a QR code.
std::optional<std::string> terminalQRCode(const std::string& link);

} // namespace kestro
