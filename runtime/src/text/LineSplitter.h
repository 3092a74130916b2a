#pragma once
// Splits a byte stream into lines as bytes arrive: text at LF, CR, CR LF, NEL, LS and PS; JSON
// lines at LF and CR only, since JSON strings may carry NEL, LS and PS unescaped (and never LF
// or CR). Empty lines are never delivered; lines are decoded as UTF-8 with invalid bytes replaced.

#include <string>
#include <string_view>
#include <vector>

namespace kestro {

enum class LineBreaks { text, json };

class LineSplitter {
  public:
    explicit LineSplitter(LineBreaks breaks = LineBreaks::text) : m_breaks(breaks) {}

    // The lines completed by `bytes`, in order.
    std::vector<std::string> feed(std::string_view bytes);
    // The last line when it had no terminator (empty when there is none).
    std::vector<std::string> finish();

  private:
    LineBreaks m_breaks;
    std::string m_pending;
    size_t m_scanned = 0;
};

} // namespace kestro
