#pragma once
// Screenshots of one surface, shrunk and returned inline as Base64. Every temporary file is
// removed again on every path. Never fails: each outcome has its own wording.

#include "core/WireRecords.h"
#include "platform/SystemTools.h"

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

// Where the screenshots go; absent when no private temporary folder can be had.
struct CaptureContext {
    SystemTools tools;
    std::optional<std::string> temporaryDirectory;
};

struct PreviewData {
    std::string bytes;
    bool shrunk = false; // true when the bytes are the JPEG copy sips made
};
// The shrunk JPEG copy when sips can make one, else the screenshot itself; absent without a file.
std::optional<PreviewData> loadPreviewData(const std::string& screenshotPath, const SystemTools& tools);

SurfaceCaptureResult captureDesktopPreview(const CaptureContext& context);
SurfaceCaptureResult captureBrowserPreview(const std::vector<KestroAgentSkillPayload>& skills,
                                           const CaptureContext& context);
SurfaceCaptureResult captureSimulatorPreview(const CaptureContext& context);

// "browser", "simulator", or the desktop for every other kind (compared in lower case).
KestroAgentSurfacePreviewPayload surfacePreviewPayload(const std::string& kind,
                                                       const std::vector<KestroAgentSkillPayload>& skills,
                                                       const CaptureContext& context);

} // namespace kestro
