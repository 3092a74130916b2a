// The built runtime's previews on a real X display (Xvfb managed by openbox): a QR code shown on
// the screen reads back from the desktop preview, a Chromium window in front makes the browser
// entry live, and an authority file without end neither holds the start nor fills memory.

#include "core/PairingPage.h"
#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/DesktopSession.h"
#include "support/LoopbackHTTP.h"
#include "support/PreviewImages.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "text/Text.h"

#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;
using namespace std::chrono;
using json = nlohmann::ordered_json;

namespace {

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

class DesktopPreviewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_desktop.display().empty()) << "Xvfb did not start";
        m_port = freePort();
        m_agent = std::make_unique<AgentProcess>(
            std::vector<std::string>{"--port", std::to_string(m_port), "--token", kToken,
                                     "--no-open-pair-page"},
            std::map<std::string, std::string>{{"HOME", m_home.path()},
                                               {"XDG_RUNTIME_DIR", m_home.path()},
                                               {"PATH", "/usr/bin:/bin"},
                                               {"DISPLAY", m_desktop.display()}});
        ASSERT_EQ(m_agent->waitForLines(9).size(), 9u) << m_agent->standardError();
    }

    json surfaces() const {
        const HTTPAnswer answer = request(m_port, "GET", "/status", {{"X-Kestro-Token", kToken}});
        return json::parse(answer.body)["remoteSurfaces"];
    }
    json preview(const std::string& kind) const {
        const HTTPAnswer answer = request(m_port, "POST", "/surface-preview", {{"X-Kestro-Token", kToken}},
                                          json{{"kind", kind}}.dump());
        return json::parse(answer.body);
    }

    DesktopSession m_desktop; // 1280 × 1024, so previews are shrunk to 900 × 720
    TemporaryFolder m_home;
    uint16_t m_port = 0;
    std::unique_ptr<AgentProcess> m_agent;
};

} // namespace

TEST_F(DesktopPreviewTest, AQRCodeOnTheScreenReadsBackFromTheDesktopPreview) {
    const std::string text = "kestro-preview-check-" + std::to_string(::getpid());
    const std::string picture = m_home.write("code.png", pairingQRCodePNG(text).value());
    ASSERT_TRUE(m_desktop.start("/usr/bin/display", {"-geometry", "+80+60", picture}));

    const std::string capture = m_home.path() + "/capture.jpg";
    json last;
    const bool read = eventually(
        [&] {
            last = preview("desktop");
            if (!last.contains("imageBase64")) return false;
            m_home.write("capture.jpg", base64Decoded(last["imageBase64"]));
            const auto decoded = runProcess(
                {.executable = "/usr/bin/zbarimg",
                 .arguments = {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", capture}});
            return trimmed(decoded.standardOutput) == text;
        },
        seconds(60));
    EXPECT_TRUE(read) << last.dump().substr(0, 400);
    EXPECT_EQ(last["kind"], "desktop");
    EXPECT_EQ(last["title"], "Desktop");
    EXPECT_EQ(last["status"], "Live");
    EXPECT_EQ(last["detail"], "Current desktop capture from this computer.");
    EXPECT_EQ(last["isAvailable"], true);
    EXPECT_EQ(last["previewAvailable"], true);
    EXPECT_EQ(last["mimeType"], "image/jpeg");
    const auto image = decodedJPEG(base64Decoded(last.value("imageBase64", "")));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 900);
    EXPECT_EQ(image->height, 720);

    const json desktop = surfaces()[0];
    EXPECT_EQ(desktop["title"], "Desktop");
    EXPECT_EQ(desktop["status"], "Live");
    EXPECT_EQ(desktop["detail"],
              "Capture the current desktop when you want to see what Codex is doing on this computer.");
    EXPECT_EQ(desktop["isAvailable"], true);
    EXPECT_EQ(desktop["previewAvailable"], true);
}

TEST_F(DesktopPreviewTest, AChromiumWindowInFrontMakesTheBrowserEntryLive) {
    EXPECT_EQ(surfaces()[1]["status"], "Off");
    const std::string page = m_home.write("page.html", "<title>kestro</title><h1>A page in front</h1>");
    ASSERT_TRUE(m_desktop.startChromium("file://" + page));
    json browser;
    EXPECT_TRUE(eventually(
        [&] {
            browser = surfaces()[1];
            return browser["status"] == "Live";
        },
        seconds(90)))
        << browser.dump();
    EXPECT_EQ(browser["title"], "Browser Use");
    EXPECT_EQ(browser["detail"], "Chromium is frontmost on this computer right now.");
    EXPECT_EQ(browser["isAvailable"], true);
    EXPECT_EQ(browser["previewAvailable"], true);

    const json shown = preview("Browser");
    EXPECT_EQ(shown["kind"], "browser");
    EXPECT_EQ(shown["status"], "Live");
    EXPECT_EQ(shown["detail"], "Chromium is frontmost on this computer right now.");
    EXPECT_EQ(shown["mimeType"], "image/jpeg");
    EXPECT_TRUE(decodedJPEG(base64Decoded(shown.value("imageBase64", ""))).has_value());
}

// /proc/self/pagemap reports no size and runs to hundreds of gigabytes of the reader's own page
// table: named as the authority file, it is refused at its cap, and a display that needs no
// cookie is captured all the same.
TEST(DesktopAuthorityTest, AnEndlessAuthorityFileNeitherHoldsTheStartNorFillsMemory) {
    DesktopSession desktop({.width = 320, .height = 200, .windowManager = false});
    ASSERT_FALSE(desktop.display().empty()) << "Xvfb did not start";
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", kToken, "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"PATH", "/usr/bin:/bin"},
                        {"DISPLAY", desktop.display()},
                        {"XAUTHORITY", "/proc/self/pagemap"}});
    ASSERT_EQ(agent.waitForLines(9).size(), 9u) << agent.standardError();
    const json status = json::parse(request(port, "GET", "/status", {{"X-Kestro-Token", kToken}}).body);
    EXPECT_EQ(status["remoteSurfaces"][0]["status"], "Live") << status["remoteSurfaces"].dump();
    const HTTPAnswer preview = request(port, "POST", "/surface-preview", {{"X-Kestro-Token", kToken}},
                                       json{{"kind", "desktop"}}.dump());
    EXPECT_TRUE(json::parse(preview.body).contains("imageBase64")) << preview.body.substr(0, 400);
    if (!kSanitizedBuild) {
        EXPECT_LT(peakResidentKilobytes(agent.pid()), 200 * 1024);
    }
}
