#pragma once
// Which surfaces of the machine (desktop, browser, iOS simulator) can be viewed now.
// Never fails: a missing tool or unreadable output gives the "Ready" or "Off" wording.

#include "core/WireRecords.h"
#include "platform/SystemTools.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct SurfaceFinding {
    std::string status;
    std::string detail;
    bool isAvailable = false;
    bool previewAvailable = false;
    bool operator==(const SurfaceFinding&) const = default;
};

struct BootedSimulator {
    std::string name;
    std::string udid;
    bool operator==(const BootedSimulator&) const = default;
};

inline constexpr const char* kDeveloperDirectory = "DEVELOPER_DIR=/Applications/Xcode.app/Contents/Developer";

SurfaceFinding detectFrontmostBrowser(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SystemTools& tools);
// The booted device with the latest lastBootedAt in `simctl list devices booted --json` output.
std::optional<BootedSimulator> bootedSimulatorFrom(const std::string& simctlOutput);
std::optional<BootedSimulator> currentBootedSimulator(const SystemTools& tools);
SurfaceFinding detectBootedSimulator(const SystemTools& tools);

// Desktop, browser and simulator, in that order, with one shared lastUpdated.
std::vector<KestroAgentRemoteSurfacePayload>
detectRemoteSurfaces(const std::vector<KestroAgentSkillPayload>& skills,
                     const std::vector<std::string>& mcpServers, const SystemTools& tools);

} // namespace kestro
