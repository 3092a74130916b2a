#pragma once
// The desktop and the window in front in a Wayland session. The screen comes from the
// compositor's screencopy through grim where it offers that (sway, Hyprland, labwc, river), else
// from the desktop portal (GNOME, KDE Plasma); the window in front from the compositor's toplevel
// list where it keeps one (wlroots desktops). Never fails; everything ends by its budget. Says
// what it found, not how to word it. Linux only (WaylandSurfacesLinux.cpp).

#include "platform/EnvironmentLookup.h"
#include "surfaces/ImageShrinking.h"

#include <chrono>
#include <optional>
#include <string>

namespace kestro {

struct WaylandLook {
    enum class Desktop {
        capturable,
        unreachable,         // no compositor and no portal answered
        noScreenshotService, // the compositor answered, but offers no way to capture it
    };
    Desktop desktop = Desktop::unreachable;
    bool frontKnowable = false;          // the compositor keeps a toplevel list that was read
    std::optional<std::string> frontApp; // the application id of the window in front, if any
    bool timedOut = false;               // the compositor or the portal did not answer in time
};

// What can be captured, and the window in front; `grim` is grim's absolute path.
WaylandLook lookAtWaylandDesktop(const EnvironmentLookup& environment, const std::string& grim,
                                 std::chrono::milliseconds budget);

struct WaylandPicture {
    enum class End {
        captured,
        unreachable,         // as in WaylandLook
        noScreenshotService, // as in WaylandLook
        refused,             // the desktop did not allow the portal's screenshot
        portalTimedOut,      // the portal did not answer in time (it may be asking the person)
        failed,              // there was a way, but it gave no picture
    };
    End end = End::failed;
    std::optional<RGBImage> image; // when captured
    bool timedOut = false;         // the compositor or grim did not answer in time
};

// The screen shrunk to at most `maxSide` pixels on its longer side: through grim, the output the
// window in front is on when the compositor says which, else every output; through the portal,
// what the portal gives (every screen).
WaylandPicture takeWaylandPicture(const EnvironmentLookup& environment, const std::string& grim,
                                  std::chrono::milliseconds budget, uint32_t maxSide);

} // namespace kestro
