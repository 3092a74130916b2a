#include "run/CodexProbe.h"
#include "support/TemporaryFolder.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestro;
namespace fs = std::filesystem;

namespace {

class CodexProbeTest : public ::testing::Test {
  protected:
    std::string script(const std::string& name, const std::string& body, bool executable = true) {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), executable ? 0755 : 0644);
        return path;
    }

    static EnvironmentLookup environmentOf(std::map<std::string, std::string> variables) {
        return [variables](const std::string& name) -> std::optional<std::string> {
            auto found = variables.find(name);
            return found == variables.end() ? std::nullopt : std::optional(found->second);
        };
    }

    kestro::testing::TemporaryFolder m_folder;
    const std::string m_dir = m_folder.path();
};

constexpr const char* kFullCodex = R"(case "$*" in
  "--version") echo "codex-cli 9.9.9" ;;
  "--help") echo "Usage: codex [OPTIONS]"; echo "  app   Run codex app" ;;
  "exec --help") echo "--image <FILE>"; echo "--oss"; echo "--local-provider <P>" ;;
  "exec resume --help") echo "Resume a previous session by id" ;;
  "app-server --help") echo "Usage: codex app-server [OPTIONS]" ;;
  *) exit 2 ;;
esac
)";

} // namespace

TEST_F(CodexProbeTest, ResolvesTheFirstExecutableCandidate) {
    const std::string plain = script("plain", "exit 0\n", false);
    const std::string legacy = script("legacy", "exit 0\n");
    SystemTools tools;
    tools.which = "/nonexistent/which";
    EXPECT_EQ(
        resolveCodexPath(environmentOf({{"KESTRO_CODEX_PATH", plain}, {"VESK_CODEX_PATH", legacy}}), tools),
        legacy);
    EXPECT_EQ(resolveCodexPath(environmentOf({{"VESK_CODEX_PATH", legacy}}), tools), legacy);
    EXPECT_EQ(resolveCodexPath(environmentOf({{"KESTRO_CODEX_PATH", m_dir}}), tools), std::nullopt);
    // A relative path (here one that resolves from the current folder) is never taken, nor is a
    // relative answer of `which` (a PATH holding ".").
    const std::string folder = fs::current_path();
    fs::current_path(m_dir);
    EXPECT_EQ(resolveCodexPath(environmentOf({{"KESTRO_CODEX_PATH", "legacy"}}), tools), std::nullopt);
    tools.which = script("which-relative", "printf './legacy\\n'\n");
    EXPECT_EQ(resolveCodexPath(environmentOf({}), tools), std::nullopt);
    fs::current_path(folder);
    tools.which = script("which", "printf '/found/codex\\n'\n");
    EXPECT_EQ(resolveCodexPath(environmentOf({}), tools), "/found/codex");
    tools.which = script("which-nothing", "exit 1\n");
    EXPECT_EQ(resolveCodexPath(environmentOf({}), tools), std::nullopt);
}

TEST_F(CodexProbeTest, ReadsEveryCapabilityAndTheDiagnostic) {
    const std::string codex = script("codex", kFullCodex);
    fs::create_directories(m_dir + "/Applications/Codex.app");
    const auto inspection =
        inspectCodex(codex, {.mcpServers =
                                 [](const std::string&) {
                                     return std::vector<std::string>{"a", "b"};
                                 },
                             .skills = [] { return std::vector<KestroAgentSkillPayload>(4); },
                             .home = m_dir});
    EXPECT_EQ(inspection.version, "codex-cli 9.9.9");
    EXPECT_TRUE(inspection.resumeSupported);
    EXPECT_TRUE(inspection.imageInputSupported);
    EXPECT_TRUE(inspection.ossProviderSupported);
    EXPECT_TRUE(inspection.appServerSupported);
    EXPECT_EQ(inspection.desktopAppPath, m_dir + "/Applications/Codex.app");
    EXPECT_EQ(inspection.diagnosticMessage,
              "codex-cli 9.9.9 ready · 4 skills · 2 MCP servers · desktop app installed");
}

TEST_F(CodexProbeTest, MissingMarkersTurnFlagsOff) {
    CodexInspection inspection;
    applyProbeTexts({.version = "  v1\n",
                     .generalHelp = "",
                     .execHelp = "--oss only",
                     .resumeHelp = "",
                     .appServerHelp = "error: unrecognized subcommand"},
                    inspection);
    EXPECT_EQ(inspection.version, "v1");
    EXPECT_FALSE(inspection.ossProviderSupported);
    EXPECT_FALSE(inspection.resumeSupported);
    EXPECT_FALSE(inspection.appServerSupported);
    EXPECT_EQ(inspection.diagnosticMessage, "v1 ready · resume not detected · 0 skills · 0 MCP servers");

    CodexInspection silent;
    applyProbeTexts({.version = " \n", .execHelp = "--image"}, silent);
    EXPECT_FALSE(silent.version.has_value());
    EXPECT_TRUE(silent.imageInputSupported);
    EXPECT_EQ(silent.diagnosticMessage, "Codex executable was found, but its version could not be read.");
}

TEST_F(CodexProbeTest, WithoutCodexNothingElseIsInspected) {
    bool asked = false;
    const auto inspection = inspectCodex(std::nullopt, {.mcpServers =
                                                            [&](const std::string&) {
                                                                asked = true;
                                                                return std::vector<std::string>{"x"};
                                                            },
                                                        .skills = {},
                                                        .home = m_dir});
    EXPECT_FALSE(asked);
    EXPECT_TRUE(inspection.configuredMCPServers.empty());
    EXPECT_EQ(inspection.diagnosticMessage, "Codex CLI is not installed or not available on this machine.");
}

TEST_F(CodexProbeTest, TheProbeLaunchesRunTogether) {
    // Each invocation sleeps; run one after another they would take six times as long.
    const std::string codex = script("slow-codex", std::string("sleep 0.4\n") + kFullCodex);
    const auto started = std::chrono::steady_clock::now();
    const auto inspection = inspectCodex(codex, {.mcpServers =
                                                     [](const std::string& path) {
                                                         (void)path;
                                                         ::usleep(400'000);
                                                         return std::vector<std::string>{};
                                                     },
                                                 .skills = {},
                                                 .home = m_dir});
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(inspection.version, "codex-cli 9.9.9");
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
}
