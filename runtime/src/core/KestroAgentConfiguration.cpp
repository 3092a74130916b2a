#include "core/KestroAgentConfiguration.h"

#include "core/WorkingDirectory.h"
#include "platform/Host.h"
#include "platform/SecureRandom.h"
#include "text/Numbers.h"
#include "text/Text.h"

#include <algorithm>
#include <cstdlib>

namespace kestro {

namespace {

constexpr uint16_t kDefaultPort = 8787;

std::optional<std::string> firstPresent(const std::vector<std::string>& arguments,
                                        const EnvironmentLookup& environment, const std::string& option,
                                        const std::string& name) {
    if (auto value = optionValue(arguments, option)) return value;
    if (auto value = environment("KESTRO_AGENT_" + name)) return value;
    return environment("VESK_AGENT_" + name);
}

} // namespace

EnvironmentLookup processEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

ConfigurationFallbacks systemFallbacks() {
    return {.computerName = [] { return kestro::computerName(); },
            .currentDirectory = [] { return kestro::currentDirectory(); },
            .randomToken = [] { return kestro::randomToken(); }};
}

CommandLineRequest commandLineRequest(const std::vector<std::string>& arguments) {
    static const std::vector<std::string> kTakesValue{"--host", "--port",           "--token",
                                                      "--name", "--advertise-host", "--working-dir"};
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--help" || arguments[i] == "-h") return CommandLineRequest::help;
        if (arguments[i] == "--version") return CommandLineRequest::version;
        if (std::find(kTakesValue.begin(), kTakesValue.end(), arguments[i]) != kTakesValue.end()) ++i;
    }
    return CommandLineRequest::serve;
}

std::string usageText() {
    return "Usage: kestro-agent [options]\n"
           "\n"
           "Serves the kestro phone app over HTTP and runs prompts through the Codex CLI.\n"
           "\n"
           "Options (each also read from the variable shown, else the legacy VESK_AGENT_ one):\n"
           "  --host HOST             address shown in the banner (KESTRO_AGENT_HOST; default 0.0.0.0)\n"
           "  --port N                port to listen on, every interface; 0 picks a free one\n"
           "                          (KESTRO_AGENT_PORT; default 8787)\n"
           "  --token TOKEN           pairing token (KESTRO_AGENT_TOKEN; default: a new random one).\n"
           "                          Other local users can read command lines: prefer the variable.\n"
           "  --name NAME             what the phone calls this computer (KESTRO_AGENT_NAME)\n"
           "  --advertise-host HOST   address or host name the phone should use "
           "(KESTRO_AGENT_ADVERTISE_HOST)\n"
           "  --working-dir DIR       folder runs use unless the phone names one (KESTRO_AGENT_WORKDIR;\n"
           "                          default: the current folder)\n"
           "  --no-open-pair-page     do not open the pairing page in the browser\n"
           "  --no-qr                 do not print the pairing QR code after the banner on a terminal\n"
           "  --help, -h              print this help and exit\n"
           "  --version               print the version and exit\n"
           "\n"
           "KESTRO_CODEX_PATH names the Codex executable; KESTRO_AGENT_ENABLE_USAGE_SNAPSHOT=1 adds\n"
           "usage limits read from Codex's session logs to the status.\n";
}

std::optional<std::string> optionValue(const std::vector<std::string>& arguments, const std::string& option) {
    const auto found = std::find(arguments.begin(), arguments.end(), option);
    if (found == arguments.end() || std::next(found) == arguments.end()) return std::nullopt;
    return *std::next(found);
}

bool hasFlag(const std::vector<std::string>& arguments, const std::string& flag) {
    return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

KestroAgentConfiguration buildConfiguration(const std::vector<std::string>& arguments,
                                            const EnvironmentLookup& environment,
                                            const ConfigurationFallbacks& fallbacks) {
    KestroAgentConfiguration configuration;
    configuration.host = firstPresent(arguments, environment, "--host", "HOST").value_or("0.0.0.0");
    configuration.port =
        parsePort(firstPresent(arguments, environment, "--port", "PORT").value_or("")).value_or(kDefaultPort);
    if (auto token = firstPresent(arguments, environment, "--token", "TOKEN"))
        configuration.token = *token;
    else
        configuration.token = fallbacks.randomToken();
    if (auto name = firstPresent(arguments, environment, "--name", "NAME"))
        configuration.machineName = *name;
    else
        configuration.machineName = fallbacks.computerName().value_or("kestro Mac");
    configuration.advertisedHost =
        firstPresent(arguments, environment, "--advertise-host", "ADVERTISE_HOST").value_or("");
    const std::string currentDirectory = fallbacks.currentDirectory();
    const std::string workingDirectory =
        firstPresent(arguments, environment, "--working-dir", "WORKDIR").value_or(currentDirectory);
    configuration.defaultWorkingDirectory = normalizedKestroPath(workingDirectory).value_or(currentDirectory);
    configuration.opensPairingPageAutomatically = !hasFlag(arguments, "--no-open-pair-page");
    configuration.printsTerminalQRCode = !hasFlag(arguments, "--no-qr");
    return configuration;
}

} // namespace kestro
