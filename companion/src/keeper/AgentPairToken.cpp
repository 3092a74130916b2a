#include "AgentPairToken.h"

#include "platform/SecureRandom.h"

#include <QTextBoundaryFinder>
#include <vector>

namespace kestro::companion {

namespace {

// Where each user-perceived character starts, and the text's end.
std::vector<qsizetype> characterBoundaries(const QString& text) {
    std::vector<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = 0; at >= 0; at = finder.toNextBoundary())
        boundaries.push_back(at);
    return boundaries;
}

} // namespace

QString newPairToken() {
    return QString::fromStdString(kestro::randomToken());
}

QString maskedToken(const QString& token) {
    const std::vector<qsizetype> boundaries = characterBoundaries(token);
    const size_t characters = boundaries.size() - 1;
    if (characters < 13) return token;
    const qsizetype headEnd = boundaries[6];
    const qsizetype tailStart = boundaries[characters - 4];
    return token.left(headEnd) + QString(6, QChar(0x2022)) + token.mid(tailStart);
}

} // namespace kestro::companion
