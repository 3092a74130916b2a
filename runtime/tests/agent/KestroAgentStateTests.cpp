#include "agent/KestroAgentState.h"
#include "core/KestroAgentError.h"
#include "support/Awaited.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestro;
using kestro::testing::awaited;
namespace fs = std::filesystem;

namespace {

class KestroAgentStateTest : public ::testing::Test {
  protected:
    std::unique_ptr<KestroAgentState> makeState(KestroAgentConfiguration configuration = {}) {
        if (configuration.machineName.empty()) configuration.machineName = "Studio";
        if (configuration.defaultWorkingDirectory.empty()) configuration.defaultWorkingDirectory = m_dir;
        StateDependencies dependencies;
        dependencies.host.computerName = [] { return std::optional<std::string>(); };
        dependencies.host.interfaceAddresses = [] {
            return std::optional(std::vector<InterfaceAddress>{{.name = "en0",
                                                                .isIPv4 = true,
                                                                .isUp = true,
                                                                .isLoopback = false,
                                                                .numericAddress = "192.168.1.20"}});
        };
        dependencies.host.cpuTickSample = [this] { return m_ticks; };
        dependencies.host.memorySample = [] {
            return std::optional(MemorySample{.usedBytes = 1, .physicalBytes = 4});
        };
        dependencies.host.homeDirectory = [this] { return m_dir; };
        dependencies.host.temporaryDirectory = [this] { return std::optional(m_dir); };
        dependencies.host.openLocation = [this](const std::string& location) {
            m_opened.push_back(location);
        };
        dependencies.tools.which = "/nonexistent/which";
        dependencies.environment = [](const std::string&) { return std::optional<std::string>(); };
        return std::make_unique<KestroAgentState>(configuration, dependencies);
    }

    kestro::testing::TemporaryFolder m_folder;
    const std::string m_dir = m_folder.path();
    std::optional<CPUTickSample> m_ticks = CPUTickSample{.user = 100, .system = 100, .idle = 800, .nice = 0};
    std::vector<std::string> m_opened;
};

} // namespace

TEST_F(KestroAgentStateTest, TheFirstSnapshotUsesFallbacksAndTheNextMeasures) {
    auto state = makeState();
    const auto first = awaited(state->statusPayload(std::nullopt));
    EXPECT_EQ(first.cpuLoad, 0.07);
    EXPECT_EQ(first.ramLoad, 0.25);
    EXPECT_EQ(first.hostName, "kestro Host");
    EXPECT_EQ(first.ipAddress, "192.168.1.20");
    EXPECT_EQ(first.workingDirectory, m_dir);
    m_ticks = CPUTickSample{.user = 150, .system = 150, .idle = 900, .nice = 0};
    EXPECT_DOUBLE_EQ(awaited(state->statusPayload(std::nullopt)).cpuLoad, 0.5);
    // No ticks in between: the idle fallback, and the sample is still replaced.
    EXPECT_EQ(awaited(state->statusPayload(std::nullopt)).cpuLoad, 0.06);
    state->beginJob();
    EXPECT_EQ(awaited(state->statusPayload(std::nullopt)).cpuLoad, 0.24);
    m_ticks.reset();
    const auto failing = awaited(state->statusPayload(std::nullopt));
    EXPECT_EQ(failing.cpuLoad, 0.34);
    EXPECT_EQ(failing.activeJobs, 1);
    state->endJob();
    EXPECT_EQ(awaited(state->statusPayload(std::nullopt)).cpuLoad, 0.08);
}

TEST_F(KestroAgentStateTest, DiagnosticsAreRecorded) {
    auto state = makeState();
    EXPECT_EQ(state->lastDiagnosticMessage(), "Codex CLI is not installed or not available on this machine.");
    state->recordDiagnostic("  boom \n");
    EXPECT_EQ(awaited(state->statusPayload(std::nullopt)).diagnosticMessage, "boom");
    state->recordDiagnostic("   \n");
    EXPECT_EQ(state->lastDiagnosticMessage(), "Codex reported an empty diagnostic.");
    state->recordCodexReady();
    EXPECT_EQ(state->lastDiagnosticMessage(), "Codex CLI is not installed or not available on this machine.");
}

TEST_F(KestroAgentStateTest, ThePageIsWrittenAndOpenedOnlyWhenAsked) {
    auto state = makeState();
    const auto page = state->openPairingPageIfAvailable(false);
    ASSERT_EQ(page, m_dir + "/kestro-pair-studio.html");
    EXPECT_TRUE(m_opened.empty());
    EXPECT_TRUE(fs::exists(m_dir + "/kestro-pair-studio.png"));
    EXPECT_EQ(state->openPairingPageIfAvailable(true), page);
    EXPECT_EQ(m_opened, std::vector<std::string>{*page});
    EXPECT_EQ(state->pairingLink(), "kestro://pair?name=Studio&host=192.168.1.20&port=8787&token=&workdir=" +
                                        m_dir + "&preferred=1");
}

TEST_F(KestroAgentStateTest, AnUnwritablePageFallsBackToTheImage) {
    auto state = makeState();
    fs::create_directory(m_dir + "/kestro-pair-studio.html"); // a folder where the page should go
    fs::create_directory(m_dir + "/kestro-pair-studio.html/x");
    EXPECT_EQ(state->openPairingPageIfAvailable(true), m_dir + "/kestro-pair-studio.png");
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(KestroAgentStateTest, NoTemporaryFolderMeansNoPage) {
    StateDependencies dependencies;
    dependencies.host.temporaryDirectory = [] { return std::optional<std::string>(); };
    dependencies.environment = [](const std::string&) { return std::optional<std::string>(); };
    dependencies.tools.which = "/nonexistent/which";
    KestroAgentState state(KestroAgentConfiguration{.machineName = "x"}, dependencies);
    EXPECT_FALSE(state.openPairingPageIfAvailable(false).has_value());
}

TEST_F(KestroAgentStateTest, WorktreeNamesMustNotBeBlank) {
    auto state = makeState();
    try {
        awaited(state->createWorktree(" \n ", std::nullopt));
        ADD_FAILURE();
    } catch (const KestroAgentError& error) {
        EXPECT_EQ(error.errorCase(), KestroAgentError::Case::invalidWorktreeName);
    }
}
