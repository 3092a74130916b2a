#include "status/SkillDiscovery.h"

#include "core/CodexHome.h"
#include "platform/FileChecks.h"
#include "platform/FileReading.h"
#include "text/Text.h"
#include "text/TextCollation.h"
#include "text/TextPatterns.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace kestro {

namespace {

// A skill's description is a few paragraphs; a file over this counts as unreadable.
constexpr size_t kSkillFileCap = 1 << 20;

} // namespace

std::vector<SkillRoot> skillRoots(const std::string& workingDirectory, const std::string& home) {
    std::vector<SkillRoot> roots{{codexHome(home).skillsFolder, "User"},
                                 {home + "/.agents/skills", "User"},
                                 {"/etc/codex/skills", "Admin"}};
    fs::path folder = fs::path(workingDirectory).lexically_normal();
    if (folder.is_relative()) folder = fs::path("/") / folder;
    while (true) {
        roots.push_back({(folder / ".agents" / "skills").string(), "Repo"});
        fs::path parent = folder.parent_path();
        if (parent == folder || parent.empty()) break;
        folder = parent;
    }
    return roots;
}

std::optional<KestroAgentSkillPayload> parseSkill(const std::string& path,
                                                  const std::string& fallbackSource) {
    const auto text = readUTF8File(path, kSkillFileCap);
    if (!text) return std::nullopt;
    return parseSkillText(*text, path, fallbackSource);
}

KestroAgentSkillPayload parseSkillText(const std::string& text, const std::string& path,
                                       const std::string& fallbackSource) {
    const std::vector<std::string> lines = splitLines(text);
    std::map<std::string, std::string> frontMatter;
    size_t bodyStart = 0;
    if (!lines.empty() && trimmed(lines[0]) == "---") {
        for (size_t i = 1; i < lines.size(); ++i) {
            const std::string line = trimmed(lines[i]);
            if (line == "---") {
                bodyStart = i + 1;
                break;
            }
            const size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            frontMatter[trimmed(std::string_view(line).substr(0, colon))] =
                trimmed(std::string_view(line).substr(colon + 1));
        }
    }
    KestroAgentSkillPayload skill;
    const std::string name = frontMatter.count("name") ? trimmed(frontMatter["name"]) : "";
    skill.name = name.empty() ? fs::path(path).parent_path().filename().string() : name;
    const std::string description =
        frontMatter.count("description") ? trimmed(frontMatter["description"]) : "";
    skill.description = description;
    for (size_t i = bodyStart; skill.description.empty() && i < lines.size(); ++i)
        skill.description = trimmed(lines[i]);
    if (skill.description.empty()) skill.description = "Reusable Codex skill";
    skill.source = path.find("/.system/") != std::string::npos ? "System" : fallbackSource;
    skill.path = path;
    return skill;
}

std::vector<KestroAgentSkillPayload> detectSkills(const std::string& workingDirectory,
                                                  const std::string& home) {
    std::vector<KestroAgentSkillPayload> skills;
    std::set<std::string> seen;
    for (const auto& root : skillRoots(workingDirectory, home)) {
        std::error_code error;
        if (!pathExists(root.path)) continue;
        fs::recursive_directory_iterator walk(root.path, fs::directory_options::skip_permission_denied,
                                              error);
        if (error) continue;
        for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
            if (error) break;
            if (walk->path().filename() != "SKILL.md") continue;
            auto skill = parseSkill(walk->path().string(), root.source);
            if (!skill) continue;
            if (!seen.insert(skill->source + "|" + skill->name + "|" + skill->path).second) continue;
            skills.push_back(std::move(*skill));
        }
    }
    std::stable_sort(skills.begin(), skills.end(), [](const auto& left, const auto& right) {
        if (left.source != right.source) return compareForDisplay(left.source, right.source) < 0;
        return compareForDisplay(left.name, right.name) < 0;
    });
    return skills;
}

} // namespace kestro
