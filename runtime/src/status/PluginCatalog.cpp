#include "status/PluginCatalog.h"

#include "status/CodexConfigReader.h"
#include "text/Text.h"
#include "text/TextCollation.h"
#include "text/TextPatterns.h"

#include <algorithm>
#include <map>
#include <optional>

namespace kestro {

namespace {

struct CatalogEntry {
    std::optional<std::string> displayName; // absent: the general naming rule
    std::string category;
    std::string description;
};

const std::map<std::string, CatalogEntry>& catalog() {
    static const std::map<std::string, CatalogEntry> entries = {
        {"github", {std::nullopt, "Development", "Triages PRs, issues, CI, and publishing flows."}},
        {"linear", {std::nullopt, "Development", "Find and reference issues and projects."}},
        {"figma", {std::nullopt, "Development", "Pull design context and assets from Figma."}},
        {"build-ios-apps", {"Build iOS Apps", "Development", "Build, run, and inspect iOS apps."}},
        {"gmail", {std::nullopt, "Productivity", "Read and manage Gmail from Codex."}},
        {"google-drive", {"Google Drive", "Productivity", "Work across Drive, Docs, Sheets, and Slides."}},
        {"notion", {std::nullopt, "Productivity", "Workflows for specs, research, and knowledge capture."}},
        {"browser-use", {"Browser Use", "Control", "Control the in-app browser with Codex."}},
        {"computer-use", {"Computer Use", "Control", "Control Mac apps from Codex."}},
        {"documents", {std::nullopt, "Documents", "Create and edit document files."}},
        {"spreadsheets", {std::nullopt, "Documents", "Create and edit spreadsheet files."}},
        {"presentations", {std::nullopt, "Documents", "Create and edit presentation decks."}},
        {"netlify", {std::nullopt, "Platforms", "Deploy and manage Netlify sites."}},
        {"vercel", {std::nullopt, "Platforms", "Build and deploy apps to Vercel."}},
        {"stripe", {std::nullopt, "Platforms", "Payments and business tools."}},
        {"hugging-face", {"Hugging Face", "Platforms", "Inspect models, datasets, and Spaces."}},
    };
    return entries;
}

const CatalogEntry* entryFor(const std::string& base) {
    const auto found = catalog().find(base);
    return found == catalog().end() ? nullptr : &found->second;
}

} // namespace

std::string pluginDisplayName(const std::string& base) {
    if (const CatalogEntry* entry = entryFor(base); entry && entry->displayName) return *entry->displayName;
    std::string name;
    for (const auto& piece : splitOn(base, "-")) {
        if (piece.empty()) continue;
        if (!name.empty()) name += " ";
        name += capitalizedWord(piece);
    }
    return name;
}

std::string pluginCategory(const std::string& base) {
    const CatalogEntry* entry = entryFor(base);
    return entry ? entry->category : "Connected";
}

std::string pluginDescription(const std::string& base) {
    const CatalogEntry* entry = entryFor(base);
    return entry ? entry->description : "Available through this Codex setup.";
}

std::vector<KestroAgentPluginPayload> detectPlugins(const std::string& configText) {
    static const TextPattern kHeader(R"re((?m)^\[plugins\."([^"]+)"\]\s*$)re");
    const auto headers = kHeader.allMatchesWithOffsets(configText);
    std::vector<KestroAgentPluginPayload> plugins;
    for (size_t i = 0; i < headers.size(); ++i) {
        const std::string identifier = headers[i].match.group(1).value_or("");
        const size_t sectionStart = headers[i].end;
        size_t sectionEnd = configText.size();
        for (size_t j = i + 1; j < headers.size(); ++j)
            if (headers[j].start > headers[i].start) {
                sectionEnd = headers[j].start;
                break;
            }
        const std::string section = configText.substr(sectionStart, sectionEnd - sectionStart);
        const std::vector<std::string> parts = splitOn(identifier, "@");
        const std::string& base = parts[0];
        const std::string source = parts.size() > 1 ? parts[1] : "local";
        plugins.push_back({.identifier = identifier,
                           .displayName = pluginDisplayName(base),
                           .source = source,
                           .category = pluginCategory(base),
                           .description = pluginDescription(base),
                           .isEnabled = firstConfigValue("enabled", section) != "false"});
    }
    std::stable_sort(plugins.begin(), plugins.end(), [](const auto& left, const auto& right) {
        if (left.category != right.category) return compareForDisplay(left.category, right.category) < 0;
        return compareForDisplay(left.displayName, right.displayName) < 0;
    });
    return plugins;
}

} // namespace kestro
