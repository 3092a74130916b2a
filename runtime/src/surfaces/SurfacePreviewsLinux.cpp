#include "surfaces/SurfacePreviews.h"
#include "surfaces/WaylandDisplay.h"
#include "surfaces/WaylandSurfaces.h"
#include "surfaces/XDisplay.h"
#include "text/Base64.h"

#include <memory>
#include <turbojpeg.h>

namespace kestro {

namespace {

// A capture waits this long at most for the display, from the connection to the last band.
constexpr std::chrono::milliseconds kCaptureBudget{5000};
// Small enough for one JSON answer, sharp enough to read a terminal on a phone.
constexpr int kJPEGQuality = 80;

std::optional<std::string> encodedJPEG(const RGBImage& image) {
    const auto destroy = [](tjhandle handle) { tjDestroy(handle); };
    const std::unique_ptr<void, decltype(destroy)> compressor(tjInitCompress(), destroy);
    if (!compressor) return std::nullopt;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int failed =
        tjCompress2(compressor.get(), image.pixels.data(), static_cast<int>(image.size.width), 0,
                    static_cast<int>(image.size.height), TJPF_RGB, &jpeg, &size, TJSAMP_420, kJPEGQuality, 0);
    const auto release = [](unsigned char* bytes) { tjFree(bytes); };
    const std::unique_ptr<unsigned char, decltype(release)> owned(jpeg, release);
    if (failed != 0 || jpeg == nullptr || size == 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(jpeg), size);
}

SurfaceFinding captureFailedFinding() {
    return {"Unavailable", "The desktop display is there, but kestro could not capture it right now.", true,
            false};
}

// The finding for a Wayland picture that did not come.
SurfaceFinding findingWithoutPicture(WaylandPicture::End end) {
    switch (end) {
    case WaylandPicture::End::unreachable:
        return desktopFindingWithout(DesktopAbsence::unreachable);
    case WaylandPicture::End::noScreenshotService:
        return desktopFindingWithout(DesktopAbsence::noScreenshotService);
    case WaylandPicture::End::refused:
        return {"Permission",
                "The desktop refused the screenshot. Allow applications to take screenshots in the desktop's "
                "privacy settings, then try again.",
                true, false};
    case WaylandPicture::End::portalTimedOut:
        return {
            "Unavailable",
            "The desktop's screenshot service did not answer in time. If the computer asks whether to allow "
            "screenshots, allow them there, then try again.",
            true, false};
    case WaylandPicture::End::captured:
    case WaylandPicture::End::failed:
        break;
    }
    return captureFailedFinding();
}

// The picture of the screen, or the finding that says why there is none.
std::pair<std::optional<RGBImage>, SurfaceFinding> desktopPicture(const SurfaceContext& context) {
    if (isWaylandSession(context.environment)) {
        WaylandPicture picture =
            takeWaylandPicture(context.environment, context.tools.grim, kCaptureBudget, kPreviewMaxSide);
        if (picture.timedOut) reportUnansweredDisplay(context);
        return {std::move(picture.image), findingWithoutPicture(picture.end)};
    }
    XDisplaySession display(context.environment, kCaptureBudget);
    if (display.state() != XDisplaySession::State::connected) {
        if (display.outOfTime()) reportUnansweredDisplay(context);
        return {std::nullopt, desktopFindingWithout(display.state() == XDisplaySession::State::unreachable
                                                        ? DesktopAbsence::unreachable
                                                        : DesktopAbsence::noDisplay)};
    }
    auto image = display.screenImage(kPreviewMaxSide);
    if (!image && display.outOfTime()) reportUnansweredDisplay(context);
    return {std::move(image), captureFailedFinding()};
}

} // namespace

SurfaceCaptureResult captureDesktopPreview(const SurfaceContext& context) {
    SurfaceCaptureResult result{.title = kDesktopTitle};
    auto [image, without] = desktopPicture(context);
    const auto jpeg = image ? encodedJPEG(*image) : std::nullopt;
    if (!jpeg) {
        result.status = without.status;
        result.detail = without.detail;
        result.isAvailable = without.isAvailable;
        return result;
    }
    result.status = "Live";
    result.detail = "Current desktop capture from this computer.";
    result.isAvailable = result.previewAvailable = true;
    result.mimeType = "image/jpeg";
    result.imageBase64 = base64Encoded(*jpeg);
    return result;
}

SurfaceCaptureResult captureSimulatorPreview(const SurfaceContext& context) {
    const SurfaceFinding finding = detectBootedSimulator(context);
    return {.title = "iOS Simulator",
            .status = finding.status,
            .detail = finding.detail,
            .isAvailable = finding.isAvailable};
}

} // namespace kestro
