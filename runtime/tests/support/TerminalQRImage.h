#pragma once
// Reads the runtime's text QR code back: the modules of its half blocks, drawn again as an image
// that a real QR decoder (zbarimg) reads.

#include <optional>
#include <string>
#include <vector>

namespace kestro::testing {

using QRModules = std::vector<std::vector<bool>>; // rows of modules, true where dark

// Two module rows per line; absent when a line is anything but black-on-white half blocks and
// spaces ended by a colour reset (a "\r" left by a terminal must be removed first).
std::optional<QRModules> terminalQRModules(const std::vector<std::string>& lines);

// What zbarimg reads in the modules drawn as an image in `folder`; empty when it finds no code.
std::string decodedQRModules(const QRModules& modules, const std::string& folder);

} // namespace kestro::testing
