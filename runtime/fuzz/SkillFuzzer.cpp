// SKILL.md files as anybody may have written them.
#include "status/SkillDiscovery.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto skill = kestro::parseSkillText(text, "/home/me/.codex/skills/x/SKILL.md", "User");
    if (skill.name.empty() || skill.description.empty()) __builtin_trap();
    return 0;
}
