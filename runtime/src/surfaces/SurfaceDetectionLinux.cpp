#include "surfaces/SurfaceDetection.h"
#include "surfaces/WaylandDisplay.h"
#include "surfaces/WaylandSurfaces.h"
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

// Flatpak's ids of the known browsers, in lower case.
constexpr std::array<std::pair<std::string_view, const char*>, 7> kFlatpakBrowsers = {{
    {"org.mozilla.firefox", "Firefox"},
    {"org.chromium.chromium", "Chromium"},
    {"com.google.chrome", "Google Chrome"},
    {"com.brave.browser", "Brave"},
    {"com.microsoft.edge", "Microsoft Edge"},
    {"com.vivaldi.vivaldi", "Vivaldi"},
    {"com.opera.opera", "Opera"},
}};

// `browser`: the browser in front, if any; `frontKnowable`: whether the desktop says which window
// is in front at all.
SurfaceFinding browserFinding(const std::optional<std::string>& browser, bool frontKnowable,
                              const std::vector<KestroAgentSkillPayload>& skills) {
    if (browser) return {"Live", *browser + " is frontmost on this computer right now.", true, true};
    const bool skill = hasBrowserSkill(skills);
    if (!frontKnowable && skill)
        return {"Ready",
                "Browser tools are installed, but the window in front cannot be known on this desktop.", true,
                false};
    if (!frontKnowable) return {"Off", "The window in front cannot be known on this desktop.", false, false};
    if (skill)
        return {"Ready",
                "Browser tools are installed. Open a browser task on this computer to preview it here.", true,
                false};
    return {"Off", "No browser control surface detected from the current Codex setup.", false, false};
}

SurfaceFinding liveDesktopFinding() {
    return {"Live", "Capture the current desktop when you want to see what Codex is doing on this computer.",
            true, true};
}

SurfaceFindings waylandFindings(const std::vector<KestroAgentSkillPayload>& skills,
                                const SurfaceContext& context) {
    const WaylandLook look = lookAtWaylandDesktop(context.environment, context.tools.grim, kDetectionBudget);
    if (look.timedOut) reportUnansweredDisplay(context);
    SurfaceFindings findings;
    const auto browser = look.frontApp ? browserNamedByAppID(*look.frontApp) : std::nullopt;
    findings.browser = browserFinding(browser, look.frontKnowable, skills);
    switch (look.desktop) {
    case WaylandLook::Desktop::capturable:
        findings.desktop = liveDesktopFinding();
        break;
    case WaylandLook::Desktop::unreachable:
        findings.desktop = desktopFindingWithout(DesktopAbsence::unreachable);
        break;
    case WaylandLook::Desktop::noScreenshotService:
        findings.desktop = desktopFindingWithout(DesktopAbsence::noScreenshotService);
        break;
    }
    return findings;
}

std::optional<std::string> browserOfWindowClass(const std::optional<std::string>& windowClass) {
    return windowClass ? browserNamedByWindowClass(*windowClass) : std::nullopt;
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

std::optional<std::string> browserNamedByAppID(const std::string& appID) {
    const std::string lower = lowercased(appID);
    for (const auto& [id, name] : kFlatpakBrowsers)
        if (lower == id) return std::string(name);
    return browserNamedByWindowClass(appID);
}

SurfaceFinding desktopFindingWithout(DesktopAbsence why) {
    switch (why) {
    case DesktopAbsence::noDisplay:
        break;
    case DesktopAbsence::unreachable:
        return {"Off", "The desktop display could not be reached on this computer.", false, false};
    case DesktopAbsence::noScreenshotService:
        return {
            "Off",
            "This desktop offers no screenshot service. Install grim (sway and other wlroots desktops) or "
            "the desktop's portal (xdg-desktop-portal with its GNOME or KDE part), then try again.",
            false, false};
    }
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
    if (isWaylandSession(context.environment)) return waylandFindings(skills, context).browser;
    XDisplaySession display(context.environment, kDetectionBudget);
    const auto windowClass = display.activeWindowClass();
    if (!windowClass && display.outOfTime()) reportUnansweredDisplay(context);
    return browserFinding(browserOfWindowClass(windowClass), true, skills);
}

SurfaceFinding detectBootedSimulator(const SurfaceContext&) {
    return {"Off", "iOS simulators exist only on macOS.", false, false};
}

SurfaceFindings detectSurfaceFindings(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SurfaceContext& context) {
    // A Wayland session's screen is the compositor's, even where XWayland offers an X display:
    // its root window shows only the X programs.
    if (isWaylandSession(context.environment)) {
        SurfaceFindings findings = waylandFindings(skills, context);
        findings.simulator = detectBootedSimulator(context);
        return findings;
    }
    // One conversation with the display answers both the desktop and the browser.
    XDisplaySession display(context.environment, kDetectionBudget);
    SurfaceFindings findings;
    const auto windowClass = display.activeWindowClass();
    if (!windowClass && display.outOfTime()) reportUnansweredDisplay(context);
    findings.browser = browserFinding(browserOfWindowClass(windowClass), true, skills);
    findings.simulator = detectBootedSimulator(context);
    if (display.state() == XDisplaySession::State::connected)
        findings.desktop = liveDesktopFinding();
    else
        findings.desktop = desktopFindingWithout(display.state() == XDisplaySession::State::unreachable
                                                     ? DesktopAbsence::unreachable
                                                     : DesktopAbsence::noDisplay);
    return findings;
}

SurfaceFindings findingsWhenUnanswered(const std::vector<KestroAgentSkillPayload>& skills,
                                       const SurfaceContext& context) {
    return {.desktop = desktopFindingWithout(DesktopAbsence::unreachable),
            .browser = browserFinding(std::nullopt, !isWaylandSession(context.environment), skills),
            .simulator = detectBootedSimulator(context)};
}

} // namespace kestro
