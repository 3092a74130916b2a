#pragma once
// Ordering for lists shown to the user: case-insensitive and locale-aware (the user's locale,
// ICU collator at secondary strength). Safe on any thread.

#include <string_view>

namespace kestro {

// Negative, zero or positive as `left` sorts before, with or after `right`.
int compareForDisplay(std::string_view left, std::string_view right);

} // namespace kestro
