#include "core/KestroAgentConfiguration.h"

#include "core/WorkingDirectory.h"
#include "platform/Host.h"
#include "platform/SecureRandom.h"
#include "text/Numbers.h"
#include "text/Text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace kestro {

namespace {

constexpr uint16_t kDefaultPort = 8787;

// The command line's options: those that take the following argument as their value, and flags.
const std::vector<std::string> kValueOptions{"--host",           "--port",        "--token", "--name",
                                             "--advertise-host", "--working-dir", "--bind"};
const std::vector<std::string> kFlags{"--no-open-pair-page", "--no-qr", "--help", "-h", "--version"};

bool isOneOf(const std::vector<std::string>& names, const std::string& text) {
    return std::find(names.begin(), names.end(), text) != names.end();
}

// Where a setting comes from, in the order tried, with the name a message uses for each.
struct SettingSource {
    std::string label;
    std::optional<std::string> value;
};

std::vector<SettingSource> settingSources(const std::vector<std::string>& arguments,
                                          const EnvironmentLookup& environment, const std::string& option,
                                          const std::string& name) {
    return {{option, optionValue(arguments, option)},
            {"KESTRO_AGENT_" + name, environment("KESTRO_AGENT_" + name)},
            {"VESK_AGENT_" + name, environment("VESK_AGENT_" + name)}};
}

std::optional<std::string> firstPresent(const std::vector<std::string>& arguments,
                                        const EnvironmentLookup& environment, const std::string& option,
                                        const std::string& name) {
    for (auto& source : settingSources(arguments, environment, option, name))
        if (source.value) return source.value;
    return std::nullopt;
}

// A token that is empty or only white space counts as not given: it would let in a request that
// presents an empty header. Ends are trimmed because request headers are.
std::optional<std::string> firstGivenToken(const std::vector<std::string>& arguments,
                                           const EnvironmentLookup& environment) {
    for (auto& source : settingSources(arguments, environment, "--token", "TOKEN"))
        if (source.value && !trimmed(*source.value).empty()) return trimmed(*source.value);
    return std::nullopt;
}

} // namespace

ConfigurationFallbacks systemFallbacks() {
    return {.computerName = [] { return kestro::computerName(); },
            .currentDirectory = [] { return kestro::currentDirectory(); },
            .randomToken = [] { return kestro::randomToken(); }};
}

CommandLineRequest commandLineRequest(const std::vector<std::string>& arguments) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--help" || arguments[i] == "-h") return CommandLineRequest::help;
        if (arguments[i] == "--version") return CommandLineRequest::version;
        if (isOneOf(kValueOptions, arguments[i])) ++i;
    }
    return CommandLineRequest::serve;
}

std::vector<std::string> configurationWarnings(const std::vector<std::string>& arguments,
                                               const EnvironmentLookup& environment) {
    std::vector<std::string> warnings;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (isOneOf(kValueOptions, arguments[i])) {
            ++i;
        } else if (!isOneOf(kFlags, arguments[i])) {
            warnings.push_back((startsWith(arguments[i], "-") ? "Unknown option " : "Unexpected argument ") +
                               quotedForMessage(arguments[i]) + " is ignored.");
        }
    }
    if (auto port = firstPresent(arguments, environment, "--port", "PORT"); port && !parsePort(*port))
        warnings.push_back("The port " + quotedForMessage(*port) +
                           " is not a number from 0 to 65535; using " + std::to_string(kDefaultPort) + ".");
    for (auto& source : settingSources(arguments, environment, "--token", "TOKEN")) {
        if (!source.value) continue;
        if (trimmed(*source.value).empty()) {
            warnings.push_back("The token from " + source.label + " is empty and is ignored.");
            continue;
        }
        if (graphemeCount(trimmed(*source.value)) < kShortestQuietTokenLength)
            warnings.push_back("The token from " + source.label + " is shorter than " +
                               std::to_string(kShortestQuietTokenLength) +
                               " characters: anyone who can reach the port could guess it.");
        break;
    }
    return warnings;
}

void withdrawTokenFromEnvironment() {
    for (const std::string name : {"KESTRO_AGENT_TOKEN", "VESK_AGENT_TOKEN"}) {
        // The entry also stays in the memory this process started with, which the system shows as
        // its environment (/proc): blanked there once it is out of the list.
        std::vector<char*> entries;
        for (char** entry = environ; *entry != nullptr; ++entry)
            if (std::strncmp(*entry, (name + "=").c_str(), name.size() + 1) == 0) entries.push_back(*entry);
        ::unsetenv(name.c_str());
        for (char* entry : entries)
            std::memset(entry, 0, std::strlen(entry));
    }
}

void hideTokenFromCommandLine(int argc, char** argv) {
    // The system shows a process's command line from its own memory, so other users see stars
    // from here on (though not before).
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--token") == 0) std::memset(argv[i + 1], '*', std::strlen(argv[i + 1]));
}

std::string usageText() {
    return "Usage: kestro-agent [options]\n"
           "\n"
           "Serves the kestro phone app over HTTP and runs prompts through the Codex CLI.\n"
           "\n"
           "Options (each also read from the variable shown, else the legacy VESK_AGENT_ one):\n"
           "  --host HOST             address shown in the banner, never bound (KESTRO_AGENT_HOST;\n"
           "                          default 0.0.0.0)\n"
           "  --port N                port to listen on, every interface; 0 picks a free one\n"
           "                          (KESTRO_AGENT_PORT; default 8787)\n"
           "  --token TOKEN           pairing token (KESTRO_AGENT_TOKEN; default, or when empty: a new\n"
           "                          random one).\n"
           "                          Other local users can read command lines: prefer the variable.\n"
           "  --name NAME             what the phone calls this computer (KESTRO_AGENT_NAME)\n"
           "  --advertise-host HOST   address or host name the phone should use "
           "(KESTRO_AGENT_ADVERTISE_HOST)\n"
           "  --working-dir DIR       folder runs use unless the phone names one (KESTRO_AGENT_WORKDIR;\n"
           "                          default: the current folder)\n"
           "  --bind ADDRESS          listen on this local IP address only (KESTRO_AGENT_BIND;\n"
           "                          default: every interface)\n"
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
    configuration.token = firstGivenToken(arguments, environment).value_or(fallbacks.randomToken());
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
    if (auto bind = optionValue(arguments, "--bind")) {
        configuration.bindAddress = trimmed(*bind);
    } else if (auto variable = environment("KESTRO_AGENT_BIND")) {
        configuration.bindAddress = trimmed(*variable);
    }
    return configuration;
}

} // namespace kestro
