#pragma once
// Reading what the user configured in the Codex home: config.toml keys, auth.json's mode and
// the `codex mcp list` table. Only reads; never fails (problems give absent or default values).

#include <optional>
#include <string>
#include <vector>

namespace kestro {

// Names from the first column of `codex mcp list`, de-duplicated and sorted.
std::vector<std::string> parseMCPServerList(const std::string& listing);
std::vector<std::string> detectMCPServers(const std::string& codexPath);

// True when a name contains "computer-use", case-insensitively.
bool computerUseConfigured(const std::vector<std::string>& mcpServers);

} // namespace kestro
