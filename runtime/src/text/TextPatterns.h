#pragma once
// ICU regular expressions over UTF-8 texts. A TextPattern may be shared between threads.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unicode/uversion.h>
#include <vector>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace kestro {

class TextMatch {
  public:
    // Absent when the group did not take part in the match.
    std::optional<std::string> group(size_t index) const;
    size_t groupCount() const { return m_groups.size(); }

    std::vector<std::optional<std::string>> m_groups; // index 0 is the whole match
};

// A match with its byte range in the searched text.
struct TextMatchAt {
    TextMatch match;
    size_t start = 0;
    size_t end = 0;
};

class TextPattern {
  public:
    // Throws std::invalid_argument for a pattern ICU rejects.
    explicit TextPattern(std::string_view pattern);
    ~TextPattern();
    TextPattern(TextPattern&&) noexcept;

    std::optional<TextMatch> firstMatch(std::string_view text) const;
    std::vector<TextMatch> allMatches(std::string_view text) const;
    std::vector<TextMatchAt> allMatchesWithOffsets(std::string_view text) const;

  private:
    std::unique_ptr<icu::RegexPattern> m_pattern;
};

// Splits at every line-break character (LF, VT, FF, CR, NEL, LS, PS), keeping empty pieces.
std::vector<std::string> splitLines(std::string_view text);
// Splits JSON-lines text at LF and CR only (JSON strings may hold NEL, LS and PS unescaped).
std::vector<std::string> splitJSONLines(std::string_view text);

} // namespace kestro
