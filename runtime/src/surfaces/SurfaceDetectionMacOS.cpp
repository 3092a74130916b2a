#include "core/LenientJSON.h"
#include "platform/FileChecks.h"
#include "platform/ProcessRunner.h"
#include "surfaces/SurfaceDetection.h"
#include "text/Text.h"
#include "text/TimeText.h"

#include <algorithm>
#include <array>
#include <climits>

namespace kestro {

namespace {

constexpr std::array<const char*, 6> kBrowserNames = {"Safari",  "Google Chrome", "Arc",
                                                      "Firefox", "Brave Browser", "Microsoft Edge"};

SurfaceFinding browserFinding(const std::string& frontmost,
                              const std::vector<KestroAgentSkillPayload>& skills) {
    if (std::find(kBrowserNames.begin(), kBrowserNames.end(), frontmost) != kBrowserNames.end())
        return {"Live", frontmost + " is frontmost on the Mac right now.", true, true};
    if (hasBrowserSkill(skills))
        return {"Ready", "Browser tools are installed. Open a browser task on the Mac to preview it here.",
                true, false};
    return {"Off", "No browser control surface detected from the current Codex setup.", false, false};
}

SurfaceFinding simulatorToolsFinding(const SurfaceContext& context) {
    if (isExecutableFile(context.tools.xcrun))
        return {"Ready", "Simulator tools are installed, but no booted iPhone simulator was detected.", true,
                false};
    return {"Off", "Xcode simulator tools are not available on this Mac.", false, false};
}

} // namespace

const char* const kDesktopTitle = "Mac Desktop";

SurfaceFinding detectFrontmostBrowser(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SurfaceContext& context) {
    return browserFinding(trimmed(runCommand(context.tools.osascript,
                                             {"-e", "tell application \"System Events\" to get name of "
                                                    "first application process whose frontmost is true"})),
                          skills);
}

std::optional<BootedSimulator> bootedSimulatorFrom(const std::string& simctlOutput) {
    const auto document = parseJSONObject(simctlOutput);
    if (!document) return std::nullopt;
    const JSON* devices = JSONMembers(*document).object("devices");
    if (devices == nullptr) return std::nullopt;
    const JSON* chosen = nullptr;
    long long chosenTime = LLONG_MIN;
    for (const auto& [runtime, list] : devices->items()) {
        if (!list.is_array()) continue;
        for (const auto& device : list) {
            if (!device.is_object()) continue;
            JSONMembers members(device);
            if (members.string("state") != "Booted") continue;
            long long bootedAt = LLONG_MIN;
            if (const auto at = members.string("lastBootedAt"))
                if (const auto time = parseIsoTimeText(*at))
                    bootedAt =
                        std::chrono::duration_cast<std::chrono::seconds>(time->time_since_epoch()).count();
            if (chosen == nullptr || bootedAt > chosenTime) {
                chosen = &device;
                chosenTime = bootedAt;
            }
        }
    }
    if (chosen == nullptr) return std::nullopt;
    JSONMembers chosenMembers(*chosen);
    const auto text = [&](const char* name, const char* fallback) {
        return chosenMembers.string(name).value_or(fallback);
    };
    return BootedSimulator{text("name", "Booted simulator"), text("udid", "booted")};
}

std::optional<BootedSimulator> currentBootedSimulator(const SystemTools& tools) {
    if (!isExecutableFile(tools.xcrun)) return std::nullopt;
    return bootedSimulatorFrom(runCommand(
        tools.env, {kDeveloperDirectory, tools.xcrun, "simctl", "list", "devices", "booted", "--json"}));
}

SurfaceFinding detectBootedSimulator(const SurfaceContext& context) {
    if (const auto simulator = currentBootedSimulator(context.tools))
        return {"Live", simulator->name + " is booted and can be previewed remotely.", true, true};
    return simulatorToolsFinding(context);
}

SurfaceFindings detectSurfaceFindings(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SurfaceContext& context) {
    SurfaceFindings findings;
    findings.browser = detectFrontmostBrowser(skills, context);
    findings.simulator = detectBootedSimulator(context);
    // The desktop can be captured whenever the tool is there; a refused permission shows only
    // when a capture is tried.
    const bool canCapture = isExecutableFile(context.tools.screencapture);
    findings.desktop = {"Live",
                        "Capture the current desktop when you want to see what Codex is doing on the Mac.",
                        canCapture, canCapture};
    return findings;
}

std::string displaySource(const SurfaceContext&) {
    return "macos";
}

SurfaceFindings findingsWhenUnanswered(const std::vector<KestroAgentSkillPayload>& skills,
                                       const SurfaceContext& context) {
    return {.desktop = {"Unavailable", "The Mac did not answer in time. kestro will try again shortly.", true,
                        false},
            .browser = browserFinding("", skills),
            .simulator = simulatorToolsFinding(context)};
}

} // namespace kestro
