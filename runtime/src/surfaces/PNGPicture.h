#pragma once
// Reading a PNG picture from an open file, row by row into the shrinker, so that only one row is
// held whatever its size. The file's bytes, its sides and libpng's own allocations are bounded;
// any colour type is turned into 8-bit RGB (transparency dropped).

#include "surfaces/ImageShrinking.h"

#include <cstddef>
#include <optional>

namespace kestro {

// The picture in the file at `fd`, from its current offset, shrunk to at most `maxSide` pixels on
// its longer side; absent when more than `maxBytes` would have to be read, when a side is larger
// than 32767 pixels, for an interlaced picture, or for anything but a whole PNG.
std::optional<RGBImage> shrunkPNG(int fd, size_t maxBytes, uint32_t maxSide);

} // namespace kestro
