// The written pairing files, read by a real QR decoder and rendered by a real browser.

#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;

namespace {

std::string decodedQR(const std::string& pngPath) {
    std::string text =
        runProcess({.executable = "/usr/bin/zbarimg",
                    .arguments = {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", pngPath}})
            .standardOutput;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

struct StartedAgent {
    std::vector<std::string> lines;
    std::string link;
    std::string pagePath;
};

StartedAgent startAgent(AgentProcess& agent) {
    StartedAgent started;
    started.lines = agent.waitForLines(8);
    if (started.lines.size() == 8 && started.lines[7] != "Pair Page: unavailable")
        started.lines = agent.waitForLines(9);
    for (const auto& line : started.lines) {
        if (line.starts_with("Pair Link: ")) started.link = line.substr(11);
        if (line.starts_with("Pair Page: ")) started.pagePath = line.substr(11);
    }
    return started;
}

} // namespace

TEST(PairingPageTest, TheQRImageDecodesToTheBannerLinkForAwkwardNames) {
    for (const std::string name : {"Studio", "Lab's MacBook Pro", "R&D = #1", "Café Größe 山"}) {
        TemporaryFolder home;
        AgentProcess agent(
            {"--port", std::to_string(freePort()), "--name", name, "--no-open-pair-page"},
            {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}, {"PATH", "/usr/bin:/bin"}});
        const StartedAgent started = startAgent(agent);
        ASSERT_EQ(started.lines.size(), 9u) << agent.standardError();
        ASSERT_TRUE(started.pagePath.ends_with(".html")) << started.pagePath;
        const std::string png = started.pagePath.substr(0, started.pagePath.size() - 5) + ".png";
        EXPECT_EQ(decodedQR(png), started.link) << name;

        // Only this user may read the files: they carry the token.
        struct stat info {};
        ASSERT_EQ(::stat(png.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(started.pagePath.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

TEST(PairingPageTest, ThePrivateFolderIsUsedWithoutARuntimeDirectory) {
    TemporaryFolder home, tmp;
    AgentProcess agent({"--port", std::to_string(freePort()), "--name", "A/B", "--no-open-pair-page"},
                       {{"HOME", home.path()}, {"TMPDIR", tmp.path()}, {"PATH", "/usr/bin:/bin"}});
    const StartedAgent started = startAgent(agent);
    const std::string folder = tmp.path() + "/kestro-" + std::to_string(::getuid());
    EXPECT_EQ(started.pagePath, folder + "/kestro-pair-a-b.html");
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// Another user could swap the page and the QR code in a runtime folder they can change.
TEST(PairingPageTest, ARuntimeFolderOthersCanChangeIsNotUsed) {
    TemporaryFolder home, tmp, shared, foreign;
    ::chmod(shared.path().c_str(), 0777);
    ASSERT_EQ(::chown(foreign.path().c_str(), 65534, 65534), 0) << "the tests run as root";
    for (const auto& runtimeFolder : {shared.path(), foreign.path()}) {
        AgentProcess agent({"--port", std::to_string(freePort()), "--name", "Rig", "--no-open-pair-page"},
                           {{"HOME", home.path()},
                            {"TMPDIR", tmp.path()},
                            {"XDG_RUNTIME_DIR", runtimeFolder},
                            {"PATH", "/usr/bin:/bin"}});
        const StartedAgent started = startAgent(agent);
        EXPECT_EQ(started.pagePath,
                  tmp.path() + "/kestro-" + std::to_string(::getuid()) + "/kestro-pair-rig.html");
        EXPECT_TRUE(std::filesystem::is_empty(runtimeFolder));
    }
}

TEST(PairingPageTest, AFolderPlantedAsALinkIsRefused) {
    TemporaryFolder home, tmp, elsewhere;
    const std::string folder = tmp.path() + "/kestro-" + std::to_string(::getuid());
    std::filesystem::create_directory_symlink(elsewhere.path(), folder);
    AgentProcess agent({"--port", std::to_string(freePort()), "--no-open-pair-page"},
                       {{"HOME", home.path()}, {"TMPDIR", tmp.path()}, {"PATH", "/usr/bin:/bin"}});
    const StartedAgent started = startAgent(agent);
    ASSERT_EQ(started.lines.size(), 8u) << agent.standardError();
    EXPECT_EQ(started.lines[7], "Pair Page: unavailable");
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

TEST(PairingPageTest, ChromiumRendersThePageWithAScannableCode) {
    TemporaryFolder home, profile;
    AgentProcess agent({"--port", std::to_string(freePort()), "--name", "Lab's Mac", "--no-open-pair-page"},
                       {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}, {"PATH", "/usr/bin:/bin"}});
    const StartedAgent started = startAgent(agent);
    ASSERT_FALSE(started.pagePath.empty());
    const std::string screenshot = home.path() + "/page.png";
    const auto chromium = runProcess(
        {.executable = "/usr/bin/chromium",
         .arguments = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                       "--disable-component-update", "--disable-sync", "--no-first-run",
                       "--user-data-dir=" + profile.path(), "--screenshot=" + screenshot,
                       "--window-size=800,1200", "file://" + started.pagePath}});
    ASSERT_TRUE(std::filesystem::exists(screenshot)) << chromium.standardError;
    EXPECT_EQ(decodedQR(screenshot), started.link);
}

TEST(PairingPageTest, ALinkTooLongForAQRCodeIsExplainedAndTheRuntimeServesOn) {
    TemporaryFolder home, tmp;
    const uint16_t port = freePort();
    const std::string token = "long-link-token-0123456789";
    AgentProcess agent(
        {"--port", std::to_string(port), "--advertise-host", std::string(2300, 'h'), "--no-open-pair-page"},
        {{"HOME", home.path()},
         {"TMPDIR", tmp.path()},
         {"PATH", "/usr/bin:/bin"},
         {"KESTRO_AGENT_TOKEN", token}});
    const StartedAgent started = startAgent(agent);
    ASSERT_EQ(started.lines.size(), 8u) << agent.standardError();
    EXPECT_EQ(started.lines[7], "Pair Page: unavailable");
    EXPECT_GT(started.link.size(), 2331u);
    // One line on standard error says why and what to do.
    std::string errors;
    EXPECT_TRUE(eventually([&] {
        errors = agent.standardError();
        return errors.ends_with("\n");
    }));
    EXPECT_EQ(errors, "kestro-agent: The pair link is too long for a QR code (" +
                          std::to_string(started.link.size()) +
                          " bytes, at most 2331 fit), so there is no pairing page: shorten the advertised "
                          "host, the machine name, the working folder or the token.\n");
    EXPECT_EQ(request(port, "GET", "/status", {{"X-Kestro-Token", token}}).status, 200);
    const std::string folder = tmp.path() + "/kestro-" + std::to_string(::getuid());
    EXPECT_TRUE(!std::filesystem::exists(folder) || std::filesystem::is_empty(folder));
}
