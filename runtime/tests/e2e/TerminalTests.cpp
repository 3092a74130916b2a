// What the runtime prints on a terminal (a pseudo-terminal made by `script`): the banner, then
// the pairing QR code as text, which a real decoder reads back as the banner's pair link. A pipe,
// as the companion and the user service have, gets the banner alone.

#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "support/TerminalQRImage.h"

#include <csignal>
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
