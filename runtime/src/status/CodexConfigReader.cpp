#include "status/CodexConfigReader.h"

#include "run/ProcessRunner.h"
#include "text/Text.h"
#include "text/TextPatterns.h"

#include <algorithm>

namespace kestro {

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
