#pragma once
// Screenshots of one surface, shrunk and returned inline as Base64. Never fails: each outcome has
// its own wording. Each operating system captures its own way (SurfacePreviewsMacOS.cpp with the
// macOS tools and temporary files, every one removed again; SurfacePreviewsLinux.cpp from the X
// display, in memory); choosing the capture and the browser preview are shared.

#include "core/WireRecords.h"
#include "surfaces/SurfaceDetection.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct SurfaceCaptureResult {
    std::string title;
    std::string status;
    std::string detail;
    bool isAvailable = false;
    bool previewAvailable = false;
    std::optional<std::string> mimeType;
    std::optional<std::string> imageBase64;
};

// Previews are shrunk to at most this many pixels on their longer side.
inline constexpr uint32_t kPreviewMaxSide = 900;

// The browser finding's wording, with the desktop's picture when a browser is in front.
SurfaceCaptureResult captureBrowserPreview(const std::vector<KestroAgentSkillPayload>& skills,
                                           const SurfaceContext& context);

// "browser", "simulator", or the desktop for every other kind (compared in lower case).
KestroAgentSurfacePreviewPayload surfacePreviewPayload(const std::string& kind,
                                                       const std::vector<KestroAgentSkillPayload>& skills,
                                                       const SurfaceContext& context);

// The preview while the display does not answer (findingsWhenUnanswered): the surface's wording,
// no picture. Asks nothing of the display or of any outside program.
KestroAgentSurfacePreviewPayload previewWhenUnanswered(const std::string& kind,
                                                       const std::vector<KestroAgentSkillPayload>& skills,
                                                       const SurfaceContext& context);

// Per operating system --------------------------------------------------------------------------

SurfaceCaptureResult captureDesktopPreview(const SurfaceContext& context);
SurfaceCaptureResult captureSimulatorPreview(const SurfaceContext& context);

// macOS only ------------------------------------------------------------------------------------

struct PreviewData {
    std::string bytes;
    bool shrunk = false; // true when the bytes are the JPEG copy sips made
};
// The shrunk JPEG copy when sips can make one, else the screenshot itself; absent without a file.
std::optional<PreviewData> loadPreviewData(const std::string& screenshotPath, const SystemTools& tools);

} // namespace kestro
