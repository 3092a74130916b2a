#include "text/TextPatterns.h"

#include <stdexcept>
#include <unicode/regex.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace kestro {

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// Matches run over the UTF-8 text itself, so match positions are byte offsets into it.
class UTF8Matcher {
  public:
    UTF8Matcher(const icu::RegexPattern& pattern, std::string_view text) : m_text(text) {
        UErrorCode status = U_ZERO_ERROR;
        m_utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
        if (U_FAILURE(status)) return;
        m_matcher.reset(pattern.matcher(status));
        if (U_FAILURE(status)) {
            m_matcher.reset();
            return;
        }
        m_matcher->reset(m_utext);
    }
    ~UTF8Matcher() {
        m_matcher.reset();
        if (m_utext != nullptr) utext_close(m_utext);
    }
    UTF8Matcher(const UTF8Matcher&) = delete;
    UTF8Matcher& operator=(const UTF8Matcher&) = delete;

    bool find() {
        if (!m_matcher) return false;
        UErrorCode status = U_ZERO_ERROR;
        return m_matcher->find(status) && U_SUCCESS(status);
    }

    TextMatchAt current() const {
        TextMatchAt found;
        UErrorCode status = U_ZERO_ERROR;
        found.start = static_cast<size_t>(m_matcher->start64(status));
        found.end = static_cast<size_t>(m_matcher->end64(status));
        for (int32_t group = 0; group <= m_matcher->groupCount(); ++group) {
            UErrorCode groupStatus = U_ZERO_ERROR;
            const int64_t start = m_matcher->start64(group, groupStatus);
            const int64_t end = m_matcher->end64(group, groupStatus);
            if (U_FAILURE(groupStatus) || start < 0) {
                found.match.m_groups.push_back(std::nullopt);
                continue;
            }
            found.match.m_groups.push_back(
                std::string(m_text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start))));
        }
        return found;
    }

  private:
    std::string_view m_text;
    UText* m_utext = nullptr;
    std::unique_ptr<icu::RegexMatcher> m_matcher;
};

} // namespace

std::optional<std::string> TextMatch::group(size_t index) const {
    if (index >= m_groups.size()) return std::nullopt;
    return m_groups[index];
}

TextPattern::TextPattern(std::string_view pattern) {
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    m_pattern.reset(icu::RegexPattern::compile(unicode(pattern), 0, parseError, status));
    if (U_FAILURE(status)) throw std::invalid_argument("Invalid pattern: " + std::string(pattern));
}

TextPattern::~TextPattern() = default;
TextPattern::TextPattern(TextPattern&&) noexcept = default;

std::vector<TextMatchAt> TextPattern::allMatchesWithOffsets(std::string_view text) const {
    UTF8Matcher matcher(*m_pattern, text);
    std::vector<TextMatchAt> out;
    while (matcher.find())
        out.push_back(matcher.current());
    return out;
}

std::vector<TextMatch> TextPattern::allMatches(std::string_view text) const {
    std::vector<TextMatch> out;
    for (auto& found : allMatchesWithOffsets(text))
        out.push_back(std::move(found.match));
    return out;
}

std::optional<TextMatch> TextPattern::firstMatch(std::string_view text) const {
    UTF8Matcher matcher(*m_pattern, text);
    if (!matcher.find()) return std::nullopt;
    return matcher.current().match;
}

std::vector<std::string> splitJSONLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at = text.find_first_of("\r\n"); at != std::string_view::npos;
         at = text.find_first_of("\r\n", start)) {
        lines.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    int32_t index = 0;
    while (index < length) {
        const int32_t here = index;
        UChar32 c;
        U8_NEXT(bytes, index, length, c);
        if ((c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029) {
            lines.emplace_back(text.substr(static_cast<size_t>(start), static_cast<size_t>(here - start)));
            start = index;
        }
    }
    lines.emplace_back(text.substr(static_cast<size_t>(start)));
    return lines;
}

} // namespace kestro
