#pragma once
// The JSON records that cross the HTTP interface. Each record lists its members once, in wire
// order, in visitFields; encodeRecord / decodeRecord (WireRecords.cpp) do the rest.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

#define KESTRO_FIELD(name) visit(#name, self.name)

// Request bodies.

struct KestroAgentStatusRequest {
    std::optional<std::string> workingDirectory;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(workingDirectory);
    }
    bool operator==(const KestroAgentStatusRequest&) const = default;
};

struct KestroAgentThreadHistoryRequest {
    std::string threadID;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(threadID);
    }
    bool operator==(const KestroAgentThreadHistoryRequest&) const = default;
};

struct KestroAgentSurfacePreviewRequest {
    std::string kind;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(kind);
    }
    bool operator==(const KestroAgentSurfacePreviewRequest&) const = default;
};

struct KestroAgentWorktreeRequest {
    std::optional<std::string> workingDirectory;
    std::string name;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(workingDirectory);
        KESTRO_FIELD(name);
    }
    bool operator==(const KestroAgentWorktreeRequest&) const = default;
};

struct KestroAgentRunRequest {
    std::string prompt;
    std::optional<std::string> preferredModel;
    std::optional<std::string> workingDirectory;
    std::optional<std::string> runner;
    std::optional<std::string> threadID;
    bool resumeExistingSession = false;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(prompt);
        KESTRO_FIELD(preferredModel);
        KESTRO_FIELD(workingDirectory);
        KESTRO_FIELD(runner);
        KESTRO_FIELD(threadID);
        KESTRO_FIELD(resumeExistingSession);
    }
    bool operator==(const KestroAgentRunRequest&) const = default;
};

// Answers.

struct KestroAgentSkillPayload {
    std::string name;
    std::string description;
    std::string source;
    std::string path;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(name);
        KESTRO_FIELD(description);
        KESTRO_FIELD(source);
        KESTRO_FIELD(path);
    }
    bool operator==(const KestroAgentSkillPayload&) const = default;
};

struct KestroAgentPluginPayload {
    std::string identifier;
    std::string displayName;
    std::string source;
    std::string category;
    std::string description;
    bool isEnabled = false;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(identifier);
        KESTRO_FIELD(displayName);
        KESTRO_FIELD(source);
        KESTRO_FIELD(category);
        KESTRO_FIELD(description);
        KESTRO_FIELD(isEnabled);
    }
    bool operator==(const KestroAgentPluginPayload&) const = default;
};

struct KestroAgentProjectPayload {
    std::string path;
    std::string displayName;
    std::string parentPath;
    std::string source;
    int64_t threadCount = 0;
    std::optional<std::string> lastUsedAt;
    std::optional<std::string> lastThreadTitle;
    bool existsOnDisk = false;
    bool isCurrentWorkingDirectory = false;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(path);
        KESTRO_FIELD(displayName);
        KESTRO_FIELD(parentPath);
        KESTRO_FIELD(source);
        KESTRO_FIELD(threadCount);
        KESTRO_FIELD(lastUsedAt);
        KESTRO_FIELD(lastThreadTitle);
        KESTRO_FIELD(existsOnDisk);
        KESTRO_FIELD(isCurrentWorkingDirectory);
    }
    bool operator==(const KestroAgentProjectPayload&) const = default;
};

struct KestroAgentThreadPayload {
    std::string threadID;
    std::string title;
    std::optional<std::string> preview;
    std::string workingDirectory;
    std::string projectName;
    std::optional<std::string> updatedAt;
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;
    std::optional<std::string> sandboxPolicy;
    std::optional<std::string> approvalMode;
    std::optional<std::string> gitBranch;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(threadID);
        KESTRO_FIELD(title);
        KESTRO_FIELD(preview);
        KESTRO_FIELD(workingDirectory);
        KESTRO_FIELD(projectName);
        KESTRO_FIELD(updatedAt);
        KESTRO_FIELD(model);
        KESTRO_FIELD(reasoningEffort);
        KESTRO_FIELD(sandboxPolicy);
        KESTRO_FIELD(approvalMode);
        KESTRO_FIELD(gitBranch);
    }
    bool operator==(const KestroAgentThreadPayload&) const = default;
};

struct KestroAgentGitStatusPayload {
    std::optional<std::string> branchName;
    int64_t changedFiles = 0;
    int64_t addedLines = 0;
    int64_t deletedLines = 0;
    bool isRepository = false;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(branchName);
        KESTRO_FIELD(changedFiles);
        KESTRO_FIELD(addedLines);
        KESTRO_FIELD(deletedLines);
        KESTRO_FIELD(isRepository);
    }
    bool operator==(const KestroAgentGitStatusPayload&) const = default;
};

struct KestroAgentRemoteSurfacePayload {
    std::string kind;
    std::string title;
    std::string status;
    std::string detail;
    bool isAvailable = false;
    bool previewAvailable = false;
    std::optional<std::string> lastUpdated;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(kind);
        KESTRO_FIELD(title);
        KESTRO_FIELD(status);
        KESTRO_FIELD(detail);
        KESTRO_FIELD(isAvailable);
        KESTRO_FIELD(previewAvailable);
        KESTRO_FIELD(lastUpdated);
    }
    bool operator==(const KestroAgentRemoteSurfacePayload&) const = default;
};

struct KestroAgentRateLimitWindowPayload {
    double usedPercent = 0;
    int64_t windowMinutes = 0;
    std::optional<std::string> resetsAt;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(usedPercent);
        KESTRO_FIELD(windowMinutes);
        KESTRO_FIELD(resetsAt);
    }
    bool operator==(const KestroAgentRateLimitWindowPayload&) const = default;
};

struct KestroAgentUsageSnapshotPayload {
    std::string planLabel;
    std::string authMode;
    std::optional<KestroAgentRateLimitWindowPayload> primary;
    std::optional<KestroAgentRateLimitWindowPayload> secondary;
    bool hasCredits = false;
    bool creditsUnlimited = false;
    std::optional<double> creditsBalance;
    std::optional<std::string> capturedAt;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(planLabel);
        KESTRO_FIELD(authMode);
        KESTRO_FIELD(primary);
        KESTRO_FIELD(secondary);
        KESTRO_FIELD(hasCredits);
        KESTRO_FIELD(creditsUnlimited);
        KESTRO_FIELD(creditsBalance);
        KESTRO_FIELD(capturedAt);
    }
    bool operator==(const KestroAgentUsageSnapshotPayload&) const = default;
};

struct KestroAgentStatusPayload {
    std::string machineName;
    std::string hostName;
    std::string ipAddress;
    double cpuLoad = 0;
    double ramLoad = 0;
    int64_t activeJobs = 0;
    std::string currentRunner;
    std::optional<std::string> codexPath;
    std::optional<std::string> codexVersion;
    bool codexInstalled = false;
    bool resumableSessionsSupported = false;
    bool supportsImageInput = false;
    bool supportsOSSProvider = false;
    bool supportsAppServer = false;
    bool desktopAppInstalled = false;
    std::optional<std::string> desktopAppPath;
    bool computerUseConfigured = false;
    std::vector<std::string> configuredMCPServers;
    std::vector<KestroAgentSkillPayload> installedSkills;
    std::vector<KestroAgentPluginPayload> installedPlugins;
    std::vector<KestroAgentProjectPayload> recentProjects;
    std::vector<KestroAgentThreadPayload> recentThreads;
    std::optional<KestroAgentGitStatusPayload> gitStatus;
    std::vector<KestroAgentRemoteSurfacePayload> remoteSurfaces;
    std::optional<std::string> defaultModel;
    std::optional<std::string> defaultReasoningEffort;
    std::optional<KestroAgentUsageSnapshotPayload> usageSnapshot;
    bool isOnline = false;
    std::string workingDirectory;
    std::string lastSeen;
    std::string diagnosticMessage;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(machineName);
        KESTRO_FIELD(hostName);
        KESTRO_FIELD(ipAddress);
        KESTRO_FIELD(cpuLoad);
        KESTRO_FIELD(ramLoad);
        KESTRO_FIELD(activeJobs);
        KESTRO_FIELD(currentRunner);
        KESTRO_FIELD(codexPath);
        KESTRO_FIELD(codexVersion);
        KESTRO_FIELD(codexInstalled);
        KESTRO_FIELD(resumableSessionsSupported);
        KESTRO_FIELD(supportsImageInput);
        KESTRO_FIELD(supportsOSSProvider);
        KESTRO_FIELD(supportsAppServer);
        KESTRO_FIELD(desktopAppInstalled);
        KESTRO_FIELD(desktopAppPath);
        KESTRO_FIELD(computerUseConfigured);
        KESTRO_FIELD(configuredMCPServers);
        KESTRO_FIELD(installedSkills);
        KESTRO_FIELD(installedPlugins);
        KESTRO_FIELD(recentProjects);
        KESTRO_FIELD(recentThreads);
        KESTRO_FIELD(gitStatus);
        KESTRO_FIELD(remoteSurfaces);
        KESTRO_FIELD(defaultModel);
        KESTRO_FIELD(defaultReasoningEffort);
        KESTRO_FIELD(usageSnapshot);
        KESTRO_FIELD(isOnline);
        KESTRO_FIELD(workingDirectory);
        KESTRO_FIELD(lastSeen);
        KESTRO_FIELD(diagnosticMessage);
    }
    bool operator==(const KestroAgentStatusPayload&) const = default;
};

struct KestroAgentTranscriptMessagePayload {
    std::string role;
    std::string text;
    std::optional<std::string> timestamp;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(role);
        KESTRO_FIELD(text);
        KESTRO_FIELD(timestamp);
    }
    bool operator==(const KestroAgentTranscriptMessagePayload&) const = default;
};

struct KestroAgentThreadHistoryPayload {
    std::string threadID;
    std::vector<KestroAgentTranscriptMessagePayload> messages;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(threadID);
        KESTRO_FIELD(messages);
    }
    bool operator==(const KestroAgentThreadHistoryPayload&) const = default;
};

struct KestroAgentSurfacePreviewPayload {
    std::string kind;
    std::string title;
    std::string status;
    std::string detail;
    bool isAvailable = false;
    bool previewAvailable = false;
    std::optional<std::string> mimeType;
    std::optional<std::string> imageBase64;
    std::string capturedAt;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(kind);
        KESTRO_FIELD(title);
        KESTRO_FIELD(status);
        KESTRO_FIELD(detail);
        KESTRO_FIELD(isAvailable);
        KESTRO_FIELD(previewAvailable);
        KESTRO_FIELD(mimeType);
        KESTRO_FIELD(imageBase64);
        KESTRO_FIELD(capturedAt);
    }
    bool operator==(const KestroAgentSurfacePreviewPayload&) const = default;
};

struct KestroAgentWorktreePayload {
    std::string workingDirectory;
    std::string branch;
    std::string displayName;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(workingDirectory);
        KESTRO_FIELD(branch);
        KESTRO_FIELD(displayName);
    }
    bool operator==(const KestroAgentWorktreePayload&) const = default;
};

// Run stream.

struct KestroAgentUsagePayload {
    std::optional<int64_t> inputTokens;
    std::optional<int64_t> cachedInputTokens;
    std::optional<int64_t> outputTokens;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(inputTokens);
        KESTRO_FIELD(cachedInputTokens);
        KESTRO_FIELD(outputTokens);
    }
    bool operator==(const KestroAgentUsagePayload&) const = default;
};

struct KestroAgentStreamEvent {
    std::string type;
    std::optional<std::string> message;
    std::optional<std::string> text;
    std::optional<KestroAgentUsagePayload> usage;
    std::optional<std::string> threadID;
    template <class Self, class Visit> static void visitFields(Self& self, Visit&& visit) {
        KESTRO_FIELD(type);
        KESTRO_FIELD(message);
        KESTRO_FIELD(text);
        KESTRO_FIELD(usage);
        KESTRO_FIELD(threadID);
    }
    bool operator==(const KestroAgentStreamEvent&) const = default;
};

#undef KESTRO_FIELD

// Compact JSON, members in wire order, absent optionals left out.
// Throws EncodingError for a non-finite double.
template <class Record> std::string encodeRecord(const Record& record);

// Nothing the phone sends nests deeper than this (its bodies are flat objects).
inline constexpr int kMaximumBodyDepth = 8;

// Strict reading: not JSON, a missing or null required member, a wrong type, a NUL inside a text
// or nesting deeper than kMaximumBodyDepth throws DecodingError. Unknown members are ignored.
// Takes time in proportion to the body's size.
template <class Record> Record decodeRecord(std::string_view body);

} // namespace kestro
