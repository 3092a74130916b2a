#pragma once
// Splits a byte stream into lines as bytes arrive: text at LF, CR, CR LF, NEL, LS and PS; JSON
// lines at LF and CR only, since JSON strings may carry NEL, LS and PS unescaped (and never LF
// or CR). Empty lines are never delivered; lines are decoded as UTF-8 with invalid bytes replaced.
// A line longer than `longest` bytes is delivered cut there, and the rest of it is dropped, so a
// writer that never ends its line cannot fill memory (a cut JSON line no longer parses).

#include <string>
#include <string_view>
#include <vector>

namespace kestro {

enum class LineBreaks { text, json };

class LineSplitter {
  public:
    // Far beyond any real line of Codex's output, whose longest carry a command's whole output.
    static constexpr size_t kLongestLine = 16 * 1024 * 1024;

    explicit LineSplitter(LineBreaks breaks = LineBreaks::text, size_t longest = kLongestLine)
        : m_breaks(breaks), m_longest(longest) {}

    // The lines completed by `bytes`, in order.
    std::vector<std::string> feed(std::string_view bytes);
    // The last line when it had no terminator (empty when there is none).
    std::vector<std::string> finish();

  private:
    LineBreaks m_breaks;
    size_t m_longest;
    std::string m_pending;
    size_t m_scanned = 0;
    bool m_dropping = false; // the line being read was cut: its bytes up to the next break go
};

} // namespace kestro
