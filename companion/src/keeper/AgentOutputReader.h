#pragma once
// One output stream of the runtime turned into lines: split at line feeds, each line decoded as
// UTF-8 once it is complete. Each chunk is scanned once, and an unfinished line holds at most
// 64 KiB: a longer one is cut there.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace kestro::companion {

class AgentOutputReader {
  public:
    // The longest line kept. A longer one is delivered cut to this (at the start of a character)
    // as soon as it is reached, and the rest of it, up to its line feed, is dropped.
    static constexpr qsizetype kMaximumLineBytes = 64 * 1024;

    // The complete lines this chunk finishes, trimmed of white space and line breaks at both ends,
    // blank ones dropped. A line feed right after a carriage return does not end a line (the pair
    // counts as one character, as the runtime's readers have always treated it). Invalid bytes
    // become replacement characters. The text after the last line feed waits for the next chunk.
    QStringList feed(const QByteArray& chunk);

    // Forgets any unfinished line (a new process is starting).
    void reset();

    // The bytes held for the unfinished line.
    qsizetype bufferedBytes() const { return m_line.size(); }

  private:
    void append(QByteArrayView bytes, QStringList& lines);
    void endLine(QStringList& lines);
    static void deliver(const QByteArray& line, QStringList& lines);

    QByteArray m_line;
    bool m_cut = false;     // the unfinished line was cut: the rest of it is dropped
    char m_lastByte = '\n'; // the byte before the next one, kept or dropped
};

} // namespace kestro::companion
