#pragma once
// Existence and kind tests on paths. Each looks at the file system afresh and never throws.

#include <string>

namespace kestro {

// Something is at the path: a file, a folder, or a link (even one that leads nowhere).
bool pathExists(const std::string& path);

// A folder is at the path, following links.
bool isDirectory(const std::string& path);

// A regular file, following links, that this process may execute.
bool isExecutableFile(const std::string& path);

} // namespace kestro
