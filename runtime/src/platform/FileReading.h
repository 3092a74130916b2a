#pragma once
// Reading files with a fixed cap on what one read takes, whatever size the file reports (a /proc
// file reports none, and some never end). Never throws; a file that cannot be read gives nothing,
// and so does anything but a regular file (a FIFO or a device would hold the reader for ever).
// Descriptors are closed on every path.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

// The whole file when it holds at most `maxBytes`; nothing when it holds more, so that a cut
// prefix is never taken for the whole (a configuration file over its cap counts as unreadable).
std::optional<std::string> readWholeFile(const std::string& path, size_t maxBytes);

// The same, and only when the text is valid UTF-8.
std::optional<std::string> readUTF8File(const std::string& path, size_t maxBytes);

// The last `maxBytes` bytes (the whole file when it is shorter), and whether they start after the
// file's first byte. Reading starts `maxBytes` before the end the file reports and goes on to its
// real end; a file that goes on for more than `maxBytes` beyond that (it reports no size, or it
// never ends) gives nothing.
struct FileTail {
    std::string bytes;
    bool startsInside = false;
    // The bytes from the first whole line on: when the tail starts inside the file, everything up
    // to and including the first line feed is dropped (empty when there is none).
    std::string_view wholeLines() const;
};
std::optional<FileTail> readFileTail(const std::string& path, size_t maxBytes);

} // namespace kestro
