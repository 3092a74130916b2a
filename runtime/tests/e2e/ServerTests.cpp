// Black-box tests of the HTTP server: the built binary on a free loopback port, throwaway HOME.

#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestro::testing;
using namespace std::chrono;
using json = nlohmann::ordered_json;

namespace {

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

class ServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_home = new TemporaryFolder();
        s_runtimeDir = new TemporaryFolder();
        s_port = freePort();
        s_agent = new AgentProcess(
            {"--port", std::to_string(s_port), "--token", kToken, "--name", "Test Rig", "--working-dir",
             s_home->path(), "--no-open-pair-page"},
            {{"HOME", s_home->path()}, {"XDG_RUNTIME_DIR", s_runtimeDir->path()}, {"PATH", "/usr/bin:/bin"}});
        s_banner = s_agent->waitForLines(9);
    }
    static void TearDownTestSuite() {
        delete s_agent;
        delete s_runtimeDir;
        delete s_home;
    }

    static std::map<std::string, std::string> authorized() { return {{"X-Kestro-Token", kToken}}; }

    static inline TemporaryFolder* s_home = nullptr;
    static inline TemporaryFolder* s_runtimeDir = nullptr;
    static inline AgentProcess* s_agent = nullptr;
    static inline uint16_t s_port = 0;
    static inline std::vector<std::string> s_banner;
};

TEST_F(ServerTest, PrintsEveryBannerLineInOrder) {
    ASSERT_EQ(s_banner.size(), 9u) << s_agent->standardError();
    EXPECT_EQ(s_banner[0], "kestro Agent listening on http://0.0.0.0:" + std::to_string(s_port));
    EXPECT_TRUE(s_banner[1].starts_with("Machine: Test Rig · IP: ")) << s_banner[1];
    EXPECT_EQ(s_banner[2], "Runner: Codex · Workdir: " + s_home->path());
    EXPECT_EQ(s_banner[3], std::string("Token: ") + kToken);
    EXPECT_EQ(s_banner[4], "Codex: Not detected");
    EXPECT_EQ(s_banner[5], "Diagnostic: Codex CLI is not installed or not available on this machine.");
    EXPECT_TRUE(s_banner[6].starts_with("Pair Link: kestro://pair?name=Test%20Rig&host=")) << s_banner[6];
    EXPECT_TRUE(s_banner[6].ends_with("&preferred=1")) << s_banner[6];
    EXPECT_EQ(s_banner[7], "Pair Page: " + s_runtimeDir->path() + "/kestro-pair-test-rig.html");
    EXPECT_EQ(s_banner[8], "Pairing page opened in your browser. Scan the QR from kestro on your iPhone.");
}

TEST_F(ServerTest, UnknownRoutesAre404WhateverTheToken) {
    for (const auto& [method, path] :
         std::vector<std::pair<std::string, std::string>>{{"GET", "/nowhere"},
                                                          {"PUT", "/status"},
                                                          {"get", "/status"},
                                                          {"GET", "/status/"},
                                                          {"GET", "/status?x=1"}}) {
        HTTPAnswer answer = request(s_port, method, path);
        EXPECT_EQ(answer.status, 404) << method << " " << path;
        EXPECT_EQ(answer.body, R"({"error":"Not Found"})");
        EXPECT_EQ(answer.headers["content-length"], "21");
        EXPECT_EQ(answer.headers["connection"], "close");
        EXPECT_EQ(answer.headers["access-control-allow-origin"], "*");
    }
}

TEST_F(ServerTest, TokenHeadersDecideInOrder) {
    struct Case {
        std::map<std::string, std::string> headers;
        int status;
    };
    const std::string right = kToken;
    const std::vector<Case> cases = {
        {{}, 401},
        {{{"X-Kestro-Token", right}}, 200},
        {{{"x-vesk-token", right}}, 200},
        {{{"Authorization", "Bearer " + right}}, 200},
        {{{"Authorization", right}}, 200},
        {{{"Authorization", "bearer " + right}}, 401},
        {{{"X-Vesk-Token", right}, {"Authorization", "Bearer wrong"}}, 200},
        {{{"X-Kestro-Token", "wrong"}, {"X-Vesk-Token", right}}, 401},
        {{{"X-Kestro-Token", "wrong"}, {"Authorization", "Bearer " + right}}, 401},
        {{{"X-Kestro-Token", right.substr(0, 31)}}, 401},
        {{{"X-Kestro-Token", right + "0"}}, 401},
    };
    for (const auto& testCase : cases) {
        const HTTPAnswer answer = request(s_port, "GET", "/status", testCase.headers);
        EXPECT_EQ(answer.status, testCase.status);
        if (testCase.status == 401) {
            EXPECT_EQ(answer.body, R"({"error":"Unauthorized request."})");
        }
    }
}

TEST_F(ServerTest, StatusAnswersTheFullRecordInWireOrder) {
    const HTTPAnswer answer = request(s_port, "GET", "/status", authorized());
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.headers.at("content-type"), "application/json");
    const json status = json::parse(answer.body);
    std::vector<std::string> keys;
    for (const auto& item : status.items())
        keys.push_back(item.key());
    // No Codex: its optional members are left out entirely.
    const std::vector<std::string> expected = {"machineName",
                                               "hostName",
                                               "ipAddress",
                                               "cpuLoad",
                                               "ramLoad",
                                               "activeJobs",
                                               "currentRunner",
                                               "codexInstalled",
                                               "resumableSessionsSupported",
                                               "supportsImageInput",
                                               "supportsOSSProvider",
                                               "supportsAppServer",
                                               "desktopAppInstalled",
                                               "computerUseConfigured",
                                               "configuredMCPServers",
                                               "installedSkills",
                                               "installedPlugins",
                                               "recentProjects",
                                               "recentThreads",
                                               "gitStatus",
                                               "remoteSurfaces",
                                               "isOnline",
                                               "workingDirectory",
                                               "lastSeen",
                                               "diagnosticMessage"};
    std::vector<std::string> withoutGit = expected;
    std::erase(withoutGit, "gitStatus");
    EXPECT_TRUE(keys == expected || keys == withoutGit) << answer.body;
    EXPECT_EQ(status["machineName"], "Test Rig");
    EXPECT_EQ(status["currentRunner"], "Codex");
    EXPECT_EQ(status["isOnline"], true);
    EXPECT_EQ(status["codexInstalled"], false);
    EXPECT_EQ(status["activeJobs"], 0);
    EXPECT_EQ(status["workingDirectory"], s_home->path());
    EXPECT_GE(status["cpuLoad"].get<double>(), 0.03);
    EXPECT_LE(status["cpuLoad"].get<double>(), 0.96);
    EXPECT_GE(status["ramLoad"].get<double>(), 0.05);
    EXPECT_LE(status["ramLoad"].get<double>(), 0.98);
    EXPECT_EQ(status["lastSeen"].get<std::string>().size(), 20u);
}

TEST_F(ServerTest, PostStatusUsesTheRequestedDirectoryAndIgnoresABadBody) {
    const HTTPAnswer withDirectory =
        request(s_port, "POST", "/status", authorized(), R"({"workingDirectory":"/tmp/../tmp/./x/"})");
    ASSERT_EQ(withDirectory.status, 200);
    EXPECT_EQ(json::parse(withDirectory.body)["workingDirectory"], "/tmp/x");
    const HTTPAnswer notJSON = request(s_port, "POST", "/status", authorized(), "not json at all");
    ASSERT_EQ(notJSON.status, 200);
    EXPECT_EQ(json::parse(notJSON.body)["workingDirectory"], s_home->path());
}

TEST_F(ServerTest, ErrorAnswersAreValidJSON) {
    const HTTPAnswer missing = request(s_port, "POST", "/thread-history", authorized(), "{}");
    EXPECT_EQ(missing.status, 400);
    EXPECT_EQ(json::parse(missing.body)["error"], "Missing required field 'threadID'.");
    const HTTPAnswer wrongType =
        request(s_port, "POST", "/thread-history", authorized(), R"({"threadID":42})");
    EXPECT_EQ(wrongType.status, 400);
    EXPECT_TRUE(json::parse(wrongType.body)["error"].is_string());
    const HTTPAnswer blankName = request(s_port, "POST", "/worktree", authorized(), R"({"name":"   "})");
    EXPECT_EQ(blankName.status, 400);
    EXPECT_EQ(blankName.body, R"({"error":"Worktree name was empty."})");
    const HTTPAnswer wrongToken =
        request(s_port, "POST", "/thread-history", {{"X-Kestro-Token", "nope"}}, R"({"threadID":"x"})");
    EXPECT_EQ(wrongToken.status, 401);
    const HTTPAnswer noCodex =
        request(s_port, "POST", "/run", authorized(), R"({"prompt":"hi","resumeExistingSession":false})");
    EXPECT_EQ(noCodex.status, 400);
    EXPECT_EQ(json::parse(noCodex.body)["error"],
              "Codex CLI is not installed or not available on this machine.");
    const HTTPAnswer unreadableRun = request(s_port, "POST", "/run", authorized(), R"({"prompt":"hi"})");
    EXPECT_EQ(unreadableRun.status, 400);
    EXPECT_EQ(json::parse(unreadableRun.body)["error"], "Missing required field 'resumeExistingSession'.");
}

TEST_F(ServerTest, ClosesAboutHalfASecondAfterTheAnswer) {
    const RawExchange result = exchange(s_port, {"GET /nowhere HTTP/1.1\r\n\r\n"});
    EXPECT_EQ(parseAnswer(result.received).status, 404);
    EXPECT_GE(result.closedAfter, milliseconds(400));
    EXPECT_LE(result.closedAfter, milliseconds(1500));
}

TEST_F(ServerTest, AnswersOnlyTheFirstOfTwoPipelinedRequests) {
    const std::string one = "GET /status HTTP/1.1\r\nX-Kestro-Token: " + std::string(kToken) + "\r\n\r\n";
    const RawExchange result = exchange(s_port, {one + "GET /nowhere HTTP/1.1\r\n\r\n"});
    EXPECT_EQ(parseAnswer(result.received).status, 200);
    size_t answers = 0;
    for (size_t at = result.received.find("HTTP/1.1 "); at != std::string::npos;
         at = result.received.find("HTTP/1.1 ", at + 1))
        ++answers;
    EXPECT_EQ(answers, 1u);
}

TEST_F(ServerTest, AssemblesARequestTrickledByteByByte) {
    const std::string body = R"({"workingDirectory":"/tmp"})";
    const std::string text = "POST /status HTTP/1.1\r\nx-kestro-token: " + std::string(kToken) +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::vector<std::string> bytes;
    for (const char c : text)
        bytes.emplace_back(1, c);
    const RawExchange result = exchange(s_port, bytes, milliseconds(1));
    const HTTPAnswer answer = parseAnswer(result.received);
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(json::parse(answer.body)["workingDirectory"], "/tmp");
}

TEST_F(ServerTest, RefusesAnOversizedHeadAndKeepsServing) {
    const std::string huge = "GET /status HTTP/1.1\r\nX-Filler: " + std::string(70 * 1024, 'a') + "\r\n\r\n";
    const HTTPAnswer answer = parseAnswer(exchange(s_port, {huge}).received);
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"error":"Request too large."})");
    const HTTPAnswer bigBody = parseAnswer(
        exchange(s_port, {"POST /status HTTP/1.1\r\nContent-Length: 9000000000\r\n\r\n"}).received);
    EXPECT_EQ(bigBody.status, 400);
    EXPECT_EQ(request(s_port, "GET", "/status", authorized()).status, 200);
}

TEST_F(ServerTest, AnIncompleteRequestGetsNoAnswerWhenThePeerCloses) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(s_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string bareFeeds = "GET /status HTTP/1.1\n\n";
    ::send(fd, bareFeeds.data(), bareFeeds.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    char buffer[64];
    EXPECT_EQ(::recv(fd, buffer, sizeof buffer, 0), 0);
    ::close(fd);
}

TEST_F(ServerTest, ServesOverIPv6Loopback) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(s_port);
    address.sin6_addr = in6addr_loopback;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    const std::string text = "GET /nowhere HTTP/1.1\r\n\r\n";
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    std::string received;
    char buffer[256];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        received.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    EXPECT_EQ(parseAnswer(received).status, 404);
}

TEST_F(ServerTest, ManyIdleConnectionsDoNotStopTheServer) {
    std::vector<int> idle;
    for (int i = 0; i < 500; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(s_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            idle.push_back(fd);
        else
            ::close(fd);
    }
    EXPECT_EQ(idle.size(), 500u);
    const auto started = steady_clock::now();
    EXPECT_EQ(request(s_port, "GET", "/status", authorized()).status, 200);
    EXPECT_LT(steady_clock::now() - started, seconds(5));
    for (const int fd : idle)
        ::close(fd);
}

// Whatever the head says decides before the body is read: a request without the token, one to
// nowhere and one that can never be a request are answered at once, and none makes the runtime
// hold the body it announces.
TEST_F(ServerTest, HeadsAreAnsweredBeforeTheirBodiesAreRead) {
    const long before = residentKilobytes(s_agent->pid());
    const std::string announced = "Content-Length: 8388608\r\n\r\n";
    const std::vector<std::pair<std::string, int>> heads{
        {"POST /run HTTP/1.1\r\n" + announced, 401},
        {"POST /run HTTP/1.1\r\nX-Kestro-Token: wrong\r\n" + announced, 401},
        {"POST /nowhere HTTP/1.1\r\n" + announced, 404},
        {"X\r\n" + announced, 400},
    };
    std::vector<int> held;
    for (int round = 0; round < 10; ++round)
        for (const auto& [head, status] : heads) {
            const int fd = connectLoopback(s_port);
            ASSERT_GE(fd, 0);
            const std::string start = head + std::string(1024 * 1024, '{');
            ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
            std::string received;
            EXPECT_TRUE(eventually([&] {
                char chunk[4096];
                const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
                if (got > 0) received.append(chunk, static_cast<size_t>(got));
                return received.find("\r\n\r\n") != std::string::npos;
            })) << head;
            EXPECT_EQ(parseAnswer(received).status, status) << head;
            held.push_back(fd);
        }
    if (!kSanitizedBuild) {
        EXPECT_LT(residentKilobytes(s_agent->pid()) - before, 16 * 1024);
    }
    for (const int fd : held)
        ::close(fd);
    EXPECT_EQ(request(s_port, "GET", "/status", authorized()).status, 200);
}

TEST(StartupTest, PortZeroAnnouncesThePortReallyBound) {
    TemporaryFolder home;
    AgentProcess agent(
        {"--port", "0", "--token", "t", "--advertise-host", "127.0.0.1", "--no-open-pair-page"},
        {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}});
    const auto lines = agent.waitForLines(9);
    ASSERT_GE(lines.size(), 7u) << agent.standardError();
    const std::string prefix = "kestro Agent listening on http://0.0.0.0:";
    ASSERT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
    const int port = std::stoi(lines[0].substr(prefix.size()));
    EXPECT_GT(port, 0);
    EXPECT_NE(lines[6].find("&port=" + std::to_string(port) + "&"), std::string::npos) << lines[6];
    EXPECT_EQ(request(static_cast<uint16_t>(port), "GET", "/status").status, 401);
}

TEST(StartupTest, HelpAndVersionPrintAndExitWithoutServing) {
    TemporaryFolder home;
    const std::map<std::string, std::string> environment{{"HOME", home.path()},
                                                         {"XDG_RUNTIME_DIR", home.path()}};
    AgentProcess help({"--port", "0", "--help"}, environment);
    EXPECT_EQ(help.waitForExit(), 0);
    const auto helpLines = help.waitForLines(30, milliseconds(100));
    ASSERT_FALSE(helpLines.empty());
    EXPECT_EQ(helpLines[0], "Usage: kestro-agent [options]");
    const std::string all = [&] {
        std::string text;
        for (const auto& line : helpLines)
            text += line + "\n";
        return text;
    }();
    for (const char* option : {"--host", "--port", "--token", "--name", "--advertise-host", "--working-dir",
                               "--no-open-pair-page", "--version", "KESTRO_AGENT_TOKEN"})
        EXPECT_NE(all.find(option), std::string::npos) << option;
    EXPECT_EQ(all.find("listening"), std::string::npos);

    AgentProcess version({"--version"}, environment);
    EXPECT_EQ(version.waitForExit(), 0);
    const auto versionLines = version.waitForLines(1, milliseconds(100));
    ASSERT_EQ(versionLines.size(), 1u);
    EXPECT_EQ(versionLines[0].rfind("kestro-agent ", 0), 0u);

    // As another option's value "--help" is only a value.
    const uint16_t port = freePort();
    AgentProcess named({"--port", std::to_string(port), "--name", "--help", "--no-open-pair-page"},
                       environment);
    const auto lines = named.waitForLines(2);
    ASSERT_EQ(lines.size() >= 2, true) << named.standardError();
    EXPECT_EQ(lines[1].rfind("Machine: --help", 0), 0u);
}

TEST(StartupTest, APortInUseIsAStartUpFailureWithoutBanner) {
    TemporaryFolder home;
    const int blocker = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
    const uint16_t port = ntohs(address.sin6_port);

    AgentProcess agent({"--port", std::to_string(port), "--no-open-pair-page"},
                       {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}});
    const auto status = agent.waitForExit();
    ::close(blocker);
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_TRUE(agent.waitForLines(1, milliseconds(100)).empty());
    EXPECT_NE(agent.standardError().find("Could not listen on port " + std::to_string(port)),
              std::string::npos)
        << agent.standardError();
}

// Started with a pipe from a supervisor: it keeps the read end from its children, and ends as on
// SIGTERM (the pairing files gone) once the supervisor's end is closed, however that ended.
TEST(StartupTest, TheSupervisorsPipeClosingEndsTheRuntimeAsSIGTERMDoes) {
    TemporaryFolder home;
    const std::string fifo = home.path() + "/supervisor";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Open for reading and writing, so the runtime's read-only open finds a writer at once.
    int supervisor = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(supervisor, 0);
    AgentProcess agent({"--port", std::to_string(freePort()), "--supervisor-fd", "3", "--no-open-pair-page"},
                       {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}}, home.path(),
                       {"/bin/sh", "-c", "exec \"$@\" 3<\"$0\"", fifo});
    const auto banner = agent.waitForLines(9);
    ASSERT_EQ(banner.size(), 9u) << agent.standardError();
    const std::string page = banner[7].substr(std::string("Pair Page: ").size());
    ASSERT_TRUE(std::filesystem::exists(page));
    // Close-on-exec from then on: flags are octal in fdinfo, O_CLOEXEC is 02000000.
    std::ifstream fdinfo("/proc/" + std::to_string(agent.pid()) + "/fdinfo/3");
    std::string label, flags;
    while (fdinfo >> label >> flags && label != "flags:") {
    }
    EXPECT_NE(std::stoul(flags, nullptr, 8) & 02000000u, 0u) << flags;
    ::close(supervisor);
    EXPECT_EQ(agent.waitForExit(seconds(2)), 128 + SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(page));
    EXPECT_FALSE(std::filesystem::exists(page.substr(0, page.size() - 4) + "png"));

    // A descriptor that is no pipe is refused before anything is served.
    AgentProcess unsupervised({"--port", std::to_string(freePort()), "--supervisor-fd", "9"},
                              {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}});
    EXPECT_EQ(unsupervised.waitForExit(), 1);
    EXPECT_NE(unsupervised.standardError().find("The supervisor descriptor 9 is not an open pipe."),
              std::string::npos)
        << unsupervised.standardError();
}

TEST(StartupTest, DefaultsGiveARandomTokenAndThePortFromTheEnvironment) {
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent({"--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"KESTRO_AGENT_PORT", std::to_string(port)},
                        {"VESK_AGENT_PORT", "1"},
                        {"VESK_AGENT_HOST", "studio.lan"}},
                       home.path());
    const auto lines = agent.waitForLines(9);
    ASSERT_GE(lines.size(), 4u) << agent.standardError();
    EXPECT_EQ(lines[0], "kestro Agent listening on http://studio.lan:" + std::to_string(port));
    EXPECT_EQ(request(port, "GET", "/nowhere").status, 404);
    ASSERT_EQ(lines[3].size(), std::string("Token: ").size() + 32);
    EXPECT_EQ(lines[3].find_first_not_of("0123456789abcdef", 7), std::string::npos) << lines[3];
    EXPECT_EQ(lines[2], "Runner: Codex · Workdir: " + home.path());
}

// An empty token would let in every request that presents an empty header; a weak one and
// settings that were ignored are named on standard error.
TEST(StartupTest, AnEmptyTokenIsNeverTheTokenAndWeakSettingsAreNamed) {
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess empty({"--prot", "9", "--no-open-pair-page"}, {{"HOME", home.path()},
                                                                {"XDG_RUNTIME_DIR", home.path()},
                                                                {"KESTRO_AGENT_PORT", std::to_string(port)},
                                                                {"KESTRO_AGENT_TOKEN", ""}});
    const auto lines = empty.waitForLines(9);
    ASSERT_GE(lines.size(), 4u) << empty.standardError();
    ASSERT_EQ(lines[3].size(), std::string("Token: ").size() + 32) << lines[3];
    for (const auto& header : {"X-Kestro-Token", "X-Vesk-Token"})
        EXPECT_EQ(request(port, "GET", "/status", {{header, ""}}).status, 401) << header;
    EXPECT_EQ(request(port, "GET", "/status", {{"Authorization", "Bearer "}}).status, 401);
    EXPECT_EQ(request(port, "GET", "/status", {{"X-Kestro-Token", lines[3].substr(7)}}).status, 200);
    const std::string errors = empty.standardError();
    EXPECT_NE(errors.find("The token from KESTRO_AGENT_TOKEN is empty and is ignored."), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("Unknown option \"--prot\" is ignored."), std::string::npos) << errors;

    const uint16_t other = freePort();
    AgentProcess weak({"--port", std::to_string(other), "--token", "short", "--no-open-pair-page"},
                      {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}});
    ASSERT_EQ(weak.waitForLines(9).size(), 9u) << weak.standardError();
    EXPECT_EQ(request(other, "GET", "/status", {{"X-Kestro-Token", "short"}}).status, 200);
    EXPECT_NE(weak.standardError().find("is shorter than 16 characters"), std::string::npos);
    // Other users list command lines: the token given there is not left in it.
    EXPECT_EQ(commandLineOf(weak.pid()).find("short"), std::string::npos) << commandLineOf(weak.pid());
}

// --bind restricts the listener to one address; the banner and the pairing link stay as they are.
TEST(StartupTest, BindListensOnOneAddressOnly) {
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess bound(
        {"--port", std::to_string(port), "--token", kToken, "--bind", "127.0.0.2", "--no-open-pair-page"},
        {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}});
    const auto lines = bound.waitForLines(9);
    ASSERT_EQ(lines.size(), 9u) << bound.standardError();
    EXPECT_EQ(lines[0], "kestro Agent listening on http://0.0.0.0:" + std::to_string(port));
    auto reaches = [port](const char* address) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &target.sin_addr);
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
        ::close(fd);
        return connected;
    };
    EXPECT_TRUE(reaches("127.0.0.2"));
    EXPECT_FALSE(reaches("127.0.0.1"));

    AgentProcess nonsense(
        {"--port", "0", "--no-open-pair-page"},
        {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}, {"KESTRO_AGENT_BIND", "everywhere"}});
    EXPECT_EQ(nonsense.waitForExit(), 1);
    EXPECT_TRUE(nonsense.waitForLines(1, milliseconds(100)).empty());
    EXPECT_NE(nonsense.standardError().find("The bind address \"everywhere\" is not an IP address"),
              std::string::npos)
        << nonsense.standardError();
}

} // namespace

namespace {

TEST_F(ServerTest, WithoutADisplayEverySurfaceIsOffAndPreviewsCarryNoImage) {
    const json status = json::parse(request(s_port, "GET", "/status", authorized()).body);
    const json& surfaces = status["remoteSurfaces"];
    ASSERT_EQ(surfaces.size(), 3u);
    EXPECT_EQ(surfaces[0]["kind"], "desktop");
    EXPECT_EQ(surfaces[0]["title"], "Desktop");
    EXPECT_EQ(surfaces[0]["status"], "Off");
    EXPECT_EQ(surfaces[0]["isAvailable"], false);
    EXPECT_EQ(surfaces[1]["kind"], "browser");
    EXPECT_EQ(surfaces[1]["status"], "Off");
    EXPECT_EQ(surfaces[2]["kind"], "simulator");
    EXPECT_EQ(surfaces[2]["detail"], "iOS simulators exist only on macOS.");
    EXPECT_EQ(surfaces[0]["lastUpdated"], surfaces[2]["lastUpdated"]);

    const std::map<std::string, std::string> expected = {
        {"desktop", "No desktop display is available on this computer."},
        {"browser", "No browser control surface detected from the current Codex setup."},
        {"simulator", "iOS simulators exist only on macOS."}};
    for (const auto& [kind, detail] : expected) {
        const HTTPAnswer answer =
            request(s_port, "POST", "/surface-preview", authorized(), json{{"kind", kind}}.dump());
        ASSERT_EQ(answer.status, 200) << kind;
        const json preview = json::parse(answer.body);
        EXPECT_EQ(preview["kind"], kind);
        EXPECT_EQ(preview["status"], "Off");
        EXPECT_EQ(preview["detail"], detail);
        EXPECT_EQ(preview["previewAvailable"], false);
        EXPECT_FALSE(preview.contains("imageBase64"));
        EXPECT_FALSE(preview.contains("mimeType"));
    }
}

} // namespace
