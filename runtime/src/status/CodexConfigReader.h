#pragma once
// Reading what the user configured in the Codex home: config.toml keys, auth.json's mode and
// the `codex mcp list` table. Only reads; never fails (problems give absent or default values).

#include "core/WireRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct CodexConfigSnapshot {
    std::optional<std::string> defaultModel;
    std::optional<std::string> defaultReasoningEffort;
    std::string authMode = "unknown";
    std::vector<KestroAgentPluginPayload> installedPlugins;
};

// config.toml and auth.json under home/.codex.
CodexConfigSnapshot readCodexConfig(const std::string& home);

// The first line `key = value` that starts a line; a double-quoted value loses its quotes,
// an unquoted one its trailing `#` comment.
std::optional<std::string> firstConfigValue(const std::string& key, const std::string& configText);

// auth.json's "auth_mode" as stored, or "unknown".
std::string detectAuthMode(const std::string& authPath);
std::string authModeFromJSON(const std::string& authJSON);

// Names from the first column of `codex mcp list`, de-duplicated and sorted.
std::vector<std::string> parseMCPServerList(const std::string& listing);
std::vector<std::string> detectMCPServers(const std::string& codexPath);

// True when a name contains "computer-use", case-insensitively.
bool computerUseConfigured(const std::vector<std::string>& mcpServers);

} // namespace kestro
