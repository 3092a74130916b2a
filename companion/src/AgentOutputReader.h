#pragma once
// One output stream of the runtime turned into lines: bytes decoded as UTF-8 with a decoder that
// keeps a character split between two chunks whole, and split at line feeds.

#include <QByteArray>
#include <QString>
#include <QStringConverter>
#include <QStringList>

namespace kestro::companion {

class AgentOutputReader {
  public:
    // The complete lines this chunk finishes, trimmed of white space and line breaks at both ends,
    // blank ones dropped. A line feed right after a carriage return does not end a line (the pair
    // counts as one character, as the runtime's readers have always treated it). Invalid bytes
    // become replacement characters. The text after the last line feed waits for the next chunk.
    QStringList feed(const QByteArray& chunk);

    // Forgets any unfinished line and partial character (a new process is starting).
    void reset();

  private:
    QStringDecoder m_decoder{QStringDecoder::Utf8};
    QString m_buffer;
};

} // namespace kestro::companion
