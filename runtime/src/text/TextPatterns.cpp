#include "text/TextPatterns.h"

#include <stdexcept>
#include <unicode/regex.h>
#include <unicode/utf8.h>

namespace kestro {

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::vector<std::optional<std::string>> groupsOf(icu::RegexMatcher& matcher) {
    std::vector<std::optional<std::string>> groups;
    for (int32_t group = 0; group <= matcher.groupCount(); ++group) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t start = matcher.start(group, status);
        if (U_FAILURE(status) || start < 0) {
            groups.push_back(std::nullopt);
            continue;
        }
        std::string value;
        matcher.group(group, status).toUTF8String(value);
        groups.push_back(std::move(value));
    }
    return groups;
}

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

std::vector<TextMatch> TextPattern::allMatches(std::string_view text) const {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input = unicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(m_pattern->matcher(input, status));
    std::vector<TextMatch> out;
    if (U_FAILURE(status)) return out;
    while (matcher->find(status) && U_SUCCESS(status)) {
        TextMatch match;
        match.m_groups = groupsOf(*matcher);
        out.push_back(std::move(match));
    }
    return out;
}

std::optional<TextMatch> TextPattern::firstMatch(std::string_view text) const {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input = unicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(m_pattern->matcher(input, status));
    if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) return std::nullopt;
    TextMatch match;
    match.m_groups = groupsOf(*matcher);
    return match;
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
