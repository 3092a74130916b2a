#include "surfaces/SurfacePreviews.h"

#include "text/Text.h"
#include "text/TimeText.h"

namespace kestro {

SurfaceCaptureResult captureBrowserPreview(const std::vector<KestroAgentSkillPayload>& skills,
                                           const SurfaceContext& context) {
    const SurfaceFinding finding = detectFrontmostBrowser(skills, context);
    SurfaceCaptureResult result{.title = "Browser Use",
                                .status = finding.status,
                                .detail = finding.detail,
                                .isAvailable = finding.isAvailable};
    if (!finding.previewAvailable) return result;
    const SurfaceCaptureResult desktop = captureDesktopPreview(context);
    result.previewAvailable = desktop.previewAvailable;
    result.mimeType = desktop.mimeType;
    result.imageBase64 = desktop.imageBase64;
    return result;
}

KestroAgentSurfacePreviewPayload surfacePreviewPayload(const std::string& kind,
                                                       const std::vector<KestroAgentSkillPayload>& skills,
                                                       const SurfaceContext& context) {
    const std::string lowerKind = lowercased(kind);
    SurfaceCaptureResult capture;
    if (lowerKind == "browser")
        capture = captureBrowserPreview(skills, context);
    else if (lowerKind == "simulator")
        capture = captureSimulatorPreview(context);
    else
        capture = captureDesktopPreview(context);
    return {.kind = lowerKind,
            .title = capture.title,
            .status = capture.status,
            .detail = capture.detail,
            .isAvailable = capture.isAvailable,
            .previewAvailable = capture.previewAvailable,
            .mimeType = capture.mimeType,
            .imageBase64 = capture.imageBase64,
            .capturedAt = isoTimeTextNow()};
}

} // namespace kestro
