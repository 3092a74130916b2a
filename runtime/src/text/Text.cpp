#include "text/Text.h"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace kestro {

namespace {

bool isSpaceOrLineBreak(UChar32 c) {
    return c >= 0 && u_isUWhiteSpace(c);
}

// What a terminal acts on rather than shows, and what a reader of lines may split at.
bool isControlCharacter(UChar32 c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Calls `character` with each character's bytes and code point, the code point negative for a
// byte that is not UTF-8 (one call per such byte).
template <typename Visit> void forEachCharacter(std::string_view text, Visit character) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t index = 0;
    while (index < length) {
        const int32_t start = index;
        UChar32 c;
        U8_NEXT(bytes, index, length, c);
        if (c < 0) index = start + 1;
        character(text.substr(static_cast<size_t>(start), static_cast<size_t>(index - start)), c);
    }
}

std::string escaped(std::string_view text, bool quoting) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    forEachCharacter(text, [&](std::string_view piece, UChar32 c) {
        if (c < 0) {
            const auto byte = static_cast<unsigned char>(piece.front());
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else if (quoting && (c == '"' || c == '\\')) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (!isControlCharacter(c)) {
            out += piece;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(c >> shift) & 0x0F];
        }
    });
    return out;
}

} // namespace

std::string trimmed(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (!isSpaceOrLineBreak(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (!isSpaceOrLineBreak(c)) break;
        end = previous;
    }
    return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

bool isValidUTF8(std::string_view bytes) {
    bool valid = true;
    forEachCharacter(bytes, [&](std::string_view, UChar32 c) { valid = valid && c >= 0; });
    return valid;
}

std::string decodeUTF8Lossy(std::string_view bytes) {
    std::string out;
    icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(), static_cast<int32_t>(bytes.size())))
        .toUTF8String(out);
    return out;
}

std::string escapedControlCharacters(std::string_view text) {
    return escaped(text, false);
}

std::string quotedForMessage(std::string_view text) {
    std::string quoted(1, '"');
    quoted.append(escaped(text, true)).push_back('"');
    return quoted;
}

std::string withoutControlCharacters(std::string_view text) {
    std::string out;
    forEachCharacter(text, [&](std::string_view piece, UChar32 c) {
        if (c >= 0 && !isControlCharacter(c)) out += piece;
    });
    return out;
}

std::string lowercased(std::string_view text) {
    std::string out;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(out);
    return out;
}

bool containsCaseInsensitive(std::string_view text, std::string_view needle) {
    auto folded = [](std::string_view s) {
        return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())))
            .foldCase();
    };
    return folded(text).indexOf(folded(needle)) >= 0;
}

std::vector<std::string> splitOn(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (true) {
        const size_t found = text.find(separator, start);
        if (found == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, found - start));
        start = found + separator.size();
    }
}

std::string replacingAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t found = from.empty() ? std::string_view::npos : text.find(from, start);
        if (found == std::string_view::npos) {
            out.append(text.substr(start));
            return out;
        }
        out.append(text.substr(start, found - start)).append(to);
        start = found + from.size();
    }
}

namespace {

// Byte offsets in `text` where each user-perceived character ends, at most `limit` of them.
std::vector<size_t> graphemeEnds(std::string_view text, size_t limit) {
    std::vector<size_t> ends;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_SUCCESS(status)) {
        iterator->setText(utext, status);
        for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE && ends.size() < limit;
             end = iterator->next())
            ends.push_back(static_cast<size_t>(end));
    }
    utext_close(utext);
    return ends;
}

} // namespace

size_t graphemeCount(std::string_view text) {
    return graphemeEnds(text, SIZE_MAX).size();
}

std::string graphemePrefix(std::string_view text, size_t count) {
    if (count == 0) return "";
    const auto ends = graphemeEnds(text, count);
    if (ends.size() < count) return std::string(text);
    return std::string(text.substr(0, ends.back()));
}

std::string capitalizedWord(std::string_view word) {
    icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(word.data(), static_cast<int32_t>(word.size())));
    if (text.isEmpty()) return "";
    const int32_t firstLength = U16_LENGTH(text.char32At(0));
    icu::UnicodeString first(text, 0, firstLength);
    icu::UnicodeString rest(text, firstLength);
    std::string out;
    first.toUpper(icu::Locale::getRoot()).append(rest.toLower(icu::Locale::getRoot())).toUTF8String(out);
    return out;
}

std::string capitalizedWords(std::string_view text) {
    std::string out;
    std::string word;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t index = 0;
    while (index < length) {
        const int32_t start = index;
        UChar32 c;
        U8_NEXT(bytes, index, length, c);
        const std::string_view piece =
            text.substr(static_cast<size_t>(start), static_cast<size_t>(index - start));
        if (isSpaceOrLineBreak(c)) {
            out += capitalizedWord(word) + std::string(piece);
            word.clear();
        } else {
            word += piece;
        }
    }
    return out + capitalizedWord(word);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace kestro
