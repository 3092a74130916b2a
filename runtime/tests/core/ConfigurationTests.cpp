#include "core/KestroAgentConfiguration.h"
#include "text/Numbers.h"

#include <gtest/gtest.h>
#include <map>

using namespace kestro;

namespace {

EnvironmentLookup environmentOf(std::map<std::string, std::string> variables) {
    return [variables](const std::string& name) -> std::optional<std::string> {
        auto found = variables.find(name);
        if (found == variables.end()) return std::nullopt;
        return found->second;
    };
}

ConfigurationFallbacks fixedFallbacks(std::optional<std::string> computer = "Studio") {
    return {.computerName = [computer] { return computer; },
            .currentDirectory = [] { return std::string("/"); },
            .randomToken = [] { return std::string("feedfacefeedfacefeedfacefeedface"); }};
}

KestroAgentConfiguration build(std::vector<std::string> arguments,
                               std::map<std::string, std::string> variables = {},
                               std::optional<std::string> computer = "Studio") {
    arguments.insert(arguments.begin(), "kestro-agent");
    return buildConfiguration(arguments, environmentOf(std::move(variables)),
                              fixedFallbacks(std::move(computer)));
}

} // namespace

TEST(ConfigurationTest, DefaultsWithoutArgumentsOrVariables) {
    const auto configuration = build({});
    EXPECT_EQ(configuration.host, "0.0.0.0");
    EXPECT_EQ(configuration.port, 8787);
    EXPECT_EQ(configuration.token, "feedfacefeedfacefeedfacefeedface");
    EXPECT_EQ(configuration.machineName, "Studio");
    EXPECT_EQ(configuration.advertisedHost, "");
    EXPECT_EQ(configuration.defaultWorkingDirectory, "/");
    EXPECT_TRUE(configuration.opensPairingPageAutomatically);
    EXPECT_EQ(build({}, {}, std::nullopt).machineName, "kestro Mac");
}

TEST(ConfigurationTest, PortTextsThatAreNotPlainNumbersFallBack) {
    for (const std::string text : {"abc", "70000", " 9000", "", "-1", "9000 ", "0x10", "++1"})
        EXPECT_EQ(build({"--port", text}).port, 8787) << "'" << text << "'";
    EXPECT_EQ(build({"--port", "+9000"}).port, 9000);
    EXPECT_EQ(build({"--port", "65535"}).port, 65535);
    EXPECT_EQ(build({}, {{"KESTRO_AGENT_PORT", ""}, {"VESK_AGENT_PORT", "9100"}}).port, 8787);
    EXPECT_EQ(parsePort("00080"), 80);
}

TEST(ConfigurationTest, CommandLineThenVariableThenLegacyVariable) {
    EXPECT_EQ(build({"--port", "9001"}, {{"KESTRO_AGENT_PORT", "9002"}}).port, 9001);
    EXPECT_EQ(build({}, {{"KESTRO_AGENT_PORT", "9002"}, {"VESK_AGENT_PORT", "9003"}}).port, 9002);
    EXPECT_EQ(build({}, {{"VESK_AGENT_PORT", "9003"}}).port, 9003);
    EXPECT_EQ(build({}, {{"VESK_AGENT_TOKEN", "legacy"}}).token, "legacy");
    EXPECT_EQ(build({}, {{"KESTRO_AGENT_ADVERTISE_HOST", " studio.lan "}}).advertisedHost, " studio.lan ");
    // A set but empty variable is present and replaces the fallback.
    EXPECT_EQ(build({}, {{"KESTRO_AGENT_NAME", ""}}).machineName, "");
}

TEST(ConfigurationTest, OptionValuesAreTheNextArgumentWhateverItIs) {
    EXPECT_EQ(build({"--host"}, {{"KESTRO_AGENT_HOST", "env-host"}}).host, "env-host");
    EXPECT_EQ(build({"--host"}).host, "0.0.0.0");
    const auto configuration = build({"--name", "--no-open-pair-page"});
    EXPECT_EQ(configuration.machineName, "--no-open-pair-page");
    EXPECT_FALSE(configuration.opensPairingPageAutomatically);
    EXPECT_EQ(build({"--token", ""}).token, "");
    EXPECT_EQ(build({"--HOST", "x"}).host, "0.0.0.0");
    EXPECT_EQ(build({"--host=x"}).host, "0.0.0.0");
    EXPECT_EQ(build({"--host", "a", "--host", "b"}).host, "a");
}

TEST(ConfigurationTest, WorkingDirectoryIsNormalizedOrTheCurrentDirectory) {
    EXPECT_EQ(build({"--working-dir", "/tmp/../tmp/./"}).defaultWorkingDirectory, "/tmp");
    EXPECT_EQ(build({"--working-dir", "   "}).defaultWorkingDirectory, "/");
    EXPECT_EQ(build({}, {{"VESK_AGENT_WORKDIR", "/usr//bin/"}}).defaultWorkingDirectory, "/usr/bin");
}
