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

namespace {

KestroAgentSurfacePreviewPayload payloadOf(const std::string& lowerKind,
                                           const SurfaceCaptureResult& capture) {
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

} // namespace

KestroAgentSurfacePreviewPayload surfacePreviewPayload(const std::string& kind,
                                                       const std::vector<KestroAgentSkillPayload>& skills,
                                                       const SurfaceContext& context) {
    const std::string lowerKind = lowercased(kind);
    if (lowerKind == "browser") return payloadOf(lowerKind, captureBrowserPreview(skills, context));
    if (lowerKind == "simulator") return payloadOf(lowerKind, captureSimulatorPreview(context));
    return payloadOf(lowerKind, captureDesktopPreview(context));
}

KestroAgentSurfacePreviewPayload previewWhenUnanswered(const std::string& kind,
                                                       const std::vector<KestroAgentSkillPayload>& skills,
                                                       const SurfaceContext& context) {
    const std::string lowerKind = lowercased(kind);
    const SurfaceFindings findings = findingsWhenUnanswered(skills, context);
    const auto without = [](const char* title, const SurfaceFinding& finding) {
        return SurfaceCaptureResult{.title = title,
                                    .status = finding.status,
                                    .detail = finding.detail,
                                    .isAvailable = finding.isAvailable};
    };
    if (lowerKind == "browser") return payloadOf(lowerKind, without("Browser Use", findings.browser));
    if (lowerKind == "simulator") return payloadOf(lowerKind, without("iOS Simulator", findings.simulator));
    return payloadOf(lowerKind, without(kDesktopTitle, findings.desktop));
}

} // namespace kestro
