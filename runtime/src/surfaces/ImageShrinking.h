#pragma once
// Shrinking a picture that arrives row by row, by area averaging: every output pixel is the
// exact, weighted mean of the source pixels it covers, so text and fine lines blend into grey
// instead of breaking up as dropped pixels would.

#include <cstdint>
#include <vector>

namespace kestro {

struct ImageSize {
    uint32_t width = 0;
    uint32_t height = 0;
    bool operator==(const ImageSize&) const = default;
};

// 8-bit RGB pixels, three bytes each, rows top to bottom without padding.
struct RGBImage {
    ImageSize size;
    std::vector<uint8_t> pixels;
};

// The size of `source` with its longer side at most `maxSide` pixels, keeping the aspect ratio
// (rounded, never below one pixel); `source` itself when it already fits.
ImageSize fittingSize(ImageSize source, uint32_t maxSide);

class AreaShrinker {
  public:
    // `target` is no larger than `source` on either side; both are at least 1 × 1.
    AreaShrinker(ImageSize source, ImageSize target);

    // The next source row, top to bottom: source.width RGB pixels.
    void addRow(const uint8_t* rgb);
    // Whether every source row has been added.
    bool complete() const { return m_rowsAdded == m_source.height; }
    // The shrunk picture; complete once every source row has been added.
    RGBImage take() { return std::move(m_output); }

  private:
    // Where one source column or row lands: the first output cell it overlaps with its weight,
    // and the rest of its weight in the next cell (a source cell overlaps at most two).
    struct Span {
        uint32_t first = 0;
        uint32_t firstWeight = 0;
        uint32_t nextWeight = 0;
    };
    static std::vector<Span> spans(uint32_t source, uint32_t target);
    void emitRow(uint32_t row);

    ImageSize m_source;
    RGBImage m_output;
    std::vector<Span> m_columns;
    std::vector<Span> m_rows;
    std::vector<uint32_t> m_rowSums;   // one source row summed across, per output column and channel
    std::vector<uint64_t> m_current;   // the output row being filled
    std::vector<uint64_t> m_following; // the output row after it, which a source row may reach into
    uint32_t m_rowsAdded = 0;
};

} // namespace kestro
