#pragma once
// The runtime's settings, built once from the command line and the environment, never changed.

#include "platform/EnvironmentLookup.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct KestroAgentConfiguration {
    std::string host;
    uint16_t port = 8787;
    std::string token;
    std::string machineName;
    std::string advertisedHost;
    std::string defaultWorkingDirectory;
    bool opensPairingPageAutomatically = true;
    bool printsTerminalQRCode = true; // on a terminal only; "--no-qr" turns it off
    // The one local address to listen on; empty: every interface and address family.
    std::string bindAddress;
    // "--supervisor-fd N": the read end of a pipe whose other end the program that started this
    // one holds; the runtime ends when it is closed. Absent: nobody supervises it.
    std::optional<int> supervisorDescriptor;
};

// A token shorter than this still works, with a warning: it can be guessed.
inline constexpr size_t kShortestQuietTokenLength = 16;

// The inputs that come from the machine rather than from the user, so tests can fix them.
struct ConfigurationFallbacks {
    std::function<std::optional<std::string>()> computerName;
    std::function<std::string()> currentDirectory;
    std::function<std::string()> randomToken;
};
ConfigurationFallbacks systemFallbacks();

// `arguments` includes the program path as its first element. Throws std::invalid_argument when
// "--supervisor-fd" is given without a descriptor number: a supervised runtime must never run
// unsupervised.
KestroAgentConfiguration buildConfiguration(const std::vector<std::string>& arguments,
                                            const EnvironmentLookup& environment,
                                            const ConfigurationFallbacks& fallbacks = systemFallbacks());

// Sentences for standard error about settings that were ignored or are unsafe: an unreadable
// port, an unknown option or stray argument, an empty token, a short token. Start-up goes on.
std::vector<std::string> configurationWarnings(const std::vector<std::string>& arguments,
                                               const EnvironmentLookup& environment);

// Removes the token variables from this process's environment, so that no child (Codex, and
// every command it runs) inherits the token, and blanks them where the system shows the
// environment it started with. Call before any other thread starts.
void withdrawTokenFromEnvironment();

// Overwrites the value of every "--token" in the process's own argument memory, which is what
// process listings show. Call once the arguments have been copied.
void hideTokenFromCommandLine(int argc, char** argv);

// What the command line asks for: to serve (the normal case), or only the help or the version.
// "--help" / "-h" and "--version" count where they stand as options, not as another option's value.
enum class CommandLineRequest { serve, help, version };
CommandLineRequest commandLineRequest(const std::vector<std::string>& arguments);

// The options and variables, as --help prints them.
std::string usageText();

// The value following the first argument equal to `option`, if any.
std::optional<std::string> optionValue(const std::vector<std::string>& arguments, const std::string& option);
bool hasFlag(const std::vector<std::string>& arguments, const std::string& flag);

} // namespace kestro
