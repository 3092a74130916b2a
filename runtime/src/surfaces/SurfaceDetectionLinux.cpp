#include "surfaces/SurfaceDetection.h"
#include "surfaces/XDisplay.h"
#include "text/Text.h"

#include <array>
#include <string_view>

namespace kestro {

namespace {

// A status waits this long at most for a display that does not answer.
constexpr std::chrono::milliseconds kDetectionBudget{2000};

struct KnownBrowser {
    std::string_view windowClass; // lower case; a longer class may follow it after a separator
    const char* name;
};
constexpr std::array<KnownBrowser, 7> kBrowsers = {{{"firefox", "Firefox"},
                                                    {"chromium", "Chromium"},
                                                    {"google-chrome", "Google Chrome"},
                                                    {"brave-browser", "Brave"},
                                                    {"microsoft-edge", "Microsoft Edge"},
                                                    {"vivaldi", "Vivaldi"},
                                                    {"opera", "Opera"}}};

bool isWaylandSession(const EnvironmentLookup& environment) {
    return !trimmed(environment("WAYLAND_DISPLAY").value_or("")).empty() ||
           lowercased(trimmed(environment("XDG_SESSION_TYPE").value_or(""))) == "wayland";
}

SurfaceFinding browserFinding(const std::optional<std::string>& windowClass,
                              const std::vector<KestroAgentSkillPayload>& skills) {
    if (windowClass)
        if (const auto browser = browserNamedByWindowClass(*windowClass))
            return {"Live", *browser + " is frontmost on this computer right now.", true, true};
    if (hasBrowserSkill(skills))
        return {"Ready",
                "Browser tools are installed. Open a browser task on this computer to preview it here.", true,
                false};
    return {"Off", "No browser control surface detected from the current Codex setup.", false, false};
}

} // namespace

const char* const kDesktopTitle = "Desktop";

std::optional<std::string> browserNamedByWindowClass(const std::string& windowClass) {
    const std::string lower = lowercased(windowClass);
    for (const KnownBrowser& browser : kBrowsers) {
        if (!lower.starts_with(browser.windowClass)) continue;
        // "Google-chrome-beta" and "firefox-esr" are the same browsers; "operator" is not Opera.
        const std::string_view after = std::string_view(lower).substr(browser.windowClass.size());
        if (after.empty() || after.front() == '-' || after.front() == '_' || after.front() == ' ')
            return std::string(browser.name);
    }
    return std::nullopt;
}

SurfaceFinding desktopFindingWithoutDisplay(bool displayNamed, const EnvironmentLookup& environment) {
    if (isWaylandSession(environment))
        return {"Off", "Screen capture is not available in this Wayland session.", false, false};
    if (displayNamed)
        return {"Off", "The desktop display could not be reached on this computer.", false, false};
    return {"Off", "No desktop display is available on this computer.", false, false};
}

std::string displaySource(const SurfaceContext& context) {
    if (isWaylandSession(context.environment))
        return "wayland:" + trimmed(context.environment("WAYLAND_DISPLAY").value_or(""));
    const std::string display = trimmed(context.environment("DISPLAY").value_or(""));
    return display.empty() ? "" : "x11:" + display;
}

SurfaceFinding detectFrontmostBrowser(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SurfaceContext& context) {
    XDisplaySession display(context.environment, kDetectionBudget);
    const auto windowClass = display.activeWindowClass();
    if (!windowClass && display.outOfTime()) reportUnansweredDisplay(context);
    return browserFinding(windowClass, skills);
}

SurfaceFinding detectBootedSimulator(const SurfaceContext&) {
    return {"Off", "iOS simulators exist only on macOS.", false, false};
}

SurfaceFindings detectSurfaceFindings(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SurfaceContext& context) {
    // One conversation with the display answers both the desktop and the browser.
    XDisplaySession display(context.environment, kDetectionBudget);
    SurfaceFindings findings;
    const auto windowClass = display.activeWindowClass();
    if (!windowClass && display.outOfTime()) reportUnansweredDisplay(context);
    findings.browser = browserFinding(windowClass, skills);
    findings.simulator = detectBootedSimulator(context);
    if (display.state() == XDisplaySession::State::connected)
        findings.desktop = {
            "Live", "Capture the current desktop when you want to see what Codex is doing on this computer.",
            true, true};
    else
        findings.desktop = desktopFindingWithoutDisplay(
            display.state() == XDisplaySession::State::unreachable, context.environment);
    return findings;
}

SurfaceFindings findingsWhenUnanswered(const std::vector<KestroAgentSkillPayload>& skills,
                                       const SurfaceContext& context) {
    return {.desktop = desktopFindingWithoutDisplay(true, context.environment),
            .browser = browserFinding(std::nullopt, skills),
            .simulator = detectBootedSimulator(context)};
}

} // namespace kestro
