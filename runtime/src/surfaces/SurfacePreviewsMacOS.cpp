#include "platform/FileChecks.h"
#include "platform/FileReading.h"
#include "platform/ProcessRunner.h"
#include "platform/SecureRandom.h"
#include "surfaces/SurfacePreviews.h"
#include "text/Base64.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace kestro {

namespace {

// Removes the file when it goes out of scope, whatever happened meanwhile.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    ~TemporaryFile() {
        std::error_code ignored;
        if (!m_path.empty()) fs::remove(m_path, ignored);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

// A whole-screen PNG of the largest displays stays well below this.
constexpr size_t kScreenshotFileCap = 64 << 20;

std::string screenshotPath(const SurfaceContext& context, const char* prefix, const char* extension) {
    // Without a private folder there is nowhere safe to write: the capture then finds no file.
    if (!context.temporaryDirectory) return "";
    return *context.temporaryDirectory + "/" + prefix + randomUUIDString() + extension;
}

} // namespace

std::optional<PreviewData> loadPreviewData(const std::string& screenshotPath, const SystemTools& tools) {
    if (screenshotPath.empty() || !pathExists(screenshotPath)) return std::nullopt;
    const TemporaryFile preview(fs::path(screenshotPath).replace_extension("preview.jpg").string());
    if (isExecutableFile(tools.sips)) {
        runCommand(tools.sips, {"-s", "format", "jpeg", "-Z", std::to_string(kPreviewMaxSide), screenshotPath,
                                "--out", preview.path()});
        if (auto bytes = readWholeFile(preview.path(), kScreenshotFileCap); bytes && !bytes->empty())
            return PreviewData{*bytes, true};
    }
    if (auto bytes = readWholeFile(screenshotPath, kScreenshotFileCap)) return PreviewData{*bytes, false};
    return std::nullopt;
}

SurfaceCaptureResult captureDesktopPreview(const SurfaceContext& context) {
    const TemporaryFile screenshot(screenshotPath(context, "kestro-desktop-", ".jpg"));
    SurfaceCaptureResult result{.title = kDesktopTitle};
    if (!isExecutableFile(context.tools.screencapture)) {
        result.status = "Off";
        result.detail = "macOS screen capture tools are unavailable on this machine.";
        return result;
    }
    if (!screenshot.path().empty())
        runCommand(context.tools.screencapture, {"-x", "-t", "jpg", screenshot.path()});
    const auto preview = loadPreviewData(screenshot.path(), context.tools);
    if (!preview) {
        result.status = "Permission";
        result.detail =
            "Allow Screen Recording for kestro Agent or the terminal to show live desktop previews.";
        result.isAvailable = true;
        return result;
    }
    result.status = "Live";
    result.detail = "Current desktop capture from the Mac.";
    result.isAvailable = result.previewAvailable = true;
    result.mimeType = "image/jpeg";
    result.imageBase64 = base64Encoded(preview->bytes);
    return result;
}

SurfaceCaptureResult captureSimulatorPreview(const SurfaceContext& context) {
    const SurfaceFinding finding = detectBootedSimulator(context);
    SurfaceCaptureResult result{.title = "iOS Simulator",
                                .status = finding.status,
                                .detail = finding.detail,
                                .isAvailable = finding.isAvailable};
    const auto simulator = currentBootedSimulator(context.tools);
    if (!simulator) return result;
    const TemporaryFile screenshot(screenshotPath(context, "kestro-simulator-", ".png"));
    if (!screenshot.path().empty())
        runCommand(context.tools.env, {kDeveloperDirectory, context.tools.xcrun, "simctl", "io",
                                       simulator->udid, "screenshot", screenshot.path()});
    const auto preview = loadPreviewData(screenshot.path(), context.tools);
    if (!preview) {
        result.status = "Unavailable";
        result.detail = "A simulator is booted, but kestro could not capture it right now.";
        return result;
    }
    result.status = "Live";
    result.isAvailable = result.previewAvailable = true;
    result.mimeType = preview->shrunk ? "image/jpeg" : "image/png";
    result.imageBase64 = base64Encoded(preview->bytes);
    return result;
}

} // namespace kestro
