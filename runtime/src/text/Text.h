#pragma once
// Text hygiene shared by the whole runtime: Unicode-aware trimming, lossy UTF-8
// decoding and case mapping. Pure functions; safe on any thread.

#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// Removes Unicode white space and line breaks from both ends.
std::string trimmed(std::string_view text);

bool isValidUTF8(std::string_view bytes);

// Returns the bytes as valid UTF-8; invalid sequences become U+FFFD.
std::string decodeUTF8Lossy(std::string_view bytes);

// `text` safe to print on a terminal or into a line-based reader: every control character (C0,
// DEL, C1, the line and paragraph separators) is written as a visible escape ("\n", "\u001b",
// "\u009b") and every byte that is not UTF-8 as "\xHH"; everything else is kept as it is.
std::string escapedControlCharacters(std::string_view text);

// The same escapes inside double quotes, with quotes and backslashes escaped too: a value in a
// message, told apart from the sentence around it.
std::string quotedForMessage(std::string_view text);

// `text` without its control characters (as above) and without bytes that are not UTF-8.
std::string withoutControlCharacters(std::string_view text);

// Full Unicode lower-casing (root locale).
std::string lowercased(std::string_view text);

// True when `text` contains `needle` under a case-insensitive comparison.
bool containsCaseInsensitive(std::string_view text, std::string_view needle);

// Splits at every occurrence of `separator`, keeping empty pieces.
std::vector<std::string> splitOn(std::string_view text, std::string_view separator);

// Replaces every occurrence of `from` by `to`.
std::string replacingAll(std::string_view text, std::string_view from, std::string_view to);

bool startsWith(std::string_view text, std::string_view prefix);

// Number of user-perceived characters (grapheme clusters).
size_t graphemeCount(std::string_view text);
// The first `count` user-perceived characters.
std::string graphemePrefix(std::string_view text, size_t count);

// First letter upper case, the other letters lower case ("gITHUB" gives "Github").
std::string capitalizedWord(std::string_view word);

// Every white-space separated word capitalized; the separators are kept.
std::string capitalizedWords(std::string_view text);

} // namespace kestro
