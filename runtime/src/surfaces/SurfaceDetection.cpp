#include "surfaces/SurfaceDetection.h"

#include "text/Text.h"
#include "text/TimeText.h"

#include <algorithm>

namespace kestro {

bool hasBrowserSkill(const std::vector<KestroAgentSkillPayload>& skills) {
    return std::any_of(skills.begin(), skills.end(), [](const KestroAgentSkillPayload& skill) {
        return lowercased(skill.name + " " + skill.description + " " + skill.source + " " + skill.path)
                   .find("browser") != std::string::npos;
    });
}

std::vector<KestroAgentRemoteSurfacePayload>
detectRemoteSurfaces(const std::vector<KestroAgentSkillPayload>& skills,
                     const std::vector<std::string>& mcpServers, const SurfaceContext& context) {
    return remoteSurfacesFrom(detectSurfaceFindings(skills, context), mcpServers);
}

std::vector<KestroAgentRemoteSurfacePayload> remoteSurfacesFrom(const SurfaceFindings& findings,
                                                                const std::vector<std::string>& mcpServers) {
    const std::string now = isoTimeTextNow();
    const bool computerUse = std::any_of(mcpServers.begin(), mcpServers.end(), [](const std::string& name) {
        return containsCaseInsensitive(name, "computer-use");
    });
    const auto entry = [&](const char* kind, const char* title, const SurfaceFinding& finding) {
        return KestroAgentRemoteSurfacePayload{.kind = kind,
                                               .title = title,
                                               .status = finding.status,
                                               .detail = finding.detail,
                                               .isAvailable = finding.isAvailable,
                                               .previewAvailable = finding.previewAvailable,
                                               .lastUpdated = now};
    };
    auto browser = entry("browser", "Browser Use", findings.browser);
    browser.isAvailable = browser.isAvailable || computerUse;
    return {entry("desktop", kDesktopTitle, findings.desktop), std::move(browser),
            entry("simulator", "iOS Simulator", findings.simulator)};
}

void reportUnansweredDisplay(const SurfaceContext& context) {
    if (context.unansweredDisplays) context.unansweredDisplays->reportUnanswered(displaySource(context));
}

} // namespace kestro
