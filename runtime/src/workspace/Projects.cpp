#include "workspace/Projects.h"

#include "core/CodexHome.h"
#include "core/WorkingDirectory.h"
#include "platform/FileChecks.h"
#include "platform/FileReading.h"
#include "text/Numbers.h"
#include "text/Text.h"
#include "text/TextCollation.h"
#include "text/TextPatterns.h"
#include "text/TimeText.h"
#include "workspace/StateDatabase.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kestro {

const char* const kRecentProjectsQuery = R"sql(SELECT
    cwd,
    MAX(COALESCE(updated_at_ms, updated_at * 1000)) AS last_used_ms,
    COUNT(*) AS thread_count,
    (
        SELECT SUBSTR(REPLACE(REPLACE(title, char(9), ' '), char(10), ' '), 1, 240)
        FROM threads t2
        WHERE t2.cwd = t.cwd
          AND t2.archived = 0
        ORDER BY COALESCE(updated_at_ms, updated_at * 1000) DESC
        LIMIT 1
    ) AS last_title
FROM threads t
WHERE archived = 0
GROUP BY cwd
ORDER BY last_used_ms DESC
LIMIT 80;)sql";

namespace {

std::string normalizedOrSelf(const std::string& path) {
    return normalizedKestroPath(path).value_or(path);
}

std::string lastComponent(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    return name.empty() ? path : name;
}

std::string parentPathText(const std::string& path, const std::string& home) {
    std::string parent = fs::path(path).parent_path().string();
    if (home.empty()) return parent;
    if (parent == home) return "~";
    // Only a whole leading folder is the home: /home/me2 is not inside /home/me.
    if (!startsWith(parent, home == "/" ? home : home + "/")) return parent;
    std::string shortened = "~";
    shortened.append(parent, home == "/" ? 0 : home.size());
    return shortened;
}

long long sortSeconds(const std::optional<std::string>& text) {
    if (!text) return LLONG_MIN;
    const auto time = parseIsoTimeText(*text);
    if (!time) return LLONG_MIN;
    return std::chrono::duration_cast<std::chrono::seconds>(time->time_since_epoch()).count();
}

} // namespace

std::vector<CodexProjectRecord> configuredProjects(const std::string& home) {
    const auto text = readUTF8File(codexHome(home).configFile, kCodexConfigFileCap);
    if (!text) return {};
    static const TextPattern kHeader(R"re((?m)^\[projects\."(.+)"\]$)re");
    std::vector<CodexProjectRecord> records;
    for (const auto& match : kHeader.allMatches(*text)) {
        const auto path = normalizedKestroPath(match.group(1));
        if (!path) continue;
        records.push_back({.path = *path, .source = "Configured"});
    }
    return records;
}

std::vector<CodexProjectRecord> parseRecentProjectRows(const std::string& output) {
    std::vector<CodexProjectRecord> records;
    for (const auto& rawLine : splitLines(output)) {
        const std::string line = trimmed(rawLine);
        if (line.empty()) continue;
        const std::vector<std::string> fields = splitOn(line, "\t");
        if (fields.size() < 3) continue;
        const auto path = normalizedKestroPath(fields[0]);
        if (!path) continue;
        CodexProjectRecord record{.path = *path, .source = "Recent"};
        if (const auto milliseconds = parseNumber(fields[1]))
            record.lastUsedAt = timeFromMilliseconds(*milliseconds);
        record.threadCount = parseInteger(fields[2]).value_or(0);
        if (fields.size() > 3) {
            const std::string title = trimmed(fields[3]);
            if (!title.empty()) record.lastThreadTitle = title;
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<CodexProjectRecord> recentProjects(const std::string& home, const SystemTools& tools) {
    const std::string database = codexHome(home).stateDatabase;
    if (!pathExists(database) || !isExecutableFile(tools.sqlite3)) return {};
    return parseRecentProjectRows(queryStateDatabase(database, kRecentProjectsQuery, tools));
}

std::vector<KestroAgentProjectPayload>
mergedProjectPayloads(const std::vector<CodexProjectRecord>& configured,
                      const std::vector<CodexProjectRecord>& recent,
                      const std::string& currentWorkingDirectory, const std::string& home) {
    std::map<std::string, CodexProjectRecord> merged;
    for (auto record : configured) {
        record.path = normalizedOrSelf(record.path);
        merged[record.path] = record;
    }
    for (auto record : recent) {
        const std::string key = normalizedOrSelf(record.path);
        const auto found = merged.find(key);
        if (found == merged.end()) {
            record.path = key;
            merged[key] = record;
            continue;
        }
        CodexProjectRecord& existing = found->second;
        existing.source = existing.source == "Configured" ? "Configured + Recent" : record.source;
        existing.threadCount = std::max(existing.threadCount, record.threadCount);
        if (existing.lastUsedAt && record.lastUsedAt)
            existing.lastUsedAt = std::max(*existing.lastUsedAt, *record.lastUsedAt);
        else if (!existing.lastUsedAt)
            existing.lastUsedAt = record.lastUsedAt;
        if (!existing.lastThreadTitle) existing.lastThreadTitle = record.lastThreadTitle;
    }
    const std::string current =
        normalizedKestroPath(currentWorkingDirectory).value_or(trimmed(currentWorkingDirectory));
    if (!current.empty() && !merged.count(current)) merged[current] = {.path = current, .source = "Current"};
    // $HOME may end in a slash or pass through a link; the paths compared with it are normalized.
    const std::string normalizedHome = normalizedKestroPath(home).value_or(home);
    merged.erase(normalizedHome);

    std::vector<KestroAgentProjectPayload> payloads;
    for (const auto& [path, record] : merged) {
        payloads.push_back(
            {.path = path,
             .displayName = lastComponent(path),
             .parentPath = parentPathText(path, normalizedHome),
             .source = record.source,
             .threadCount = record.threadCount,
             .lastUsedAt = record.lastUsedAt ? std::optional(isoTimeText(*record.lastUsedAt)) : std::nullopt,
             .lastThreadTitle = record.lastThreadTitle,
             .existsOnDisk = pathExists(path),
             .isCurrentWorkingDirectory = path == current});
    }
    std::sort(payloads.begin(), payloads.end(), [](const auto& left, const auto& right) {
        if (left.isCurrentWorkingDirectory != right.isCurrentWorkingDirectory)
            return left.isCurrentWorkingDirectory;
        const long long leftTime = sortSeconds(left.lastUsedAt), rightTime = sortSeconds(right.lastUsedAt);
        if (leftTime != rightTime) return leftTime > rightTime;
        if (left.threadCount != right.threadCount) return left.threadCount > right.threadCount;
        return compareForDisplay(left.displayName, right.displayName) < 0;
    });
    std::vector<KestroAgentProjectPayload> kept;
    std::vector<std::string> keptNames;
    for (auto& payload : payloads) {
        const std::string name = lowercased(payload.displayName);
        if (std::find(keptNames.begin(), keptNames.end(), name) != keptNames.end()) continue;
        keptNames.push_back(name);
        kept.push_back(std::move(payload));
    }
    return kept;
}

std::vector<KestroAgentProjectPayload> detectProjects(const std::string& currentWorkingDirectory,
                                                      const std::string& home, const SystemTools& tools) {
    return mergedProjectPayloads(configuredProjects(home), recentProjects(home, tools),
                                 currentWorkingDirectory, home);
}

} // namespace kestro
