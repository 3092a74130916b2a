#pragma once
// Finding the Codex executable and asking it what it can do. Runs once at start-up; never throws.

#include "core/WireRecords.h"
#include "platform/EnvironmentLookup.h"
#include "platform/SystemTools.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct CodexInspection {
    std::optional<std::string> version;
    bool resumeSupported = false;
    bool imageInputSupported = false;
    bool ossProviderSupported = false;
    bool appServerSupported = false;
    std::optional<std::string> desktopAppPath;
    std::vector<std::string> configuredMCPServers;
    std::vector<KestroAgentSkillPayload> installedSkills;
    std::string diagnosticMessage;
};

inline constexpr const char* kCodexUnavailableMessage =
    "Codex CLI is not installed or not available on this machine.";

// KESTRO_CODEX_PATH, VESK_CODEX_PATH, the two Homebrew locations, then `which codex`.
std::optional<std::string> resolveCodexPath(const EnvironmentLookup& environment, const SystemTools& tools);

// /Applications/Codex.app, then ~/Applications/Codex.app.
std::optional<std::string> detectDesktopAppPath(const std::string& home);

// The sources the probe consults besides the executable itself.
struct CodexProbeSources {
    std::function<std::vector<std::string>(const std::string& codexPath)> mcpServers;
    std::function<std::vector<KestroAgentSkillPayload>()> skills;
    std::string home;
};

// The five probe invocations and the MCP listing run at the same time; the result is the same
// as running them one after another.
CodexInspection inspectCodex(const std::optional<std::string>& codexPath, const CodexProbeSources& sources);

// Capability flags and the diagnostic line from the probe's texts.
struct CodexProbeTexts {
    std::string version;
    std::string generalHelp;
    std::string execHelp;
    std::string resumeHelp;
    std::string appServerHelp;
};
void applyProbeTexts(const CodexProbeTexts& texts, CodexInspection& inspection);

} // namespace kestro
