#pragma once
// Which surfaces of the machine (desktop, browser, iOS simulator) can be viewed now.
// Never fails: a missing tool, display or unreadable output gives the "Ready" or "Off" wording.
// Each operating system finds its surfaces its own way (SurfaceDetectionMacOS.cpp with the
// macOS tools, SurfaceDetectionLinux.cpp with the X display); the list is built here.

#include "core/WireRecords.h"
#include "platform/EnvironmentLookup.h"
#include "platform/SystemTools.h"
#include "surfaces/UnansweredDisplays.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

// What the surface code reads from the machine: the tools it runs by path (macOS), the
// runtime's environment (DISPLAY and XAUTHORITY on Linux), where screenshot files may be written
// (absent when no private temporary folder can be had), and where a display that ran out of time
// is reported (none: not reported).
struct SurfaceContext {
    SystemTools tools;
    EnvironmentLookup environment = processEnvironment();
    std::optional<std::string> temporaryDirectory;
    std::shared_ptr<UnansweredDisplays> unansweredDisplays;
};

struct SurfaceFinding {
    std::string status;
    std::string detail;
    bool isAvailable = false;
    bool previewAvailable = false;
    bool operator==(const SurfaceFinding&) const = default;
};

// Whether any installed skill speaks of a browser (name, description, source and path).
bool hasBrowserSkill(const std::vector<KestroAgentSkillPayload>& skills);

struct SurfaceFindings {
    SurfaceFinding desktop;
    SurfaceFinding browser;
    SurfaceFinding simulator;
};

// Desktop, browser and simulator, in that order, with one shared lastUpdated.
std::vector<KestroAgentRemoteSurfacePayload>
detectRemoteSurfaces(const std::vector<KestroAgentSkillPayload>& skills,
                     const std::vector<std::string>& mcpServers, const SurfaceContext& context);
// The same list from findings made already; the browser is also available when a configured MCP
// server's name contains "computer-use".
std::vector<KestroAgentRemoteSurfacePayload> remoteSurfacesFrom(const SurfaceFindings& findings,
                                                                const std::vector<std::string>& mcpServers);

// Tells the context's UnansweredDisplays, if it has one, that its display did not answer in time.
void reportUnansweredDisplay(const SurfaceContext& context);

// Per operating system --------------------------------------------------------------------------

// The desktop entry's title ("Mac Desktop", "Desktop").
extern const char* const kDesktopTitle;

// The three findings of one detection.
SurfaceFindings detectSurfaceFindings(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SurfaceContext& context);

// The display the surfaces are seen through, as UnansweredDisplays names it: "x11:" and DISPLAY's
// value, "wayland:" and WAYLAND_DISPLAY's in a Wayland session, "macos" on the Mac; empty when
// there is none to wait for.
std::string displaySource(const SurfaceContext& context);

// The findings while the display does not answer: the desktop cannot be reached and the browser
// is judged by the skills alone. Asks nothing of the display or of any outside program.
SurfaceFindings findingsWhenUnanswered(const std::vector<KestroAgentSkillPayload>& skills,
                                       const SurfaceContext& context);

SurfaceFinding detectFrontmostBrowser(const std::vector<KestroAgentSkillPayload>& skills,
                                      const SurfaceContext& context);
SurfaceFinding detectBootedSimulator(const SurfaceContext& context);

// macOS only ------------------------------------------------------------------------------------

struct BootedSimulator {
    std::string name;
    std::string udid;
    bool operator==(const BootedSimulator&) const = default;
};

inline constexpr const char* kDeveloperDirectory = "DEVELOPER_DIR=/Applications/Xcode.app/Contents/Developer";

// The booted device with the latest lastBootedAt in `simctl list devices booted --json` output.
std::optional<BootedSimulator> bootedSimulatorFrom(const std::string& simctlOutput);
std::optional<BootedSimulator> currentBootedSimulator(const SystemTools& tools);

// Linux only ------------------------------------------------------------------------------------

// The browser's name for a window class (WM_CLASS) that names a known browser, such as
// "Chromium" for "Chromium" or "Google Chrome" for "Google-chrome-beta".
std::optional<std::string> browserNamedByWindowClass(const std::string& windowClass);

// The browser's name for a Wayland application id: a Flatpak id such as "org.mozilla.firefox",
// or an id named as the window classes above ("firefox", "google-chrome").
std::optional<std::string> browserNamedByAppID(const std::string& appID);

// Why the desktop cannot be captured, for its finding: no display named; a display (or
// compositor) that could not be reached or did not answer in time; a Wayland desktop that offers
// no way to capture it.
enum class DesktopAbsence { noDisplay, unreachable, noScreenshotService };
SurfaceFinding desktopFindingWithout(DesktopAbsence why);

} // namespace kestro
