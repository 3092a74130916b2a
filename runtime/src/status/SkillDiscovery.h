#pragma once
// Codex skills: folders holding a SKILL.md, found under the user, admin and repository roots.

#include "core/WireRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct SkillRoot {
    std::string path;
    std::string source;
    bool operator==(const SkillRoot&) const = default;
};

// ~/.codex/skills, ~/.agents/skills, /etc/codex/skills, then DIR/.agents/skills for the working
// directory and each ancestor up to "/".
std::vector<SkillRoot> skillRoots(const std::string& workingDirectory, const std::string& home);

// Absent when the file cannot be read as UTF-8 text or is too long to be a skill's (1 MiB).
std::optional<KestroAgentSkillPayload> parseSkill(const std::string& path, const std::string& fallbackSource);
// The skill a SKILL.md text describes (front matter "name" / "description", else the folder's
// name and the first body line).
KestroAgentSkillPayload parseSkillText(const std::string& text, const std::string& path,
                                       const std::string& fallbackSource);

// Sorted by source, then name (case-insensitive, the user's locale); duplicates by
// source, name and path are listed once.
std::vector<KestroAgentSkillPayload> detectSkills(const std::string& workingDirectory,
                                                  const std::string& home);

} // namespace kestro
