// "/run" end to end: the real Codex CLI against a fake model server, and fake Codex scripts for
// the failures the real one cannot be made to show.

#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/FakeModelServer.h"
#include "support/LoopbackHTTP.h"
#include "support/PinnedCodex.h"
#include "support/ProcessFacts.h"
#include "support/RuntimeUnderTest.h"
#include "support/TemporaryFolder.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestro::testing;
using namespace std::chrono;
using json = nlohmann::json;

namespace {

constexpr const char* kToken = "run-token";

json event(const RunStream& stream, size_t index) {
    return json::parse(stream.events.at(index));
}

std::vector<std::string> types(const RunStream& stream) {
    std::vector<std::string> out;
    for (const auto& text : stream.events)
        out.push_back(json::parse(text)["type"]);
    return out;
}

json status(uint16_t port) {
    return json::parse(request(port, "GET", "/status", {{"X-Kestro-Token", kToken}}).body);
}

std::string runBody(const std::string& prompt, const std::string& directory, const std::string& extra = "") {
    return json{{"prompt", prompt}, {"workingDirectory", directory}, {"resumeExistingSession", false}}
        .dump()
        .insert(1, extra);
}

// Sends a run request on a new connection and returns it for reading, or -1.
int openRunStream(uint16_t port, const std::string& body) {
    const int fd = connectLoopback(port);
    if (fd < 0) return -1;
    const std::string text = "POST /run HTTP/1.1\r\nX-Kestro-Token: " + std::string(kToken) +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    return fd;
}

// A runtime whose Codex is `codex`, in a throwaway home.
struct Runtime : RuntimeUnderTest {
    explicit Runtime(const std::string& codex, std::map<std::string, std::string> environment = {})
        : RuntimeUnderTest(codex, kToken, std::move(environment)) {}
};

class FakeCodexTest : public ::testing::Test {
  protected:
    // A fake Codex: a shell script standing in for the CLI. The start-up probe gets a version.
    std::string fakeCodex(const std::string& body) {
        return writeFakeCodex(m_scripts.path() + "/codex-" + std::to_string(m_count++), body);
    }
    TemporaryFolder m_scripts;
    int m_count = 0;
};

} // namespace

TEST(RealCodexRunTest, StreamsARunAndResumesItsThread) {
    FakeModelServer model;
    TemporaryFolder home;
    model.configureCodexHome(home.path());
    const std::string project = home.path() + "/project";
    std::filesystem::create_directories(project);
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", kToken, "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"KESTRO_CODEX_PATH", kPinnedCodex},
                        {"PATH", "/usr/bin:/bin"}});
    ASSERT_EQ(agent.waitForLines(9).size(), 9u) << agent.standardError();

    const RunStream first = run(port, kToken, runBody("  Say hello \n", project));
    ASSERT_EQ(first.status, 200);
    EXPECT_TRUE(first.done);
    EXPECT_EQ(types(first), (std::vector<std::string>{"job.started", "thread.started", "job.progress",
                                                      "job.progress", "assistant.delta", "assistant.delta",
                                                      "assistant.delta", "job.progress", "job.completed"}));
    EXPECT_EQ(event(first, 0)["message"], "Launching Codex in " + project);
    const std::string threadID = event(first, 1)["threadID"];
    EXPECT_EQ(event(first, 1)["message"], "Codex session linked");
    EXPECT_EQ(threadID.size(), 36u);
    EXPECT_EQ(event(first, 2)["message"], "Codex is reasoning");
    EXPECT_EQ(event(first, 3)["message"], "Streaming response");
    EXPECT_EQ(event(first, 4)["text"], "Hello from the ");
    EXPECT_EQ(event(first, 5)["text"], "fake model server ");
    EXPECT_EQ(event(first, 6)["text"], "today");
    const json usage = {{"inputTokens", 11}, {"cachedInputTokens", 3}, {"outputTokens", 7}};
    EXPECT_EQ(event(first, 7)["message"], "Codex finished generating");
    EXPECT_EQ(event(first, 7)["usage"], usage);
    EXPECT_EQ(event(first, 8),
              json({{"type", "job.completed"}, {"message", "Codex run complete"}, {"usage", usage}}));
    EXPECT_TRUE(status(port)["diagnosticMessage"].get<std::string>().starts_with("Codex ready · "));
    ASSERT_EQ(model.requestBodies().size(), 1u);
    EXPECT_NE(model.requestBodies()[0].find("Say hello"), std::string::npos);

    const std::string followUp = json{
        {"prompt", "And again"},
        {"workingDirectory", project},
        {"threadID", threadID},
        {"resumeExistingSession",
         true}}.dump();
    const RunStream second = run(port, kToken, followUp);
    EXPECT_TRUE(second.done);
    EXPECT_EQ(event(second, 0)["message"], "Resuming Codex session in " + project);
    EXPECT_EQ(types(second).back(), "job.completed");
    ASSERT_EQ(model.requestBodies().size(), 2u);
    // The earlier turn travels with the follow-up.
    const std::string resumed = model.requestBodies()[1];
    EXPECT_NE(resumed.find("Say hello"), std::string::npos);
    EXPECT_NE(resumed.find("Hello from the fake model server today"), std::string::npos);
    EXPECT_NE(resumed.find("And again"), std::string::npos);
    EXPECT_EQ(status(port)["activeJobs"], 0);
}

TEST(RealCodexRunTest, AModelErrorEndsTheStreamWithItsMessage) {
    FakeModelServer model({.errorMessage = "The fake model is overloaded."});
    TemporaryFolder home;
    model.configureCodexHome(home.path());
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", kToken, "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"KESTRO_CODEX_PATH", kPinnedCodex},
                        {"PATH", "/usr/bin:/bin"}});
    ASSERT_EQ(agent.waitForLines(9).size(), 9u) << agent.standardError();
    const RunStream stream = run(port, kToken, runBody("Say hello", home.path()));
    EXPECT_TRUE(stream.done);
    const auto kinds = types(stream);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "job.error"), 1);
    EXPECT_EQ(kinds.back(), "job.error");
    EXPECT_EQ(event(stream, stream.events.size() - 1),
              json({{"type", "job.error"}, {"message", "The fake model is overloaded."}}));
    EXPECT_EQ(status(port)["diagnosticMessage"], "The fake model is overloaded.");
}

namespace {

// The last text the user sent in a request Codex made to the model.
std::string lastUserText(const std::string& requestBody) {
    std::string text;
    const json request = json::parse(requestBody);
    for (const auto& item : request["input"])
        if (item.value("role", "") == "user")
            for (const auto& part : item["content"])
                if (part.contains("text")) text = part["text"].get<std::string>();
    return text;
}

// The pinned Codex CLI in a throwaway home, against `model`; the environment adds to the usual.
struct CodexRuntime {
    CodexRuntime(const FakeModelServer& model, std::vector<std::string> arguments,
                 std::map<std::string, std::string> environment = {})
        : port(freePort()) {
        model.configureCodexHome(home.path());
        environment.insert({{"HOME", home.path()},
                            {"XDG_RUNTIME_DIR", home.path()},
                            {"KESTRO_CODEX_PATH", kPinnedCodex},
                            {"PATH", "/usr/bin:/bin"}});
        arguments.insert(arguments.end(), {"--port", std::to_string(port), "--no-open-pair-page"});
        agent = std::make_unique<AgentProcess>(arguments, environment);
        banner = agent->waitForLines(9);
    }
    TemporaryFolder home;
    uint16_t port;
    std::unique_ptr<AgentProcess> agent;
    std::vector<std::string> banner;
};

// The Codex launcher the runtime started and the program it started in turn, once both run.
std::pair<pid_t, pid_t> codexProcesses(pid_t runtime) {
    std::pair<pid_t, pid_t> found{-1, -1};
    eventually(
        [&] {
            const auto launchers = childProcesses(runtime);
            if (launchers.empty()) return false;
            const auto programs = childProcesses(launchers.front());
            if (programs.empty()) return false;
            found = {launchers.front(), programs.front()};
            return true;
        },
        seconds(20));
    return found;
}

} // namespace

// Prompts that look like options are prompts, and a thread named like one is refused.
TEST(RealCodexRunTest, PhoneTextsReachCodexAsTextNeverAsOptions) {
    FakeModelServer model;
    CodexRuntime runtime(model, {"--token", kToken});
    ASSERT_EQ(runtime.banner.size(), 9u) << runtime.agent->standardError();
    for (const std::string prompt : {"--version", "-v is broken, please fix", "--config=model=\"other\""}) {
        const size_t asked = model.requestBodies().size();
        const RunStream stream = run(runtime.port, kToken, runBody(prompt, runtime.home.path()));
        EXPECT_EQ(types(stream).back(), "job.completed") << prompt;
        ASSERT_EQ(model.requestBodies().size(), asked + 1) << prompt;
        EXPECT_EQ(lastUserText(model.requestBodies().back()), prompt);
    }
    const std::string resumeLast =
        json{{"prompt", "hi"}, {"threadID", "--last"}, {"resumeExistingSession", true}}.dump();
    const HTTPAnswer refused =
        request(runtime.port, "POST", "/run", {{"X-Kestro-Token", kToken}}, resumeLast);
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(json::parse(refused.body)["error"], "Missing required field 'threadID'.");
    EXPECT_EQ(model.requestBodies().size(), 3u);
}

// The token in the runtime's environment reaches neither Codex nor what Codex starts.
TEST(RealCodexRunTest, NeitherCodexNorWhatItRunsSeesTheToken) {
    FakeModelServer model({.holds = true});
    CodexRuntime runtime(model, {}, {{"KESTRO_AGENT_TOKEN", kToken}, {"VESK_AGENT_TOKEN", "legacy-token"}});
    ASSERT_EQ(runtime.banner.size(), 9u) << runtime.agent->standardError();
    const int stream = openRunStream(runtime.port, runBody("Think a while", runtime.home.path()));
    ASSERT_GE(stream, 0);
    const auto [launcher, program] = codexProcesses(runtime.agent->pid());
    ASSERT_GT(program, 0);
    // Nor does the runtime's own environment show it, as the system keeps it from its start.
    for (const pid_t pid : {runtime.agent->pid(), launcher, program}) {
        const auto environment = environmentOf(pid);
        EXPECT_FALSE(environment.empty());
        for (const auto& entry : environment) {
            EXPECT_FALSE(entry.starts_with("KESTRO_AGENT_TOKEN=")) << pid;
            EXPECT_FALSE(entry.starts_with("VESK_AGENT_TOKEN=")) << pid;
            EXPECT_EQ(entry.find(kToken), std::string::npos) << entry;
        }
    }
    ::close(stream);
}

// A run ends with its Codex launcher, and every run ends with the runtime, however it ends.
TEST(RealCodexRunTest, RunsEndWithTheirLauncherAndWithTheRuntime) {
    FakeModelServer model({.holds = true});
    {
        // The launcher killed: the program it started would hold the pipes for good.
        CodexRuntime runtime(model, {"--token", kToken});
        ASSERT_EQ(runtime.banner.size(), 9u) << runtime.agent->standardError();
        auto stream = std::async(std::launch::async, [&] {
            return run(runtime.port, kToken, runBody("Wait", runtime.home.path()));
        });
        const auto [launcher, program] = codexProcesses(runtime.agent->pid());
        ASSERT_GT(program, 0);
        ::kill(launcher, SIGKILL);
        ASSERT_EQ(stream.wait_for(seconds(15)), std::future_status::ready);
        const RunStream ended = stream.get();
        EXPECT_TRUE(ended.done);
        // Codex's status, or what it wrote on standard error before it was killed.
        EXPECT_EQ(types(ended).back(), "job.error");
        EXPECT_TRUE(eventually([&] { return !isRunning(program); }));
        EXPECT_EQ(status(runtime.port)["activeJobs"], 0);
    }
    {
        // Asked to stop: the runs end, the files that carry the token go, and the runtime ends by
        // the signal it was sent.
        CodexRuntime runtime(model, {"--token", kToken});
        ASSERT_EQ(runtime.banner.size(), 9u) << runtime.agent->standardError();
        const std::string page = runtime.banner[7].substr(std::string("Pair Page: ").size());
        ASSERT_TRUE(std::filesystem::exists(page));
        const int stream = openRunStream(runtime.port, runBody("Wait", runtime.home.path()));
        const auto [launcher, program] = codexProcesses(runtime.agent->pid());
        ASSERT_GT(program, 0);
        ::kill(runtime.agent->pid(), SIGTERM);
        EXPECT_EQ(runtime.agent->waitForExit(seconds(10)), 128 + SIGTERM);
        EXPECT_TRUE(eventually([&] { return !isRunning(launcher) && !isRunning(program); }));
        EXPECT_FALSE(std::filesystem::exists(page));
        EXPECT_FALSE(std::filesystem::exists(page.substr(0, page.size() - 4) + "png"));
        ::close(stream);
    }
    {
        // Killed outright: nothing of the runtime is left to ask, yet its runs end with it.
        CodexRuntime runtime(model, {"--token", kToken});
        ASSERT_EQ(runtime.banner.size(), 9u) << runtime.agent->standardError();
        const int stream = openRunStream(runtime.port, runBody("Wait", runtime.home.path()));
        const auto [launcher, program] = codexProcesses(runtime.agent->pid());
        ASSERT_GT(program, 0);
        ::kill(runtime.agent->pid(), SIGKILL);
        EXPECT_TRUE(eventually([&] { return !isRunning(launcher) && !isRunning(program); }));
        ::close(stream);
    }
}

TEST_F(FakeCodexTest, ExitStatusesWithoutOutputBecomeTheirMessage) {
    for (const int code : {2, 3}) {
        Runtime runtime(fakeCodex("exit " + std::to_string(code) + "\n"));
        const RunStream stream = run(runtime.port, kToken, runBody("go", runtime.home.path()));
        EXPECT_EQ(types(stream), (std::vector<std::string>{"job.started", "job.error"}));
        EXPECT_EQ(event(stream, 1)["message"], "Codex exited with status " + std::to_string(code) + ".");
        EXPECT_TRUE(stream.done);
        EXPECT_EQ(status(runtime.port)["diagnosticMessage"],
                  "Codex exited with status " + std::to_string(code) + ".");
        EXPECT_EQ(status(runtime.port)["activeJobs"], 0);
    }
}

TEST_F(FakeCodexTest, TheFirstEightErrorLinesAreReportedHumanized) {
    Runtime runtime(fakeCodex(R"(echo '{"error":{"message":"line 1 from json"}}' >&2
for i in 2 3 4 5 6 7 8 9 10 11 12; do echo "  line $i  " >&2; done
exit 1
)"));
    const RunStream stream = run(runtime.port, kToken, runBody("go", runtime.home.path()));
    ASSERT_EQ(stream.events.size(), 2u);
    EXPECT_EQ(event(stream, 1)["message"],
              "line 1 from json\nline 2\nline 3\nline 4\nline 5\nline 6\nline 7\nline 8");
}

TEST_F(FakeCodexTest, AnErrorEventDecidesOnlyWithoutAgentText) {
    Runtime withoutText(fakeCodex(R"(echo '{"type":"error","message":"quota gone"}'
exit 0
)"));
    const RunStream failed = run(withoutText.port, kToken, runBody("go", withoutText.home.path()));
    EXPECT_EQ(types(failed), (std::vector<std::string>{"job.started", "job.error"}));
    EXPECT_EQ(event(failed, 1)["message"], "quota gone");

    Runtime withText(fakeCodex(R"(echo '{"type":"turn.failed","error":{"message":"late"}}'
echo '{"type":"item.completed","item":{"type":"agent_message","text":"done anyway"}}'
exit 0
)"));
    const RunStream completed = run(withText.port, kToken, runBody("go", withText.home.path()));
    EXPECT_EQ(types(completed).back(), "job.completed");
    EXPECT_FALSE(event(completed, completed.events.size() - 1).contains("usage"));
}

TEST_F(FakeCodexTest, PromptsAndDirectoriesAreCheckedInsideTheStream) {
    Runtime runtime(fakeCodex("exit 0\n"));
    const RunStream blank = run(runtime.port, kToken, runBody(" \n ", runtime.home.path()));
    EXPECT_EQ(blank.events,
              (std::vector<std::string>{R"({"type":"job.error","message":"Prompt was empty."})"}));
    EXPECT_TRUE(blank.done);
    EXPECT_EQ(status(runtime.port)["diagnosticMessage"], "Prompt was empty.");

    const RunStream quick = run(runtime.port, kToken, runBody("go", runtime.home.path()));
    EXPECT_EQ(types(quick), (std::vector<std::string>{"job.started", "job.completed"}));

    const RunStream nowhere = run(runtime.port, kToken, runBody("go", "/nonexistent/folder"));
    EXPECT_EQ(types(nowhere), (std::vector<std::string>{"job.started", "job.error"}));
    EXPECT_NE(event(nowhere, 1)["message"].get<std::string>().find("/nonexistent/folder"), std::string::npos);
    EXPECT_EQ(status(runtime.port)["activeJobs"], 0);
}

TEST_F(FakeCodexTest, ArgumentsReachCodexUnchanged) {
    const std::string log = m_scripts.path() + "/arguments";
    Runtime runtime(fakeCodex("for a in \"$@\"; do printf '%s|' \"$a\"; done > " + log + "\necho >> " + log +
                              "\npwd >> " + log + "\n"));
    run(runtime.port, kToken,
        json{{"prompt", " two  words; $(rm -rf x) "},
             {"workingDirectory", runtime.home.path()},
             {"preferredModel", "gpt-x"},
             {"threadID", "T-1"},
             {"resumeExistingSession", true}}
            .dump());
    std::ifstream file(log);
    std::string arguments, directory;
    std::getline(file, arguments);
    std::getline(file, directory);
    EXPECT_EQ(arguments,
              "exec|resume|--json|--skip-git-repo-check|--model|gpt-x|--|T-1|two  words; $(rm -rf x)|");
    EXPECT_EQ(directory, runtime.home.path());
}

TEST_F(FakeCodexTest, LinesReachThePhoneBeforeCodexEnds) {
    const std::string release = m_scripts.path() + "/release";
    Runtime runtime(fakeCodex("echo '{\"type\":\"turn.started\"}'\nwhile [ ! -e " + release +
                              " ]; do sleep 0.05; done\n"));
    const int fd = openRunStream(runtime.port, runBody("go", runtime.home.path()));
    ASSERT_GE(fd, 0);
    std::string received;
    const bool sawProgress = eventually([&] {
        char chunk[4096];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) received.append(chunk, static_cast<size_t>(got));
        return received.find("Codex is reasoning") != std::string::npos;
    });
    EXPECT_TRUE(sawProgress) << received;
    EXPECT_EQ(received.find("[DONE]"), std::string::npos);
    std::ofstream(release) << "go";
    ::close(fd);
    EXPECT_TRUE(eventually([&] { return status(runtime.port)["activeJobs"] == 0; }));
}

TEST_F(FakeCodexTest, APhoneThatLeavesDoesNotStopOrLeakTheRun) {
    const std::string finished = m_scripts.path() + "/finished";
    const std::string release = m_scripts.path() + "/release";
    // After the phone has gone, 50 MB of output must be drained for Codex to finish.
    Runtime runtime(fakeCodex("echo '{\"type\":\"turn.started\"}'\nwhile [ ! -e " + release +
                              " ]; do sleep 0.05; done\nhead -c 52428800 /dev/zero | tr '\\0' x\necho\n"
                              "head -c 1000000 /dev/zero | tr '\\0' y >&2\ntouch " +
                              finished + "\n"));
    const size_t descriptorsBefore = openDescriptorCount(runtime.agent->pid());
    {
        const int fd = openRunStream(runtime.port, runBody("go", runtime.home.path()));
        ASSERT_GE(fd, 0);
        std::string received;
        ASSERT_TRUE(eventually([&] {
            char chunk[4096];
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got > 0) received.append(chunk, static_cast<size_t>(got));
            return received.find("Codex is reasoning") != std::string::npos;
        }));
        ::close(fd);
    }
    EXPECT_EQ(status(runtime.port)["activeJobs"], 1);
    std::ofstream(release) << "go";
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(finished); }, seconds(30)));
    EXPECT_TRUE(eventually([&] { return status(runtime.port)["activeJobs"] == 0; }, seconds(30)));
    EXPECT_TRUE(eventually([&] { return childProcesses(runtime.agent->pid()).empty(); }));
    EXPECT_TRUE(eventually([&] { return openDescriptorCount(runtime.agent->pid()) <= descriptorsBefore; }))
        << openDescriptorCount(runtime.agent->pid()) << " > " << descriptorsBefore << ": "
        << kestro::runCommand("/bin/ls", {"-l", "/proc/" + std::to_string(runtime.agent->pid()) + "/fd"});
}

TEST_F(FakeCodexTest, TenParallelRunsEachGetTheirOwnEvents) {
    // Echoes its prompt (the last argument) back as the agent's message, after a short think.
    const std::string release = m_scripts.path() + "/release";
    Runtime runtime(fakeCodex(R"(for last; do :; done
echo '{"type":"thread.started","thread_id":"t-'"$last"'"}'
while [ ! -e )" + release + R"( ]; do sleep 0.05; done
echo '{"type":"item.completed","item":{"type":"agent_message","text":"reply to '"$last"'"}}'
echo '{"type":"turn.completed","usage":{"input_tokens":1}}'
)"));
    const size_t descriptorsBefore = openDescriptorCount(runtime.agent->pid());
    std::vector<std::future<RunStream>> runs;
    for (int i = 0; i < 10; ++i)
        runs.push_back(std::async(std::launch::async, [&, i] {
            return run(runtime.port, kToken, runBody("prompt" + std::to_string(i), runtime.home.path()));
        }));
    EXPECT_TRUE(eventually([&] { return status(runtime.port)["activeJobs"] == 10; }));
    const auto statusStarted = steady_clock::now();
    EXPECT_EQ(status(runtime.port)["activeJobs"], 10);
    EXPECT_LT(steady_clock::now() - statusStarted, seconds(1) * kSanitizerSlowdown);
    std::ofstream(release) << "go";
    for (int i = 0; i < 10; ++i) {
        const RunStream stream = runs[static_cast<size_t>(i)].get();
        const std::string prompt = "prompt" + std::to_string(i);
        ASSERT_TRUE(stream.done);
        EXPECT_EQ(types(stream),
                  (std::vector<std::string>{"job.started", "thread.started", "job.progress",
                                            "assistant.delta", "job.progress", "job.completed"}));
        EXPECT_EQ(event(stream, 1)["threadID"], "t-" + prompt);
        EXPECT_EQ(event(stream, 3)["text"], "reply to " + prompt);
    }
    EXPECT_TRUE(eventually([&] { return status(runtime.port)["activeJobs"] == 0; }));
    EXPECT_TRUE(childProcesses(runtime.agent->pid()).empty());
    EXPECT_TRUE(eventually([&] { return openDescriptorCount(runtime.agent->pid()) <= descriptorsBefore; }));
}
