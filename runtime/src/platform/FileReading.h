#pragma once
// Reading files of the Codex home: whole, or only their tail. Never throws; a file that cannot
// be read gives nothing, and so does anything but a regular file (a FIFO or a device would hold
// the reader for ever). Descriptors are closed on every path.

#include <cstddef>
#include <optional>
#include <string>

namespace kestro {

std::optional<std::string> readWholeFile(const std::string& path);

// The file's text when it is valid UTF-8.
std::optional<std::string> readUTF8File(const std::string& path);

// The last `maxBytes` bytes (the whole file when it is shorter), and whether the read started
// after the file's first byte.
struct FileTail {
    std::string bytes;
    bool startsInside = false;
};
std::optional<FileTail> readFileTail(const std::string& path, size_t maxBytes);

} // namespace kestro
