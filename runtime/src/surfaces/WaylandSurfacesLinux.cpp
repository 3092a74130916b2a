#include "platform/FileChecks.h"
#include "surfaces/GrimCapture.h"
#include "surfaces/ScreenshotPortal.h"
#include "surfaces/WaylandDisplay.h"
#include "surfaces/WaylandSurfaces.h"

namespace kestro {

namespace {

using Clock = std::chrono::steady_clock;
using State = WaylandDisplaySession::State;

bool grimCanCapture(const WaylandDisplaySession& compositor, const std::string& grim) {
    return compositor.state() == State::connected && compositor.offersScreencopy() && isExecutableFile(grim);
}

// grim finds the compositor by the socket's full path, whatever this process's own environment.
std::vector<std::string> grimEnvironment(const EnvironmentLookup& environment) {
    std::vector<std::string> entries{"PATH=/usr/bin:/bin",
                                     "WAYLAND_DISPLAY=" + *waylandSocketPath(environment)};
    if (const auto runtimeDirectory = environment("XDG_RUNTIME_DIR"))
        entries.push_back("XDG_RUNTIME_DIR=" + *runtimeDirectory);
    return entries;
}

WaylandPicture pictureThroughGrim(const EnvironmentLookup& environment, const std::string& grim,
                                  const std::optional<std::string>& outputName, Clock::time_point deadline,
                                  uint32_t maxSide) {
    GrimCapture capture = captureWithGrim(grim, grimEnvironment(environment), outputName, deadline, maxSide);
    switch (capture.end) {
    case GrimCapture::End::captured:
        return {.end = WaylandPicture::End::captured, .image = std::move(capture.image)};
    case GrimCapture::End::timedOut:
        return {.end = WaylandPicture::End::unreachable, .timedOut = true};
    case GrimCapture::End::failed:
        break;
    }
    return {.end = WaylandPicture::End::failed};
}

WaylandPicture pictureThroughPortal(const EnvironmentLookup& environment, bool compositorAnswered,
                                    Clock::time_point deadline, uint32_t maxSide) {
    PortalScreenshot screenshot = takePortalScreenshot(environment, deadline, maxSide);
    switch (screenshot.answer) {
    case PortalAnswer::answered:
        return {.end = WaylandPicture::End::captured, .image = std::move(screenshot.image)};
    case PortalAnswer::refused:
        return {.end = WaylandPicture::End::refused};
    case PortalAnswer::timedOut:
        // Most likely the portal is waiting for the person to answer its question: no sign of a
        // hung desktop, which would have failed the portal's check for a status already.
        return {.end = WaylandPicture::End::portalTimedOut};
    case PortalAnswer::noService:
        return {.end = compositorAnswered ? WaylandPicture::End::noScreenshotService
                                          : WaylandPicture::End::unreachable};
    case PortalAnswer::failed:
        break;
    }
    return {.end = WaylandPicture::End::failed};
}

} // namespace

WaylandLook lookAtWaylandDesktop(const EnvironmentLookup& environment, const std::string& grim,
                                 std::chrono::milliseconds budget) {
    const auto deadline = Clock::now() + budget;
    WaylandDisplaySession compositor(environment, budget);
    WaylandLook look;
    if (compositor.offersToplevelList()) {
        const auto front = compositor.frontWindow();
        look.frontKnowable = compositor.state() == State::connected;
        if (front && !front->appID.empty()) look.frontApp = front->appID;
    }
    if (compositor.state() == State::timedOut) {
        // A compositor that hangs holds up the portal too (it asks the compositor for the picture).
        look.timedOut = true;
        return look;
    }
    if (grimCanCapture(compositor, grim)) {
        look.desktop = WaylandLook::Desktop::capturable;
        return look;
    }
    switch (screenshotPortalOffered(environment, deadline)) {
    case PortalAnswer::answered:
        look.desktop = WaylandLook::Desktop::capturable;
        break;
    case PortalAnswer::timedOut:
        look.timedOut = true;
        break;
    case PortalAnswer::refused:
    case PortalAnswer::noService:
    case PortalAnswer::failed:
        if (compositor.state() == State::connected) look.desktop = WaylandLook::Desktop::noScreenshotService;
        break;
    }
    return look;
}

WaylandPicture takeWaylandPicture(const EnvironmentLookup& environment, const std::string& grim,
                                  std::chrono::milliseconds budget, uint32_t maxSide) {
    const auto deadline = Clock::now() + budget;
    std::optional<std::string> outputName;
    bool compositorAnswered = false;
    bool throughGrim = false;
    {
        WaylandDisplaySession compositor(environment, budget);
        if (compositor.state() == State::timedOut)
            return {.end = WaylandPicture::End::unreachable, .timedOut = true};
        compositorAnswered = compositor.state() == State::connected;
        throughGrim = grimCanCapture(compositor, grim);
        // With one output there is nothing to choose.
        if (throughGrim && compositor.outputCount() > 1)
            if (const auto front = compositor.frontWindow()) outputName = front->outputName;
        if (compositor.state() == State::timedOut)
            return {.end = WaylandPicture::End::unreachable, .timedOut = true};
        // The session ends here, before grim opens a connection of its own.
    }
    return throughGrim ? pictureThroughGrim(environment, grim, outputName, deadline, maxSide)
                       : pictureThroughPortal(environment, compositorAnswered, deadline, maxSide);
}

} // namespace kestro
