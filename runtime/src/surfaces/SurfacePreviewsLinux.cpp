#include "surfaces/SurfacePreviews.h"
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

} // namespace

SurfaceCaptureResult captureDesktopPreview(const SurfaceContext& context) {
    SurfaceCaptureResult result{.title = kDesktopTitle};
    std::optional<RGBImage> image;
    {
        XDisplaySession display(context.environment, kCaptureBudget);
        if (display.state() != XDisplaySession::State::connected) {
            if (display.outOfTime()) reportUnansweredDisplay(context);
            const SurfaceFinding finding = desktopFindingWithoutDisplay(
                display.state() == XDisplaySession::State::unreachable, context.environment);
            result.status = finding.status;
            result.detail = finding.detail;
            return result;
        }
        image = display.screenImage(kPreviewMaxSide);
        if (!image && display.outOfTime()) reportUnansweredDisplay(context);
    }
    const auto jpeg = image ? encodedJPEG(*image) : std::nullopt;
    if (!jpeg) {
        result.status = "Unavailable";
        result.detail = "The desktop display is there, but kestro could not capture it right now.";
        result.isAvailable = true;
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
