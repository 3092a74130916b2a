#pragma once
// Reading a binary portable pixmap (P6, 8 bits a channel, as grim writes one) as its bytes arrive,
// shrinking it on the way: only the current row is held, never the whole picture. Strict: the
// header's numbers are checked before anything is allocated, and a stream that breaks the
// format, or holds more or fewer pixels than its header announced, gives nothing.

#include "surfaces/ImageShrinking.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

// Neither side of a pixmap may be larger (as for a capture of the X display).
inline constexpr uint32_t kLargestPixmapSide = 32767;

class PortablePixmapReader {
  public:
    // The picture is shrunk to at most `maxSide` pixels on its longer side.
    explicit PortablePixmapReader(uint32_t maxSide);
    ~PortablePixmapReader();
    PortablePixmapReader(const PortablePixmapReader&) = delete;
    PortablePixmapReader& operator=(const PortablePixmapReader&) = delete;

    // Takes the next bytes of the stream; false once it is known to be broken, and ever after.
    bool add(const char* bytes, size_t size);
    // The shrunk picture when exactly the announced pixels came; absent otherwise.
    std::optional<RGBImage> finish();

  private:
    bool addToHeader(char c);
    bool startPixels();

    uint32_t m_maxSide;
    bool m_broken = false;
    // The header: "P6", then width, height and the largest value, with white space and comments.
    size_t m_headerBytes = 0;
    bool m_inComment = false;
    bool m_inNumber = false;
    std::vector<std::string> m_numbers;
    bool m_headerDone = false;
    // The pixels, one row at a time.
    ImageSize m_size;
    std::optional<AreaShrinker> m_shrinker;
    std::vector<uint8_t> m_row;
    size_t m_rowFilled = 0;
};

} // namespace kestro
