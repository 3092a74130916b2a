#pragma once
// Splits a byte stream into lines as bytes arrive, at LF, CR, CR LF, NEL, LS and PS.
// Empty lines are never delivered; lines are decoded as UTF-8 with invalid bytes replaced.

#include <string>
#include <string_view>
#include <vector>

namespace kestro {

class LineSplitter {
  public:
    // The lines completed by `bytes`, in order.
    std::vector<std::string> feed(std::string_view bytes);
    // The last line when it had no terminator (empty when there is none).
    std::vector<std::string> finish();

  private:
    std::string m_pending;
    size_t m_scanned = 0;
};

} // namespace kestro
