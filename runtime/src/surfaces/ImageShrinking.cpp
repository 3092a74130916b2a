#include "surfaces/ImageShrinking.h"

#include <algorithm>
#include <cmath>

namespace kestro {

ImageSize fittingSize(ImageSize source, uint32_t maxSide) {
    const uint32_t longer = std::max(source.width, source.height);
    if (longer <= maxSide) return source;
    const auto scaled = [&](uint32_t side) {
        const double exact = double(side) * double(maxSide) / double(longer);
        return std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(exact)));
    };
    return {scaled(source.width), scaled(source.height)};
}

// Lengths are measured in units of 1 / (source × target): a source cell is `target` units long and
// an output cell `source` units, so every overlap is a whole number and the sums are exact.
std::vector<AreaShrinker::Span> AreaShrinker::spans(uint32_t source, uint32_t target) {
    std::vector<Span> out(source);
    for (uint32_t i = 0; i < source; ++i) {
        const uint64_t start = uint64_t(i) * target;
        const uint64_t end = start + target;
        const auto first = static_cast<uint32_t>(start / source);
        const uint64_t firstEnd = uint64_t(first + 1) * source;
        const uint64_t inFirst = std::min(end, firstEnd) - start;
        out[i] = {first, static_cast<uint32_t>(inFirst), static_cast<uint32_t>(target - inFirst)};
    }
    return out;
}

AreaShrinker::AreaShrinker(ImageSize source, ImageSize target)
    : m_source(source), m_columns(spans(source.width, target.width)),
      m_rows(spans(source.height, target.height)), m_rowSums(size_t(target.width) * 3),
      m_current(size_t(target.width) * 3), m_following(size_t(target.width) * 3) {
    m_output.size = target;
    m_output.pixels.resize(size_t(target.width) * target.height * 3);
}

void AreaShrinker::addRow(const uint8_t* rgb) {
    if (complete()) return;
    std::fill(m_rowSums.begin(), m_rowSums.end(), 0);
    for (uint32_t x = 0; x < m_source.width; ++x) {
        const Span& column = m_columns[x];
        const uint8_t* pixel = rgb + size_t(x) * 3;
        uint32_t* first = &m_rowSums[size_t(column.first) * 3];
        for (int c = 0; c < 3; ++c)
            first[c] += column.firstWeight * pixel[c];
        if (column.nextWeight != 0)
            for (int c = 0; c < 3; ++c)
                first[3 + c] += column.nextWeight * pixel[c];
    }
    const Span& row = m_rows[m_rowsAdded];
    for (size_t i = 0; i < m_rowSums.size(); ++i)
        m_current[i] += uint64_t(row.firstWeight) * m_rowSums[i];
    if (row.nextWeight != 0)
        for (size_t i = 0; i < m_rowSums.size(); ++i)
            m_following[i] += uint64_t(row.nextWeight) * m_rowSums[i];
    ++m_rowsAdded;
    // The output row is full once a source row reaches its end: into the next one, or exactly to
    // it (the last source row always does).
    const uint64_t reached = uint64_t(m_rowsAdded) * m_output.size.height;
    if (reached >= uint64_t(row.first + 1) * m_source.height) {
        emitRow(row.first);
        std::swap(m_current, m_following);
        std::fill(m_following.begin(), m_following.end(), 0);
    }
}

void AreaShrinker::emitRow(uint32_t row) {
    const uint64_t area = uint64_t(m_source.width) * m_source.height;
    uint8_t* out = &m_output.pixels[size_t(row) * m_output.size.width * 3];
    for (size_t i = 0; i < m_current.size(); ++i)
        out[i] = static_cast<uint8_t>((m_current[i] + area / 2) / area);
}

} // namespace kestro
