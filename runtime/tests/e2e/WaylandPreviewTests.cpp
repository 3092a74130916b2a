// The built runtime in a headless sway session, run as the session's user: a QR code shown in a
// foot terminal whose application id is "firefox" reads back from the desktop preview (taken
// through screencopy by grim), and the browser entry names Firefox from the compositor's toplevel
// list. An X display named beside it is never asked.

#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/PreviewImages.h"
#include "support/WaylandSession.h"
#include "text/Text.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;
using namespace std::chrono;
using json = nlohmann::ordered_json;

TEST(WaylandPreviewTest, AQRCodeInAFirefoxWindowReadsBackAndNamesTheBrowser) {
    WaylandSession session;
    if (!session.unavailable().empty()) GTEST_SKIP() << "no headless sway here: " << session.unavailable();
    const std::string text = "kestro-wayland-check-" + std::to_string(::getpid());
    ASSERT_TRUE(session.start("/usr/bin/foot", {"--app-id=firefox", "--hold", "--", "/usr/bin/qrencode", "-t",
                                                "ANSIUTF8", "-m", "2", text}));

    const std::string token = "0123456789abcdef0123456789abcdef";
    const uint16_t port = freePort();
    auto environment = session.environment();
    environment["TMPDIR"] = session.folder();
    environment["DISPLAY"] = ":59000"; // XWayland's would show no Wayland window
    std::vector<std::string> arguments = session.asUser();
    arguments.insert(arguments.end(), {session.copyForUser(kAgentBinary), "--port", std::to_string(port),
                                       "--token", token, "--no-open-pair-page"});
    const std::string launcher = arguments.front();
    arguments.erase(arguments.begin());
    AgentProcess agent(OtherProgram{launcher}, arguments, environment);
    ASSERT_EQ(agent.waitForLines(9).size(), 9u) << agent.standardError();
    const auto post = [&](const std::string& path, const json& body) {
        return json::parse(request(port, "POST", path, {{"X-Kestro-Token", token}}, body.dump()).body);
    };

    json surfaces;
    EXPECT_TRUE(eventually(
        [&] {
            surfaces = post("/status", json::object())["remoteSurfaces"];
            return surfaces[1]["status"] == "Live";
        },
        seconds(30)))
        << surfaces.dump();
    EXPECT_EQ(surfaces[0]["status"], "Live");
    EXPECT_EQ(surfaces[1]["detail"], "Firefox is frontmost on this computer right now.");

    const std::string capture = session.folder() + "/capture.jpg";
    json preview;
    const bool read = eventually(
        [&] {
            preview = post("/surface-preview", {{"kind", "desktop"}});
            if (!preview.contains("imageBase64")) return false;
            std::ofstream(capture, std::ios::binary) << base64Decoded(preview["imageBase64"]);
            const auto decoded = runProcess(
                {.executable = "/usr/bin/zbarimg",
                 .arguments = {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", capture}});
            return trimmed(decoded.standardOutput) == text;
        },
        seconds(30));
    EXPECT_TRUE(read) << preview.dump().substr(0, 400);
    EXPECT_EQ(preview["status"], "Live");
    EXPECT_EQ(preview["detail"], "Current desktop capture from this computer.");
    const auto image = decodedJPEG(base64Decoded(preview.value("imageBase64", "")));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 900);
    EXPECT_EQ(image->height, 506);

    // With a second monitor beside it, the picture is still of the one the window is on (the two
    // side by side would be 900 x 253).
    ASSERT_TRUE(session.addOutput());
    const auto second =
        decodedJPEG(base64Decoded(post("/surface-preview", {{"kind", "desktop"}}).value("imageBase64", "")));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->width, 900);
    EXPECT_EQ(second->height, 506);
}
