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
    EXPECT_EQ(build({"--HOST", "x"}).host, "0.0.0.0");
    EXPECT_EQ(build({"--host=x"}).host, "0.0.0.0");
    EXPECT_EQ(build({"--host", "a", "--host", "b"}).host, "a");
}

// An empty token would let in every request that presents an empty header.
TEST(ConfigurationTest, AnEmptyOrBlankTokenCountsAsNotGiven) {
    const std::string random = "feedfacefeedfacefeedfacefeedface";
    EXPECT_EQ(build({"--token", ""}).token, random);
    EXPECT_EQ(build({}, {{"KESTRO_AGENT_TOKEN", " \t\n"}}).token, random);
    EXPECT_EQ(
        build({"--token", " "}, {{"KESTRO_AGENT_TOKEN", ""}, {"VESK_AGENT_TOKEN", "legacy-token"}}).token,
        "legacy-token");
    // Request headers are trimmed, so a token with blank ends could never match: it is trimmed too.
    EXPECT_EQ(build({"--token", " padded-token "}).token, "padded-token");
}

TEST(ConfigurationTest, IgnoredAndRiskySettingsAreNamedOnStandardError) {
    auto warnings = [](std::vector<std::string> arguments,
                       std::map<std::string, std::string> variables = {}) {
        arguments.insert(arguments.begin(), "kestro-agent");
        return configurationWarnings(arguments, environmentOf(std::move(variables)));
    };
    const std::string longToken = "0123456789abcdef";
    EXPECT_EQ(warnings({"--port", "9000", "--token", longToken, "--name", "--prot", "--no-open-pair-page"}),
              std::vector<std::string>{});
    EXPECT_EQ(warnings({"--port", "abc", "--token", longToken}),
              std::vector<std::string>{"The port \"abc\" is not a number from 0 to 65535; using 8787."});
    EXPECT_EQ(warnings({"--token", longToken}, {{"KESTRO_AGENT_PORT", "70000"}}).size(), 1u);
    EXPECT_EQ(warnings({"--prot", "9000", "--token", longToken, "stray\u001b[2J"}),
              (std::vector<std::string>{"Unknown option \"--prot\" is ignored.",
                                        "Unexpected argument \"9000\" is ignored.",
                                        "Unexpected argument \"stray\\u001b[2J\" is ignored."}));
    EXPECT_EQ(warnings({"--token", ""}),
              std::vector<std::string>{"The token from --token is empty and is ignored."});
    EXPECT_EQ(
        warnings({}, {{"KESTRO_AGENT_TOKEN", "short"}}),
        std::vector<std::string>{"The token from KESTRO_AGENT_TOKEN is shorter than 16 characters: anyone "
                                 "who can reach the port could guess it."});
    EXPECT_EQ(warnings({}), std::vector<std::string>{});
}

TEST(ConfigurationTest, TheBindAddressComesFromItsOptionOrVariable) {
    EXPECT_EQ(build({}).bindAddress, "");
    EXPECT_EQ(build({"--bind", " 127.0.0.1 "}).bindAddress, "127.0.0.1");
    EXPECT_EQ(build({}, {{"KESTRO_AGENT_BIND", "::1"}}).bindAddress, "::1");
    EXPECT_EQ(build({"--bind", "10.0.0.2"}, {{"KESTRO_AGENT_BIND", "::1"}}).bindAddress, "10.0.0.2");
    EXPECT_EQ(commandLineRequest({"kestro-agent", "--bind", "--help"}), CommandLineRequest::serve);
}

TEST(ConfigurationTest, TheSupervisorDescriptorIsANumberOrAStartUpError) {
    EXPECT_EQ(build({}).supervisorDescriptor, std::nullopt);
    EXPECT_EQ(build({"--supervisor-fd", "7"}).supervisorDescriptor, 7);
    // Only an option: a variable would reach every program the runtime starts.
    EXPECT_EQ(build({}, {{"KESTRO_AGENT_SUPERVISOR_FD", "7"}}).supervisorDescriptor, std::nullopt);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--supervisor-fd"},
                                                {"--supervisor-fd", "-1"},
                                                {"--supervisor-fd", "x"},
                                                {"--supervisor-fd", "99999999999"}})
        EXPECT_THROW(build(bad), std::invalid_argument) << bad.back();
    EXPECT_EQ(configurationWarnings({"kestro-agent", "--supervisor-fd", "7"}, environmentOf({})),
              std::vector<std::string>{});
}

TEST(ConfigurationTest, WorkingDirectoryIsNormalizedOrTheCurrentDirectory) {
    EXPECT_EQ(build({"--working-dir", "/tmp/../tmp/./"}).defaultWorkingDirectory, "/tmp");
    EXPECT_EQ(build({"--working-dir", "   "}).defaultWorkingDirectory, "/");
    EXPECT_EQ(build({}, {{"VESK_AGENT_WORKDIR", "/usr//bin/"}}).defaultWorkingDirectory, "/usr/bin");
}
