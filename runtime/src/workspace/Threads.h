#pragma once
// Recent Codex threads from the state database and one thread's transcript from its session log.
// Reads only; never fails (problems give empty lists).

#include "core/WireRecords.h"
#include "platform/SystemTools.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct CodexThreadRecord {
    std::string id;
    std::string cwd;
    std::string title;
    std::optional<std::string> firstUserMessage;
    std::optional<std::chrono::system_clock::time_point> updatedAt;
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;
    std::optional<std::string> sandboxPolicy;
    std::optional<std::string> approvalMode;
    std::optional<std::string> gitBranch;
    bool operator==(const CodexThreadRecord&) const = default;
};

struct CodexTranscriptMessageRecord {
    std::string role;
    std::string text;
    std::optional<std::chrono::system_clock::time_point> timestamp;
};

extern const char* const kRecentThreadsQuery;
inline constexpr size_t kTranscriptMessageLimit = 40;
// A session log is read from its tail, at most this much: the newest messages are the ones shown,
// and a long session's log (whole command outputs) can grow far beyond what a phone is sent.
inline constexpr size_t kSessionTranscriptCap = 16 << 20;

std::optional<CodexThreadRecord> parseThreadRow(const std::string& line);
std::vector<CodexThreadRecord> recentThreads(const std::string& home, const SystemTools& tools);
std::vector<KestroAgentThreadPayload> threadPayloads(const std::vector<CodexThreadRecord>& records,
                                                     const std::string& currentWorkingDirectory);
std::vector<KestroAgentThreadPayload> detectThreads(const std::string& currentWorkingDirectory,
                                                    const std::string& home, const SystemTools& tools);

// Title: single line, no leading "#" marks, at most 56 user-perceived characters.
std::string normalizedThreadTitle(const std::string& title,
                                  const std::optional<std::string>& firstUserMessage,
                                  const std::string& fallbackProjectName);
// Preview: single line, at most 72 characters; absent when empty or equal to `excluding`.
std::optional<std::string> normalizedPreview(const std::optional<std::string>& source,
                                             const std::string& excluding);
// Line breaks and runs of white space become single spaces; trimmed.
std::string normalizedSingleLineText(const std::optional<std::string>& text);

std::optional<std::string> sessionFilePath(const std::string& threadID, const std::string& home);
std::vector<CodexTranscriptMessageRecord> parseSessionTranscript(const std::string& logText);
std::vector<CodexTranscriptMessageRecord> sessionTranscriptMessages(const std::string& threadID,
                                                                    const std::string& home);
KestroAgentThreadHistoryPayload threadHistoryPayload(const std::string& threadID, const std::string& home);

} // namespace kestro
