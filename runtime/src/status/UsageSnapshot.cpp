#include "status/UsageSnapshot.h"

#include "core/CodexHome.h"
#include "core/LenientJSON.h"
#include "platform/FileReading.h"
#include "text/Numbers.h"
#include "text/Text.h"
#include "text/TextPatterns.h"
#include "text/TimeText.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

namespace kestro {

namespace {

// A number, or a text that reads wholly as a finite number (the current CLI writes the balance so).
std::optional<double> numberOrNumericText(const JSON& value) {
    if (value.is_number()) return value.get<double>();
    if (!value.is_string()) return std::nullopt;
    const std::string text = trimmed(value.get<std::string>());
    if (text.empty()) return std::nullopt;
    const auto number = parseNumber(text);
    if (number && std::isfinite(*number)) return number;
    return std::nullopt;
}

// Codex's time stamps carry milliseconds; what we write keeps whole seconds.
std::string wholeSecondsTimeText(const std::string& text) {
    static const TextPattern kFraction(R"re(^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})\.\d+Z$)re");
    if (auto match = kFraction.firstMatch(text)) return *match->group(1) + "Z";
    return text;
}

std::optional<KestroAgentRateLimitWindowPayload> rateLimitWindow(const JSON* window) {
    if (window == nullptr) return std::nullopt;
    JSONMembers members(*window);
    KestroAgentRateLimitWindowPayload payload;
    payload.usedPercent = members.number("used_percent").value_or(0);
    payload.windowMinutes = members.integer("window_minutes", false).value_or(0);
    if (const auto seconds = members.number("resets_at"))
        if (const auto time = timeFromSeconds(*seconds)) payload.resetsAt = isoTimeText(*time);
    return payload;
}

KestroAgentUsageSnapshotPayload snapshotFrom(const JSON& line, const JSON& rateLimits,
                                             const std::string& authMode) {
    JSONMembers limits(rateLimits);
    KestroAgentUsageSnapshotPayload snapshot;
    std::optional<std::string> planType;
    if (const auto plan = limits.string("plan_type")) planType = trimmed(*plan);
    snapshot.planLabel = normalizedPlanLabel(planType, authMode);
    snapshot.authMode = authMode;
    snapshot.primary = rateLimitWindow(limits.object("primary"));
    snapshot.secondary = rateLimitWindow(limits.object("secondary"));
    if (const JSON* credits = limits.object("credits")) {
        JSONMembers creditMembers(*credits);
        snapshot.hasCredits = creditMembers.boolean("has_credits").value_or(false);
        snapshot.creditsUnlimited = creditMembers.boolean("unlimited").value_or(false);
        if (auto balance = credits->find("balance"); balance != credits->end())
            snapshot.creditsBalance = numberOrNumericText(*balance);
    }
    if (const auto timestamp = JSONMembers(line).string("timestamp"))
        snapshot.capturedAt = wholeSecondsTimeText(*timestamp);
    return snapshot;
}

} // namespace

std::vector<std::string> recentSessionFiles(const std::string& root, size_t limit) {
    std::vector<std::pair<fs::file_time_type, std::string>> files;
    std::error_code error;
    fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied, error);
    if (error) return {};
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (error) break;
        const std::string name = walk->path().filename().string();
        if (!name.empty() && name.front() == '.') {
            if (walk->is_directory(error)) walk.disable_recursion_pending();
            continue;
        }
        if (walk->path().extension() != ".jsonl") continue;
        std::error_code kindError;
        if (!walk->is_regular_file(kindError) || kindError) continue;
        std::error_code timeError;
        fs::file_time_type modified = fs::last_write_time(walk->path(), timeError);
        if (timeError) modified = fs::file_time_type::min();
        files.emplace_back(modified, walk->path().string());
    }
    std::stable_sort(files.begin(), files.end(),
                     [](const auto& left, const auto& right) { return left.first > right.first; });
    std::vector<std::string> out;
    for (size_t i = 0; i < files.size() && i < limit; ++i)
        out.push_back(files[i].second);
    return out;
}

std::vector<std::string> recentJSONLLines(const std::string& path, size_t maxBytes, size_t maxLines) {
    const auto tail = readFileTail(path, maxBytes);
    if (!tail || tail->bytes.empty()) return {};
    const std::string text = decodeUTF8Lossy(tail->wholeLines());
    std::vector<std::string> lines;
    for (const auto& piece : splitJSONLines(text)) {
        std::string line = trimmed(piece);
        if (!line.empty()) lines.push_back(std::move(line));
    }
    if (lines.size() > maxLines)
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(maxLines));
    return lines;
}

std::optional<KestroAgentRateLimitWindowPayload> decodeRateLimitWindow(std::string_view windowJSON) {
    const auto window = parseJSONObject(windowJSON);
    return rateLimitWindow(window ? &*window : nullptr);
}

std::string normalizedPlanLabel(const std::optional<std::string>& planType, const std::string& authMode) {
    if (planType && !planType->empty()) return capitalizedWords(*planType);
    return lowercased(authMode) == "chatgpt" ? "Personal account" : "Local account";
}

std::optional<KestroAgentUsageSnapshotPayload> usageSnapshotFromLine(const std::string& line,
                                                                     const std::string& authMode) {
    if (line.find("\"rate_limits\"") == std::string::npos || line.find("\"payload\"") == std::string::npos ||
        line.find("\"info\"") == std::string::npos)
        return std::nullopt;
    const auto document = parseJSONObject(line);
    if (!document) return std::nullopt;
    const JSON* payload = JSONMembers(*document).object("payload");
    if (payload == nullptr) return std::nullopt;
    // Older CLIs nest the record in payload.info; current ones put it beside info.
    JSONMembers payloadMembers(*payload);
    const JSON* info = payloadMembers.object("info");
    const JSON* rateLimits = info != nullptr ? JSONMembers(*info).object("rate_limits") : nullptr;
    if (rateLimits == nullptr) rateLimits = payloadMembers.object("rate_limits");
    if (rateLimits == nullptr) return std::nullopt;
    return snapshotFrom(*document, *rateLimits, authMode);
}

std::optional<KestroAgentUsageSnapshotPayload> detectUsageSnapshot(const std::string& home,
                                                                   const std::string& authMode) {
    for (const auto& file : recentSessionFiles(codexHome(home).sessionsFolder, kUsageSessionFiles)) {
        const auto lines = recentJSONLLines(file, kUsageTailBytes, kUsageTailLines);
        for (auto line = lines.rbegin(); line != lines.rend(); ++line)
            if (auto snapshot = usageSnapshotFromLine(*line, authMode)) return snapshot;
    }
    return std::nullopt;
}

} // namespace kestro
