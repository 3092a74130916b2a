#include "AgentOutputReader.h"

namespace kestro::companion {

namespace {

bool isContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

} // namespace

QStringList AgentOutputReader::feed(const QByteArray& chunk) {
    QStringList lines;
    qsizetype from = 0;
    while (from < chunk.size()) {
        const qsizetype lineFeed = chunk.indexOf('\n', from);
        const qsizetype end = lineFeed < 0 ? chunk.size() : lineFeed;
        if (end > from) {
            append(QByteArrayView(chunk).sliced(from, end - from), lines);
            m_lastByte = chunk.at(end - 1);
        }
        if (lineFeed < 0) break;
        from = lineFeed + 1;
        if (m_lastByte == '\r')
            append("\n", lines);
        else
            endLine(lines);
        m_lastByte = '\n';
    }
    return lines;
}

void AgentOutputReader::append(QByteArrayView bytes, QStringList& lines) {
    if (m_cut) return;
    const qsizetype room = kMaximumLineBytes - m_line.size();
    if (bytes.size() <= room) {
        m_line.append(bytes);
        return;
    }
    m_line.append(bytes.first(room));
    // A character the limit splits is left out whole.
    if (isContinuationByte(bytes.at(room))) {
        qsizetype start = m_line.size();
        while (start > 0 && isContinuationByte(m_line.at(start - 1)))
            --start;
        m_line.truncate(start > 0 ? start - 1 : 0);
    }
    deliver(m_line, lines);
    m_line.clear();
    m_cut = true;
}

void AgentOutputReader::endLine(QStringList& lines) {
    if (!m_cut) deliver(m_line, lines);
    m_line.clear();
    m_cut = false;
}

void AgentOutputReader::deliver(const QByteArray& line, QStringList& lines) {
    const QString text = QString::fromUtf8(line).trimmed();
    if (!text.isEmpty()) lines << text;
}

void AgentOutputReader::reset() {
    m_line.clear();
    m_cut = false;
    m_lastByte = '\n';
}

} // namespace kestro::companion
