#pragma once
// The desktop portal's screenshot service (org.freedesktop.portal.Screenshot, which GNOME, KDE
// Plasma and other desktops offer) on the session bus: whether it is there, and one picture
// taken without asking the person to pick anything. Every wait ends by the deadline; a request
// given up is closed, so that a late answer leaves no picture behind. Linux only
// (ScreenshotPortalLinux.cpp).

#include "platform/EnvironmentLookup.h"
#include "surfaces/ImageShrinking.h"

#include <chrono>
#include <optional>
#include <string>

namespace kestro {

enum class PortalAnswer {
    answered,  // the service is there / the picture was taken
    refused,   // the desktop (or the person) did not allow the picture
    noService, // no session bus, no portal, or a portal without a screenshot service
    timedOut,  // the bus or the portal did not answer by the deadline
    failed,    // an answer that could not be used (a file that is not a fresh picture of ours)
};

// The session bus named by DBUS_SESSION_BUS_ADDRESS, else XDG_RUNTIME_DIR/bus: the first of its
// addresses that is a local socket; absent when there is none. Other transports are not used:
// one would need a host-name lookup that no deadline can bound, and one starts a program.
std::optional<std::string> sessionBusAddress(const EnvironmentLookup& environment);

// Whether the portal offers its screenshot service (asking it for the service's version).
PortalAnswer screenshotPortalOffered(const EnvironmentLookup& environment,
                                     std::chrono::steady_clock::time_point deadline);

struct PortalScreenshot {
    PortalAnswer answer = PortalAnswer::failed;
    std::optional<RGBImage> image; // when answered
};
// Asks for a picture of the whole screen, reads the file the portal wrote (a PNG), shrunk to at
// most `maxSide` pixels on its longer side, and removes it.
PortalScreenshot takePortalScreenshot(const EnvironmentLookup& environment,
                                      std::chrono::steady_clock::time_point deadline, uint32_t maxSide);

// The local path a "file://" URI names (its host empty or "localhost", its escapes decoded);
// absent for any other URI, a relative path or one holding a NUL.
std::optional<std::string> localPathOfFileURI(const std::string& uri);

} // namespace kestro
