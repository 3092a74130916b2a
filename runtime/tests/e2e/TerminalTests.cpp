// What the runtime prints on a terminal (a pseudo-terminal made by `script`): the banner, then
// the pairing QR code as text, which a real decoder reads back as the banner's pair link. A pipe,
// as the companion and the user service have, gets the banner alone.

#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "support/TerminalQRImage.h"
#include "text/Text.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::testing;

namespace {

const std::vector<std::string> kBannerStarts{"kestro Agent listening on http://",
                                             "Machine: ",
                                             "Runner: Codex · Workdir: ",
                                             "Token: ",
                                             "Codex: ",
                                             "Diagnostic: ",
                                             "Pair Link: ",
                                             "Pair Page: ",
                                             "Pairing page opened in your browser."};

// The lines a terminal got, without the carriage returns its line discipline adds.
std::vector<std::string> withoutCarriageReturns(std::vector<std::string> lines) {
    for (auto& line : lines)
        if (line.ends_with('\r')) line.pop_back();
    return lines;
}

bool isBanner(const std::vector<std::string>& lines) {
    if (lines.size() != kBannerStarts.size()) return false;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!lines[i].starts_with(kBannerStarts[i])) return false;
    return true;
}

std::map<std::string, std::string> environmentIn(const TemporaryFolder& home) {
    return {{"HOME", home.path()},
            {"XDG_RUNTIME_DIR", home.path()},
            {"PATH", "/usr/bin:/bin"},
            {"KESTRO_AGENT_TOKEN", "terminal-token-0123456789"},
            {"KESTRO_CODEX_PATH", home.path() + "/no-codex"}};
}

// Everything printed once start-up is over: a status answer shows the runtime serving, the
// runtime is stopped, and what it printed is read to the end.
std::vector<std::string> linesAfterStartUp(AgentProcess& agent, uint16_t port, pid_t runtime) {
    agent.waitForLines(kBannerStarts.size());
    EXPECT_EQ(request(port, "GET", "/status", {{"X-Kestro-Token", "terminal-token-0123456789"}}).status, 200);
    ::kill(runtime, SIGTERM);
    agent.waitForExit();
    return withoutCarriageReturns(agent.waitForLines(kBannerStarts.size() + 1));
}

// A byte a terminal acts on: C0, DEL, C1 (U+0080…U+009F, and any byte that is not UTF-8, which
// an 8-bit terminal takes as C1).
bool holdsControlCharacter(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if (byte < 0x20 || byte == 0x7F) return true;
        if (byte == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) <= 0x9F)
            return true;
    }
    return !isValidUTF8(line);
}

} // namespace

TEST(TerminalTest, TheQRCodeAfterTheBannerReadsAsThePairLink) {
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent(kOnTerminal,
                       {"--port", std::to_string(port), "--name", "Lab's Mac", "--no-open-pair-page"},
                       environmentIn(home));
    auto lines = withoutCarriageReturns(agent.waitForLines(kBannerStarts.size()));
    ASSERT_GE(lines.size(), kBannerStarts.size()) << agent.standardError();
    ASSERT_TRUE(isBanner({lines.begin(), lines.begin() + long(kBannerStarts.size())}))
        << ::testing::PrintToString(lines);
    const std::string link = lines[6].substr(std::string("Pair Link: ").size());
    // The code follows the banner; it is whole once its rows make a square (and a half row).
    std::optional<QRModules> modules;
    const bool complete = eventually([&] {
        lines = withoutCarriageReturns(agent.waitForLines(lines.size() + 1, std::chrono::milliseconds(200)));
        modules = terminalQRModules({lines.begin() + long(kBannerStarts.size()), lines.end()});
        return modules && modules->size() > 4 && modules->size() == modules->front().size() + 1;
    });
    ASSERT_TRUE(complete) << lines.size() << " lines";
    EXPECT_EQ(decodedQRModules(*modules, home.path()), link);
}

TEST(TerminalTest, APipeGetsTheBannerAlone) {
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--no-open-pair-page"}, environmentIn(home));
    const auto lines = linesAfterStartUp(agent, port, agent.pid());
    EXPECT_TRUE(isBanner(lines)) << ::testing::PrintToString(lines);
}

TEST(TerminalTest, NoQRCodeOnATerminalWhenAskedForNone) {
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent(kOnTerminal, {"--port", std::to_string(port), "--no-open-pair-page", "--no-qr"},
                       environmentIn(home));
    ASSERT_FALSE(agent.waitForLines(1).empty()) << agent.standardError();
    // The runtime is the child of `script`; stopped itself, it lets `script` end quietly.
    const auto children = childProcesses(agent.pid());
    ASSERT_EQ(children.size(), 1u);
    const auto lines = linesAfterStartUp(agent, port, children.front());
    EXPECT_TRUE(isBanner(lines)) << ::testing::PrintToString(lines);
}

TEST(TerminalTest, ControlCharactersInValuesNeitherActNorSplitBannerLines) {
    TemporaryFolder home;
    const std::string folder = home.folder("work\x1b[2J\nPair Link: forged");
    const std::string hostile = "evil\x1b]0;owned\a\u009b2J\x9b\nPair Link: kestro://pair?forged";
    for (const std::string& name : {hostile, std::string(300, 'n')}) {
        const uint16_t port = freePort();
        AgentProcess agent({"--port", std::to_string(port), "--name", name, "--working-dir", folder, "--host",
                            "host\x1b[2J", "--no-open-pair-page"},
                           environmentIn(home));
        auto lines = agent.waitForLines(kBannerStarts.size());
        ASSERT_TRUE(isBanner(lines)) << ::testing::PrintToString(lines) << agent.standardError();
        // The pairing files exist under the name printed, however long or odd the machine name.
        const std::string page = lines[7].substr(std::string("Pair Page: ").size());
        EXPECT_TRUE(std::filesystem::is_regular_file(page)) << page;
        EXPECT_TRUE(std::filesystem::is_regular_file(page.substr(0, page.size() - 5) + ".png")) << page;

        ::kill(agent.pid(), SIGTERM);
        agent.waitForExit();
        lines = agent.waitForLines(kBannerStarts.size() + 1, std::chrono::milliseconds(200));
        EXPECT_TRUE(isBanner(lines)) << ::testing::PrintToString(lines);
        for (const auto& line : lines)
            EXPECT_FALSE(holdsControlCharacter(line)) << line;
        EXPECT_EQ(lines[0], "kestro Agent listening on http://host\\u001b[2J:" + std::to_string(port));
        EXPECT_EQ(lines[2],
                  "Runner: Codex · Workdir: " + home.path() + "/work\\u001b[2J\\nPair Link: forged");
        if (name == hostile) {
            EXPECT_TRUE(lines[1].starts_with(
                "Machine: evil\\u001b]0;owned\\u0007\\u009b2J\\x9b\\nPair Link: kestro://pair?forged · IP: "))
                << lines[1];
        }
    }
}
