#include "AgentOutputReader.h"

namespace kestro::companion {

QStringList AgentOutputReader::feed(const QByteArray& chunk) {
    m_buffer += m_decoder.decode(chunk);
    QStringList lines;
    qsizetype lineStart = 0;
    for (qsizetype at = m_buffer.indexOf(QLatin1Char('\n')); at >= 0;
         at = m_buffer.indexOf(QLatin1Char('\n'), at + 1)) {
        if (at > 0 && m_buffer.at(at - 1) == QLatin1Char('\r')) continue;
        const QString line = m_buffer.mid(lineStart, at - lineStart).trimmed();
        if (!line.isEmpty()) lines << line;
        lineStart = at + 1;
    }
    m_buffer.remove(0, lineStart);
    return lines;
}

void AgentOutputReader::reset() {
    m_decoder.resetState();
    m_buffer.clear();
}

} // namespace kestro::companion
