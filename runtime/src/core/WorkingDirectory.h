#pragma once
// Turning directory texts from the phone or from Codex's records into canonical absolute paths,
// with the repair of paths that ran through a Desktop folder that has since moved.
// Stateless: every call looks at the file system afresh. Safe on any thread.

#include <optional>
#include <string>
#include <vector>

namespace kestro {

// Absent or blank in gives absent; otherwise an absolute, symlink-resolved, standardized path.
// `home` is the home directory used for "~" and the Desktop repair.
std::optional<std::string> normalizedKestroPath(const std::optional<std::string>& path);
std::optional<std::string> normalizedKestroPath(const std::optional<std::string>& path,
                                                const std::string& home);

// The same relative path under a current Desktop folder when the given one no longer exists.
std::optional<std::string> repairedDesktopPathIfPossible(const std::optional<std::string>& path,
                                                         const std::string& home);

// home/Desktop, then "Desktop - …" folders inside it, then inside home.
std::vector<std::string> currentDesktopPathCandidates(const std::string& home);

// The directory a request works in: the requested path, else the default, both normalized.
std::string resolvedWorkingDirectory(const std::optional<std::string>& requested,
                                     const std::string& defaultDirectory);

// Empty text gives absent; anything else gives itself.
std::optional<std::string> nonEmpty(const std::string& text);

} // namespace kestro
