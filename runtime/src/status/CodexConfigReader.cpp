#include "status/CodexConfigReader.h"

#include "core/CodexHome.h"
#include "core/LenientJSON.h"
#include "platform/FileReading.h"
#include "platform/ProcessRunner.h"
#include "status/PluginCatalog.h"
#include "text/Text.h"
#include "text/TextPatterns.h"

#include <algorithm>

namespace kestro {

CodexConfigSnapshot readCodexConfig(const std::string& home) {
    const std::string configText = readUTF8File(codexHome(home).configFile, kCodexConfigFileCap).value_or("");
    CodexConfigSnapshot snapshot;
    snapshot.defaultModel = firstConfigValue("model", configText);
    snapshot.defaultReasoningEffort = firstConfigValue("model_reasoning_effort", configText);
    snapshot.authMode = detectAuthMode(codexHome(home).authFile);
    snapshot.installedPlugins = detectPlugins(configText);
    return snapshot;
}

std::optional<std::string> firstConfigValue(const std::string& key, const std::string& configText) {
    const TextPattern pattern("(?m)^" + key + R"re(\s*=\s*(?:"([^"]+)"|([^\n#]+)))re");
    const auto match = pattern.firstMatch(configText);
    if (!match) return std::nullopt;
    if (auto quoted = match->group(1)) return trimmed(*quoted);
    return trimmed(match->group(2).value_or(""));
}

std::string detectAuthMode(const std::string& authPath) {
    const auto bytes = readWholeFile(authPath, kCodexAuthFileCap);
    if (!bytes) return "unknown";
    return authModeFromJSON(*bytes);
}

std::string authModeFromJSON(const std::string& authJSON) {
    const auto document = parseJSONObject(authJSON);
    if (!document) return "unknown";
    const auto mode = JSONMembers(*document).string("auth_mode");
    if (!mode || mode->empty()) return "unknown";
    return *mode;
}

std::vector<std::string> parseMCPServerList(const std::string& listing) {
    static const TextPattern kNameColumn(R"re(^[A-Za-z0-9._-]+(?=\s{2,}))re");
    std::vector<std::string> names;
    for (const auto& rawLine : splitLines(listing)) {
        const std::string line = trimmed(rawLine);
        if (line.empty()) continue;
        if (startsWith(line, "Name") || startsWith(line, "Command") || startsWith(line, "Args") ||
            startsWith(line, "Status") || startsWith(line, "Auth"))
            continue;
        if (auto match = kNameColumn.firstMatch(line)) names.push_back(match->group(0).value_or(""));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::vector<std::string> detectMCPServers(const std::string& codexPath) {
    return parseMCPServerList(runCommand(codexPath, {"mcp", "list"}));
}

bool computerUseConfigured(const std::vector<std::string>& mcpServers) {
    return std::any_of(mcpServers.begin(), mcpServers.end(),
                       [](const std::string& name) { return containsCaseInsensitive(name, "computer-use"); });
}

} // namespace kestro
