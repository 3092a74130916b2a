#include "workspace/Threads.h"

#include "core/CodexHome.h"
#include "core/LenientJSON.h"
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
#include <unistd.h>

namespace fs = std::filesystem;

namespace kestro {

const char* const kRecentThreadsQuery =
    "SELECT\n"
    "    id,\n"
    "    cwd,\n"
    "    SUBSTR(REPLACE(REPLACE(title, char(9), ' '), char(10), ' '), 1, 240) AS title,\n"
    "    SUBSTR(REPLACE(REPLACE(first_user_message, char(9), ' '), char(10), ' '), 1, 320) "
    "AS first_user_message,\n"
    "    COALESCE(updated_at_ms, updated_at * 1000) AS last_used_ms,\n"
    "    model,\n"
    "    reasoning_effort,\n"
    "    sandbox_policy,\n"
    "    approval_mode,\n"
    "    git_branch\n"
    "FROM threads\n"
    "WHERE archived = 0\n"
    "ORDER BY last_used_ms DESC\n"
    "LIMIT 48;";

namespace {

std::optional<std::string> presentText(const std::vector<std::string>& pieces, size_t index) {
    if (index >= pieces.size()) return std::nullopt;
    std::string text = trimmed(pieces[index]);
    if (text.empty()) return std::nullopt;
    return text;
}

std::string shortened(const std::string& text, size_t limit) {
    if (graphemeCount(text) <= limit) return text;
    return graphemePrefix(text, limit - 3) + "...";
}

std::string folderName(const std::string& path) {
    return fs::path(path).filename().string();
}

long long sortSeconds(const std::optional<std::string>& text) {
    if (!text) return LLONG_MIN;
    const auto time = parseIsoTimeText(*text);
    if (!time) return LLONG_MIN;
    return std::chrono::duration_cast<std::chrono::seconds>(time->time_since_epoch()).count();
}

// The current CLI logs messages as completed items whose text is in content parts.
std::optional<std::pair<std::string, std::string>> itemMessage(const JSON& payload) {
    JSONMembers payloadMembers(payload);
    const JSON* item = payloadMembers.object("item");
    if (item == nullptr) return std::nullopt;
    JSONMembers itemMembers(*item);
    const auto type = itemMembers.string("type");
    std::string role;
    if (type == "UserMessage")
        role = "user";
    else if (type == "AgentMessage")
        role = "assistant";
    else
        return std::nullopt;
    std::string text;
    if (const JSON* content = itemMembers.array("content"))
        for (const auto& part : *content)
            if (part.is_object())
                if (const auto partText = JSONMembers(part).string("text"))
                    text += (text.empty() ? "" : "\n") + *partText;
    return std::pair(role, text);
}

} // namespace

std::optional<CodexThreadRecord> parseThreadRow(const std::string& line) {
    // Trimming the whole row would drop its empty trailing columns (no time, no model) with the
    // tabs between them: only blank rows go, and each piece is trimmed on its own.
    if (trimmed(line).empty()) return std::nullopt;
    const std::vector<std::string> pieces = splitOn(line, "\t");
    if (pieces.size() < 5) return std::nullopt;
    CodexThreadRecord record;
    record.id = trimmed(pieces[0]);
    const auto cwd = normalizedKestroPath(pieces[1]);
    if (!cwd || record.id.empty()) return std::nullopt;
    record.cwd = *cwd;
    record.title = pieces[2];
    record.firstUserMessage = presentText(pieces, 3);
    if (const auto milliseconds = parseNumber(pieces[4]))
        record.updatedAt = timeFromMilliseconds(*milliseconds);
    record.model = presentText(pieces, 5);
    record.reasoningEffort = presentText(pieces, 6);
    record.sandboxPolicy = presentText(pieces, 7);
    record.approvalMode = presentText(pieces, 8);
    record.gitBranch = presentText(pieces, 9);
    return record;
}

std::vector<CodexThreadRecord> recentThreads(const std::string& home, const SystemTools& tools) {
    const std::string database = codexHome(home).stateDatabase;
    if (!pathExists(database) || !isExecutableFile(tools.sqlite3)) return {};
    std::vector<CodexThreadRecord> records;
    for (const auto& line : splitLines(queryStateDatabase(database, kRecentThreadsQuery, tools)))
        if (auto record = parseThreadRow(line)) records.push_back(std::move(*record));
    return records;
}

std::string normalizedSingleLineText(const std::optional<std::string>& text) {
    if (!text) return "";
    static const TextPattern kSpaces(R"re(\s+)re");
    std::string joined;
    const auto lines = splitLines(*text);
    for (size_t i = 0; i < lines.size(); ++i)
        joined += (i == 0 ? "" : " ") + lines[i];
    std::string single;
    size_t at = 0;
    for (const auto& match : kSpaces.allMatchesWithOffsets(joined)) {
        single += joined.substr(at, match.start - at) + " ";
        at = match.end;
    }
    single += joined.substr(at);
    return trimmed(single);
}

std::string normalizedThreadTitle(const std::string& title,
                                  const std::optional<std::string>& firstUserMessage,
                                  const std::string& fallbackProjectName) {
    std::string candidate = normalizedSingleLineText(title);
    if (candidate.empty()) candidate = normalizedSingleLineText(firstUserMessage);
    if (candidate.empty()) candidate = fallbackProjectName;
    static const TextPattern kHeadingMarks(R"re(^#+\s*)re");
    if (auto marks = kHeadingMarks.allMatchesWithOffsets(candidate); !marks.empty())
        candidate.erase(0, marks[0].end);
    return shortened(trimmed(candidate), 56);
}

std::optional<std::string> normalizedPreview(const std::optional<std::string>& source,
                                             const std::string& excluding) {
    const std::string text = normalizedSingleLineText(source);
    if (text.empty() || text == excluding) return std::nullopt;
    return shortened(text, 72);
}

std::vector<KestroAgentThreadPayload> threadPayloads(const std::vector<CodexThreadRecord>& records,
                                                     const std::string& currentWorkingDirectory) {
    const std::string reference =
        normalizedKestroPath(currentWorkingDirectory).value_or(currentWorkingDirectory);
    std::vector<KestroAgentThreadPayload> payloads;
    for (const auto& record : records) {
        const std::string workingDirectory = normalizedKestroPath(record.cwd).value_or(record.cwd);
        const std::string folder = folderName(workingDirectory);
        KestroAgentThreadPayload payload;
        payload.threadID = record.id;
        payload.workingDirectory = workingDirectory;
        payload.title = normalizedThreadTitle(record.title, record.firstUserMessage, folder);
        payload.preview = normalizedPreview(record.firstUserMessage, payload.title);
        payload.projectName = folder.empty() ? workingDirectory : folder;
        if (record.updatedAt) payload.updatedAt = isoTimeText(*record.updatedAt);
        payload.model = record.model;
        payload.reasoningEffort = record.reasoningEffort;
        payload.sandboxPolicy = record.sandboxPolicy;
        payload.approvalMode = record.approvalMode;
        payload.gitBranch = record.gitBranch;
        payloads.push_back(std::move(payload));
    }
    std::sort(payloads.begin(), payloads.end(), [&reference](const auto& left, const auto& right) {
        const long long leftTime = sortSeconds(left.updatedAt), rightTime = sortSeconds(right.updatedAt);
        if (leftTime != rightTime) return leftTime > rightTime;
        const bool leftHere = left.workingDirectory == reference,
                   rightHere = right.workingDirectory == reference;
        if (leftHere != rightHere) return leftHere;
        return compareForDisplay(left.title, right.title) < 0;
    });
    return payloads;
}

std::vector<KestroAgentThreadPayload> detectThreads(const std::string& currentWorkingDirectory,
                                                    const std::string& home, const SystemTools& tools) {
    return threadPayloads(recentThreads(home, tools), currentWorkingDirectory);
}

std::optional<std::string> sessionFilePath(const std::string& threadID, const std::string& home) {
    // Every file name contains the empty text; a blank identifier names no thread.
    if (trimmed(threadID).empty()) return std::nullopt;
    std::error_code error;
    fs::recursive_directory_iterator walk(codexHome(home).sessionsFolder,
                                          fs::directory_options::skip_permission_denied, error);
    if (error) return std::nullopt;
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (error) return std::nullopt;
        const std::string name = walk->path().filename().string();
        if (!name.empty() && name.front() == '.') {
            if (walk->is_directory(error)) walk.disable_recursion_pending();
            continue;
        }
        if (walk->path().extension() == ".jsonl" && name.find(threadID) != std::string::npos)
            return walk->path().string();
    }
    return std::nullopt;
}

std::vector<CodexTranscriptMessageRecord> parseSessionTranscript(const std::string& logText) {
    std::vector<CodexTranscriptMessageRecord> messages;
    for (const auto& rawLine : splitJSONLines(logText)) {
        const std::string line = trimmed(rawLine);
        if (line.empty()) continue;
        const auto entry = parseJSONObject(line);
        if (!entry) continue;
        JSONMembers members(*entry);
        const auto type = members.string("type");
        const auto timestamp = members.string("timestamp");
        const JSON* payload = members.object("payload");
        if (members.sawWrongType() || type != "event_msg" || payload == nullptr) continue;
        JSONMembers payloadMembers(*payload);
        const auto payloadType = payloadMembers.string("type");
        const auto message = payloadMembers.string("message");
        if (payloadMembers.sawWrongType() || !payloadType) continue;
        std::string role, text;
        if (*payloadType == "user_message" || *payloadType == "agent_message") {
            role = *payloadType == "user_message" ? "user" : "assistant";
            text = normalizedSingleLineText(message);
        } else if (*payloadType == "item_completed") {
            const auto item = itemMessage(*payload);
            if (!item) continue;
            role = item->first;
            text = normalizedSingleLineText(item->second);
        } else {
            continue;
        }
        if (text.empty()) continue;
        messages.push_back({.role = role,
                            .text = text,
                            .timestamp = timestamp ? parseIsoTimeText(*timestamp) : std::nullopt});
    }
    if (messages.size() > kTranscriptMessageLimit)
        messages.erase(messages.begin(),
                       messages.end() - static_cast<std::ptrdiff_t>(kTranscriptMessageLimit));
    return messages;
}

std::vector<CodexTranscriptMessageRecord> sessionTranscriptMessages(const std::string& threadID,
                                                                    const std::string& home) {
    const auto path = sessionFilePath(threadID, home);
    if (!path) return {};
    const auto tail = readFileTail(*path, kSessionTranscriptCap);
    if (!tail) return {};
    const std::string_view lines = tail->wholeLines();
    if (!isValidUTF8(lines)) return {};
    return parseSessionTranscript(std::string(lines));
}

KestroAgentThreadHistoryPayload threadHistoryPayload(const std::string& threadID, const std::string& home) {
    KestroAgentThreadHistoryPayload history{.threadID = threadID, .messages = {}};
    for (const auto& message : sessionTranscriptMessages(threadID, home))
        history.messages.push_back(
            {.role = message.role,
             .text = message.text,
             .timestamp = message.timestamp ? std::optional(isoTimeText(*message.timestamp)) : std::nullopt});
    return history;
}

} // namespace kestro
