#include "status/UsageSnapshot.h"

#include "platform/FileReading.h"
#include "text/Text.h"
#include "text/TextPatterns.h"
#include "text/TimeText.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace kestro {

namespace {

const json* objectMember(const json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_object()) return nullptr;
    return &*found;
}

// A number, or a text that reads wholly as a finite number (the current CLI writes the balance so).
std::optional<double> numberOrNumericText(const json& value) {
    if (value.is_number()) return value.get<double>();
    if (!value.is_string()) return std::nullopt;
    const std::string text = trimmed(value.get<std::string>());
    if (text.empty()) return std::nullopt;
    try {
        size_t used = 0;
        const double number = std::stod(text, &used);
        if (used == text.size() && std::isfinite(number)) return number;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// Codex's time stamps carry milliseconds; what we write keeps whole seconds.
std::string wholeSecondsTimeText(const std::string& text) {
    static const TextPattern kFraction(R"re(^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})\.\d+Z$)re");
    if (auto match = kFraction.firstMatch(text)) return *match->group(1) + "Z";
    return text;
}

KestroAgentUsageSnapshotPayload snapshotFrom(const json& line, const json& rateLimits, const std::string& authMode) {
    KestroAgentUsageSnapshotPayload snapshot;
    std::optional<std::string> planType;
    if (const auto plan = rateLimits.find("plan_type"); plan != rateLimits.end() && plan->is_string())
        planType = trimmed(plan->get<std::string>());
    snapshot.planLabel = normalizedPlanLabel(planType, authMode);
    snapshot.authMode = authMode;
    snapshot.primary = decodeRateLimitWindow(objectMember(rateLimits, "primary"));
    snapshot.secondary = decodeRateLimitWindow(objectMember(rateLimits, "secondary"));
    if (const json* credits = objectMember(rateLimits, "credits")) {
        if (auto has = credits->find("has_credits"); has != credits->end() && has->is_boolean()) snapshot.hasCredits = *has;
        if (auto unlimited = credits->find("unlimited"); unlimited != credits->end() && unlimited->is_boolean())
            snapshot.creditsUnlimited = *unlimited;
        if (auto balance = credits->find("balance"); balance != credits->end())
            snapshot.creditsBalance = numberOrNumericText(*balance);
    }
    if (auto timestamp = line.find("timestamp"); timestamp != line.end() && timestamp->is_string())
        snapshot.capturedAt = wholeSecondsTimeText(timestamp->get<std::string>());
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
    std::stable_sort(files.begin(), files.end(), [](const auto& left, const auto& right) { return left.first > right.first; });
    std::vector<std::string> out;
    for (size_t i = 0; i < files.size() && i < limit; ++i) out.push_back(files[i].second);
    return out;
}

std::vector<std::string> recentJSONLLines(const std::string& path, size_t maxBytes, size_t maxLines) {
    const auto tail = readFileTail(path, maxBytes);
    if (!tail || tail->bytes.empty()) return {};
    std::string text = decodeUTF8Lossy(tail->bytes);
    if (tail->startsInside) {
        const size_t newline = text.find('\n');
        if (newline == std::string::npos) return {};
        text.erase(0, newline + 1);
    }
    std::vector<std::string> lines;
    for (const auto& piece : splitLines(text)) {
        std::string line = trimmed(piece);
        if (!line.empty()) lines.push_back(std::move(line));
    }
    if (lines.size() > maxLines) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(maxLines));
    return lines;
}

std::optional<KestroAgentRateLimitWindowPayload> decodeRateLimitWindow(const json* window) {
    if (window == nullptr || !window->is_object()) return std::nullopt;
    KestroAgentRateLimitWindowPayload payload;
    if (auto used = window->find("used_percent"); used != window->end() && used->is_number()) payload.usedPercent = *used;
    if (auto minutes = window->find("window_minutes"); minutes != window->end() && minutes->is_number_integer())
        payload.windowMinutes = minutes->get<int64_t>();
    if (auto resets = window->find("resets_at"); resets != window->end() && resets->is_number()) {
        const double seconds = resets->get<double>();
        if (std::isfinite(seconds) && std::abs(seconds) < 1e13)
            payload.resetsAt = isoTimeText(std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds))));
    }
    return payload;
}

std::string normalizedPlanLabel(const std::optional<std::string>& planType, const std::string& authMode) {
    if (planType && !planType->empty()) return capitalizedWords(*planType);
    return lowercased(authMode) == "chatgpt" ? "Personal account" : "Local account";
}

std::optional<KestroAgentUsageSnapshotPayload> detectUsageSnapshot(const std::string& home, const std::string& authMode) {
    for (const auto& file : recentSessionFiles(home + "/.codex/sessions", kUsageSessionFiles)) {
        const auto lines = recentJSONLLines(file, kUsageTailBytes, kUsageTailLines);
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->find("\"rate_limits\"") == std::string::npos || line->find("\"payload\"") == std::string::npos ||
                line->find("\"info\"") == std::string::npos)
                continue;
            const json document = json::parse(*line, nullptr, false);
            if (document.is_discarded() || !document.is_object()) continue;
            const json* payload = objectMember(document, "payload");
            if (payload == nullptr) continue;
            // Older CLIs nest the record in payload.info; current ones put it beside info.
            const json* info = objectMember(*payload, "info");
            const json* rateLimits = info != nullptr ? objectMember(*info, "rate_limits") : nullptr;
            if (rateLimits == nullptr) rateLimits = objectMember(*payload, "rate_limits");
            if (rateLimits == nullptr) continue;
            return snapshotFrom(document, *rateLimits, authMode);
        }
    }
    return std::nullopt;
}

} // namespace kestro
