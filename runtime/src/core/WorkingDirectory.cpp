#include "core/WorkingDirectory.h"

#include "platform/FileChecks.h"
#include "platform/Host.h"
#include "text/Text.h"

#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kestro {

namespace {

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string standardized(const fs::path& path) {
    return withoutTrailingSlash(path.lexically_normal().string());
}

std::optional<std::string> homeOfUser(const std::string& user) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* result = nullptr;
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr ||
        result->pw_dir == nullptr)
        return std::nullopt;
    return std::string(result->pw_dir);
}

std::string expandedTilde(const std::string& path, const std::string& home) {
    if (path.empty() || path.front() != '~') return path;
    const size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::string rest = slash == std::string::npos ? "" : path.substr(slash);
    if (user.empty()) return home + rest;
    if (auto userHome = homeOfUser(user)) return *userHome + rest;
    return path;
}

void appendDesktopFolders(const fs::path& directory, std::vector<std::string>& candidates) {
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    if (error) return;
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        std::error_code kindError;
        if (!entry.is_directory(kindError) || kindError) continue;
        if (startsWith(lowercased(name), "desktop - ")) candidates.push_back(entry.path().string());
    }
}

} // namespace

std::vector<std::string> currentDesktopPathCandidates(const std::string& home) {
    const fs::path desktop = fs::path(home) / "Desktop";
    std::vector<std::string> candidates{desktop.string()};
    appendDesktopFolders(desktop, candidates);
    appendDesktopFolders(home, candidates);
    return candidates;
}

std::optional<std::string> repairedDesktopPathIfPossible(const std::optional<std::string>& path,
                                                         const std::string& home) {
    if (!path) return std::nullopt;
    if (pathExists(*path)) return path;
    std::vector<std::string> components;
    for (const auto& part : fs::path(*path)) {
        const std::string text = part.string();
        if (text != "/" && !text.empty()) components.push_back(text);
    }
    size_t desktopIndex = 0;
    while (desktopIndex < components.size() && lowercased(components[desktopIndex]) != "desktop")
        ++desktopIndex;
    if (desktopIndex + 1 >= components.size()) return path;
    fs::path remainder;
    for (size_t i = desktopIndex + 1; i < components.size(); ++i)
        remainder /= components[i];
    for (const auto& candidate : currentDesktopPathCandidates(home)) {
        const std::string repaired = standardized(fs::path(candidate) / remainder);
        if (pathExists(repaired)) return repaired;
    }
    return path;
}

std::optional<std::string> normalizedKestroPath(const std::optional<std::string>& path,
                                                const std::string& home) {
    if (!path) return std::nullopt;
    const std::string text = trimmed(*path);
    if (text.empty()) return std::nullopt;
    fs::path absolute = expandedTilde(text, home);
    if (absolute.is_relative()) absolute = fs::path(currentDirectory()) / absolute;
    // Resolves links along the existing prefix; the missing rest stays as written.
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(absolute, error);
    if (error) resolved = absolute;
    const std::string result = standardized(resolved);
    return repairedDesktopPathIfPossible(result, home).value_or(result);
}

std::optional<std::string> normalizedKestroPath(const std::optional<std::string>& path) {
    return normalizedKestroPath(path, homeDirectory());
}

std::string resolvedWorkingDirectory(const std::optional<std::string>& requested,
                                     const std::string& defaultDirectory) {
    if (auto path = normalizedKestroPath(requested)) return *path;
    if (auto path = normalizedKestroPath(defaultDirectory)) return *path;
    return defaultDirectory;
}

std::optional<std::string> nonEmpty(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}

} // namespace kestro
