#include "text/LineSplitter.h"

#include "text/Text.h"

namespace kestro {

namespace {

// Length of the line break starting at `at`, 0 when there is none, or -1 when the bytes so far
// could still become one.
int breakLength(const std::string& bytes, size_t at, LineBreaks breaks) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const size_t left = bytes.size() - at;
    if (byte(at) == '\n' || byte(at) == '\r') return 1;
    if (breaks == LineBreaks::json) return 0;
    if (byte(at) == 0xC2) {
        if (left < 2) return -1;
        return byte(at + 1) == 0x85 ? 2 : 0;
    }
    if (byte(at) == 0xE2) {
        if (left < 2) return -1;
        if (byte(at + 1) != 0x80) return 0;
        if (left < 3) return -1;
        return (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9) ? 3 : 0;
    }
    return 0;
}

} // namespace

std::vector<std::string> LineSplitter::feed(std::string_view bytes) {
    m_pending.append(bytes);
    std::vector<std::string> lines;
    size_t lineStart = 0;
    size_t at = m_scanned;
    while (at < m_pending.size()) {
        const int length = breakLength(m_pending, at, m_breaks);
        if (length < 0) break;
        if (length == 0) {
            ++at;
            continue;
        }
        if (at > lineStart && !m_dropping)
            lines.push_back(decodeUTF8Lossy(std::string_view(m_pending).substr(lineStart, at - lineStart)));
        m_dropping = false;
        at += static_cast<size_t>(length);
        lineStart = at;
    }
    if (m_dropping) {
        lineStart = at; // nothing of the cut line is kept
    } else if (at - lineStart > m_longest) {
        lines.push_back(decodeUTF8Lossy(std::string_view(m_pending).substr(lineStart, m_longest)));
        m_dropping = true;
        lineStart = at;
    }
    m_pending.erase(0, lineStart);
    m_scanned = at - lineStart;
    return lines;
}

std::vector<std::string> LineSplitter::finish() {
    std::vector<std::string> lines;
    if (!m_pending.empty() && !m_dropping) lines.push_back(decodeUTF8Lossy(m_pending));
    m_pending.clear();
    m_scanned = 0;
    m_dropping = false;
    return lines;
}

} // namespace kestro
