#pragma once
// The account's rate-limit state, read from the tails of Codex's newest session logs.

#include "core/WireRecords.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

inline constexpr size_t kUsageSessionFiles = 12;
inline constexpr size_t kUsageTailBytes = 131072;
inline constexpr size_t kUsageTailLines = 120;

// Searches home/.codex/sessions; absent when no line qualifies.
std::optional<KestroAgentUsageSnapshotPayload> detectUsageSnapshot(const std::string& home,
                                                                   const std::string& authMode);

// The snapshot one session-log line carries (a token count with rate limits), if any.
std::optional<KestroAgentUsageSnapshotPayload> usageSnapshotFromLine(const std::string& line,
                                                                     const std::string& authMode);

// Up to `limit` *.jsonl regular files below `root` (hidden entries skipped), newest first.
std::vector<std::string> recentSessionFiles(const std::string& root, size_t limit);

// The last non-empty, trimmed lines of the file's last `maxBytes` bytes; a line cut by the
// start of the read is dropped.
std::vector<std::string> recentJSONLLines(const std::string& path, size_t maxBytes, size_t maxLines);

// A window from its JSON object's text; absent when the text is not a JSON object.
std::optional<KestroAgentRateLimitWindowPayload> decodeRateLimitWindow(std::string_view windowJSON);

// The plan name with each word capitalized, else "Personal account" / "Local account".
std::string normalizedPlanLabel(const std::optional<std::string>& planType, const std::string& authMode);

} // namespace kestro
