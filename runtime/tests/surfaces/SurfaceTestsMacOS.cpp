// The macOS surface detection and previews against fake macOS tools: small scripts standing in
// for osascript, xcrun, screencapture and sips, writing real images. The macOS files call only
// portable functions, so they are built and run here too.

#include "platform/FileReading.h"
#include "support/TemporaryFolder.h"
#include "surfaces/SurfaceDetection.h"
#include "surfaces/SurfacePreviews.h"
#include "text/Base64.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

namespace {

const std::string kImages = std::string(KESTRO_FIXTURES_DIR) + "/images";

std::string fixture(const std::string& name) {
    return readWholeFile(kImages + "/" + name, 16 << 20).value();
}

// Two booted devices an hour apart, one with an unreadable time, one without a name.
constexpr const char* kSimulators = R"({"devices":{
  "com.apple.CoreSimulator.SimRuntime.iOS-17-0":[
    {"state":"Booted","name":"iPhone Early","udid":"EARLY","lastBootedAt":"2026-12-08T09:00:00Z"},
    {"state":"Shutdown","name":"iPhone Off","udid":"OFF","lastBootedAt":"2026-12-08T23:00:00Z"}],
  "com.apple.CoreSimulator.SimRuntime.iOS-18-0":[
    {"state":"Booted","name":"iPhone Garbled","udid":"GARBLED","lastBootedAt":"yesterday"},
    {"state":"Booted","udid":"LATE","lastBootedAt":"2026-12-08T10:00:00Z"}],
  "note":"not a list"}})";

class SurfaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_tools.osascript = m_tools.xcrun = m_tools.screencapture = m_tools.sips = m_bin.path() + "/missing";
        m_context.temporaryDirectory = m_temporary.path();
    }

    std::string tool(const std::string& name, const std::string& body) {
        const std::string path = m_bin.write(name, "#!/bin/sh\n" + body);
        ::chmod(path.c_str(), 0755);
        return path;
    }
    void frontmost(const std::string& application) {
        m_tools.osascript = tool("osascript", "echo '" + application + "'\n");
    }
    void screencaptureWritingImage() {
        // The last argument is the file to write, as with the real tool.
        m_tools.screencapture =
            tool("screencapture", "for last; do :; done\ncp '" + kImages + "/desktop.jpg' \"$last\"\n");
    }
    void sipsShrinking() {
        m_tools.sips =
            tool("sips", "for last; do :; done\ncp '" + kImages + "/desktop-shrunk.jpg' \"$last\"\n");
    }
    void xcrunWithSimulators() {
        m_tools.xcrun =
            tool("xcrun", std::string("case \"$2\" in\n  list) cat <<'JSON'\n") + kSimulators +
                              "\nJSON\n  ;;\n  io) cp '" + kImages + "/simulator.png' \"$5\" ;;\nesac\n");
    }
    void updateContext() { m_context.tools = m_tools; }
    SurfaceContext context() const { return {.tools = m_tools}; }
    bool temporaryFilesRemain() const { return !std::filesystem::is_empty(m_temporary.path()); }

    TemporaryFolder m_bin, m_temporary;
    SystemTools m_tools;
    SurfaceContext m_context;
};

} // namespace

TEST_F(SurfaceTest, ABrowserInFrontIsLive) {
    frontmost("Google Chrome");
    screencaptureWritingImage();
    const auto surfaces = detectRemoteSurfaces({}, {}, context());
    ASSERT_EQ(surfaces.size(), 3u);
    EXPECT_EQ(surfaces[0].kind, "desktop");
    EXPECT_TRUE(surfaces[0].isAvailable && surfaces[0].previewAvailable);
    EXPECT_EQ(surfaces[1],
              (KestroAgentRemoteSurfacePayload{.kind = "browser",
                                               .title = "Browser Use",
                                               .status = "Live",
                                               .detail = "Google Chrome is frontmost on the Mac right now.",
                                               .isAvailable = true,
                                               .previewAvailable = true,
                                               .lastUpdated = surfaces[0].lastUpdated}));
    EXPECT_EQ(surfaces[2].kind, "simulator");
    EXPECT_EQ(surfaces[2].lastUpdated, surfaces[0].lastUpdated);
    EXPECT_EQ(surfaces[2].status, "Off");
}

TEST_F(SurfaceTest, BrowserSkillsAndComputerUseServers) {
    frontmost("TextEdit");
    const std::vector<KestroAgentSkillPayload> skills{
        {.name = "web", .description = "Browser automation", .source = "User", .path = "/x"}};
    EXPECT_EQ(detectFrontmostBrowser(skills, context()),
              (SurfaceFinding{
                  "Ready", "Browser tools are installed. Open a browser task on the Mac to preview it here.",
                  true, false}));
    m_tools.osascript = tool("osascript", "echo 'execution error: Not authorized' >&2\nexit 1\n");
    const auto surfaces = detectRemoteSurfaces({}, {"My-Computer-Use-Server"}, context());
    EXPECT_EQ(surfaces[1].status, "Off");
    EXPECT_EQ(surfaces[1].detail, "No browser control surface detected from the current Codex setup.");
    EXPECT_TRUE(surfaces[1].isAvailable);
    EXPECT_FALSE(surfaces[1].previewAvailable);
    EXPECT_FALSE(surfaces[0].isAvailable);
}

TEST_F(SurfaceTest, TheLatestBootedSimulatorIsReported) {
    EXPECT_EQ(bootedSimulatorFrom(kSimulators), (BootedSimulator{"Booted simulator", "LATE"}));
    EXPECT_EQ(
        bootedSimulatorFrom(R"({"devices":{"r":[{"state":"Booted","name":"Only","lastBootedAt":"x"}]}})"),
        (BootedSimulator{"Only", "booted"}));
    EXPECT_FALSE(bootedSimulatorFrom("xcrun: error: unable to find utility \"simctl\"").has_value());
    EXPECT_FALSE(bootedSimulatorFrom(R"({"devices":[]})").has_value());

    EXPECT_EQ(detectBootedSimulator(context()).status, "Off");
    m_tools.xcrun = tool("xcrun", "echo 'xcrun: error: no developer tools' >&2\nexit 1\n");
    EXPECT_EQ(detectBootedSimulator(context()),
              (SurfaceFinding{"Ready",
                              "Simulator tools are installed, but no booted iPhone simulator was detected.",
                              true, false}));
    xcrunWithSimulators();
    EXPECT_EQ(
        detectBootedSimulator(context()),
        (SurfaceFinding{"Live", "Booted simulator is booted and can be previewed remotely.", true, true}));
}

TEST_F(SurfaceTest, DesktopPreviewsAreShrunkWhenSipsIsThere) {
    screencaptureWritingImage();
    updateContext();
    const auto unshrunk = surfacePreviewPayload("Desktop", {}, m_context);
    EXPECT_EQ(unshrunk.kind, "desktop");
    EXPECT_EQ(unshrunk.status, "Live");
    EXPECT_EQ(unshrunk.detail, "Current desktop capture from the Mac.");
    EXPECT_EQ(unshrunk.mimeType, "image/jpeg");
    EXPECT_EQ(unshrunk.imageBase64, base64Encoded(fixture("desktop.jpg")));
    sipsShrinking();
    updateContext();
    const auto shrunk = surfacePreviewPayload("tv", {}, m_context);
    EXPECT_EQ(shrunk.kind, "tv");
    EXPECT_EQ(shrunk.imageBase64, base64Encoded(fixture("desktop-shrunk.jpg")));
    EXPECT_FALSE(temporaryFilesRemain());
}

TEST_F(SurfaceTest, ARefusedOrMissingScreenCapture) {
    m_tools.screencapture = tool("screencapture", "echo 'could not create image from display' >&2\nexit 1\n");
    updateContext();
    const auto refused = surfacePreviewPayload("desktop", {}, m_context);
    EXPECT_EQ(refused.status, "Permission");
    EXPECT_EQ(refused.detail,
              "Allow Screen Recording for kestro Agent or the terminal to show live desktop previews.");
    EXPECT_TRUE(refused.isAvailable);
    EXPECT_FALSE(refused.previewAvailable);
    EXPECT_FALSE(refused.imageBase64.has_value());
    m_tools.screencapture = m_bin.path() + "/missing";
    updateContext();
    const auto missing = surfacePreviewPayload("desktop", {}, m_context);
    EXPECT_EQ(missing.status, "Off");
    EXPECT_EQ(missing.detail, "macOS screen capture tools are unavailable on this machine.");
    EXPECT_FALSE(temporaryFilesRemain());
}

TEST_F(SurfaceTest, BrowserPreviewsOnlyWithABrowserInFront) {
    screencaptureWritingImage();
    frontmost("Terminal");
    updateContext();
    const auto none = surfacePreviewPayload("browser", {}, m_context);
    EXPECT_EQ(none.status, "Off");
    EXPECT_FALSE(none.imageBase64.has_value());
    frontmost("Safari");
    updateContext();
    const auto live = surfacePreviewPayload("BROWSER", {}, m_context);
    EXPECT_EQ(live.kind, "browser");
    EXPECT_EQ(live.title, "Browser Use");
    EXPECT_EQ(live.detail, "Safari is frontmost on the Mac right now.");
    EXPECT_TRUE(live.previewAvailable);
    EXPECT_EQ(live.imageBase64, base64Encoded(fixture("desktop.jpg")));
    EXPECT_FALSE(temporaryFilesRemain());
}

TEST_F(SurfaceTest, SimulatorPreviewsKeepTheirFormatWithoutSips) {
    xcrunWithSimulators();
    updateContext();
    const auto png = surfacePreviewPayload("simulator", {}, m_context);
    EXPECT_EQ(png.status, "Live");
    EXPECT_EQ(png.detail, "Booted simulator is booted and can be previewed remotely.");
    EXPECT_EQ(png.mimeType, "image/png");
    EXPECT_EQ(png.imageBase64, base64Encoded(fixture("simulator.png")));
    sipsShrinking();
    updateContext();
    EXPECT_EQ(surfacePreviewPayload("simulator", {}, m_context).mimeType, "image/jpeg");

    m_tools.xcrun =
        tool("xcrun", std::string("[ \"$2\" = list ] && cat <<'JSON'\n") + kSimulators + "\nJSON\nexit 0\n");
    updateContext();
    const auto failed = surfacePreviewPayload("simulator", {}, m_context);
    EXPECT_EQ(failed.status, "Unavailable");
    EXPECT_EQ(failed.detail, "A simulator is booted, but kestro could not capture it right now.");
    EXPECT_TRUE(failed.isAvailable);
    EXPECT_FALSE(failed.previewAvailable);
    EXPECT_FALSE(temporaryFilesRemain());
}

TEST(Base64Test, EncodesAllPaddings) {
    EXPECT_EQ(base64Encoded(""), "");
    EXPECT_EQ(base64Encoded("f"), "Zg==");
    EXPECT_EQ(base64Encoded("fo"), "Zm8=");
    EXPECT_EQ(base64Encoded("foo"), "Zm9v");
    EXPECT_EQ(base64Encoded(std::string("\xFF\x00\x10", 3)), "/wAQ");
}
