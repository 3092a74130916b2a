#include "surfaces/PortablePixmap.h"

#include <algorithm>

namespace kestro {

namespace {

// A real header is about 16 bytes; comments may make it longer, but not without end.
constexpr size_t kLongestHeader = 512;
constexpr size_t kLongestNumber = 5;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::optional<uint32_t> number(const std::string& digits) {
    if (digits.empty() || digits.size() > kLongestNumber) return std::nullopt;
    uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + uint32_t(c - '0');
    }
    return value;
}

} // namespace

PortablePixmapReader::PortablePixmapReader(uint32_t maxSide) : m_maxSide(std::max<uint32_t>(maxSide, 1)) {}

PortablePixmapReader::~PortablePixmapReader() = default;

bool PortablePixmapReader::add(const char* bytes, size_t size) {
    while (!m_broken && size > 0 && !m_headerDone) {
        m_broken = !addToHeader(*bytes);
        ++bytes;
        --size;
        if (m_headerDone && !m_broken) m_broken = !startPixels();
    }
    while (!m_broken && size > 0) {
        if (!m_shrinker || m_shrinker->complete()) {
            m_broken = true; // more bytes than pixels
            break;
        }
        const size_t taken = std::min(size, m_row.size() - m_rowFilled);
        std::copy_n(reinterpret_cast<const uint8_t*>(bytes), taken, m_row.begin() + long(m_rowFilled));
        m_rowFilled += taken;
        bytes += taken;
        size -= taken;
        if (m_rowFilled == m_row.size()) {
            m_shrinker->addRow(m_row.data());
            m_rowFilled = 0;
        }
    }
    return !m_broken;
}

bool PortablePixmapReader::addToHeader(char c) {
    if (++m_headerBytes > kLongestHeader) return false;
    if (m_headerBytes <= 2) return c == "P6"[m_headerBytes - 1];
    if (m_inComment) {
        m_inComment = c != '\n' && c != '\r';
        return true;
    }
    if (isSpace(c)) {
        // The one white space character after the largest value ends the header.
        if (m_inNumber && m_numbers.size() == 3) m_headerDone = true;
        m_inNumber = false;
        return true;
    }
    if (m_headerBytes == 3 && c != '#') return false; // the magic number stands alone
    if (c == '#' && !m_inNumber) return m_inComment = true;
    if (c < '0' || c > '9') return false;
    if (!m_inNumber) {
        if (m_numbers.size() == 3) return false;
        m_numbers.emplace_back();
        m_inNumber = true;
    }
    m_numbers.back().push_back(c);
    return m_numbers.back().size() <= kLongestNumber;
}

bool PortablePixmapReader::startPixels() {
    const auto width = number(m_numbers[0]);
    const auto height = number(m_numbers[1]);
    const auto largest = number(m_numbers[2]);
    if (!width || !height || largest != 255u) return false;
    if (*width == 0 || *height == 0 || *width > kLargestPixmapSide || *height > kLargestPixmapSide)
        return false;
    m_size = {*width, *height};
    m_shrinker.emplace(m_size, fittingSize(m_size, m_maxSide));
    m_row.resize(size_t(*width) * 3);
    return true;
}

std::optional<RGBImage> PortablePixmapReader::finish() {
    if (m_broken || !m_shrinker || !m_shrinker->complete() || m_rowFilled != 0) return std::nullopt;
    m_broken = true; // the picture is given once
    return m_shrinker->take();
}

} // namespace kestro
