#pragma once
// Reading a PNG picture from an open file, row by row into the shrinker, so that only one row is
// held whatever its size. The file's bytes, its sides, libpng's own allocations and the time taken
// are bounded; any colour type is turned into 8-bit RGB (transparency dropped).

#include "surfaces/ImageShrinking.h"

#include <chrono>
#include <cstddef>
#include <optional>

namespace kestro {

// The picture in the file at `fd`, from its current offset, shrunk to at most `maxSide` pixels on
// its longer side; absent when more than `maxBytes` would have to be read, when a side is larger
// than 32767 pixels, for an interlaced picture, for anything but a whole PNG, and when the
// deadline comes first (a small file may hold a picture that takes long to unpack).
std::optional<RGBImage> shrunkPNG(int fd, size_t maxBytes, uint32_t maxSide,
                                  std::chrono::steady_clock::time_point deadline);

} // namespace kestro
