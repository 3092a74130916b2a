#pragma once
// The user's Codex projects: declared in config.toml, seen in the thread database, and the folder
// the request is about. Reads only; never fails (a missing source gives fewer entries).

#include "core/WireRecords.h"
#include "platform/SystemTools.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct CodexProjectRecord {
    std::string path;
    std::string source;
    int64_t threadCount = 0;
    std::optional<std::chrono::system_clock::time_point> lastUsedAt;
    std::optional<std::string> lastThreadTitle;
    bool operator==(const CodexProjectRecord&) const = default;
};

extern const char* const kRecentProjectsQuery;

std::vector<CodexProjectRecord> configuredProjects(const std::string& home);
// Rows of the recent-projects query, as sqlite3 prints them with a tab separator.
std::vector<CodexProjectRecord> parseRecentProjectRows(const std::string& output);
std::vector<CodexProjectRecord> recentProjects(const std::string& home, const SystemTools& tools);

// Merges the sources, then orders and de-duplicates the payloads by folder name.
std::vector<KestroAgentProjectPayload>
mergedProjectPayloads(const std::vector<CodexProjectRecord>& configured,
                      const std::vector<CodexProjectRecord>& recent,
                      const std::string& currentWorkingDirectory, const std::string& home);

std::vector<KestroAgentProjectPayload> detectProjects(const std::string& currentWorkingDirectory,
                                                      const std::string& home, const SystemTools& tools);

} // namespace kestro
