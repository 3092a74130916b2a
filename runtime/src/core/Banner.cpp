#include "core/Banner.h"

#include "text/Text.h"

namespace kestro {

std::vector<std::string> bannerLines(const KestroAgentConfiguration& configuration,
                                     const KestroAgentStatusPayload& snapshot, const std::string& pairLink,
                                     const std::optional<std::string>& pairPagePath) {
    // Values come from the command line, the environment, folder names and Codex's own output: a
    // control character in one must neither act on the terminal nor split a line the companion
    // reads one at a time.
    const auto shown = [](const std::string& value) { return escapedControlCharacters(value); };
    std::vector<std::string> lines{
        "kestro Agent listening on http://" + shown(configuration.host) + ":" +
            std::to_string(configuration.port),
        "Machine: " + shown(snapshot.machineName) + " · IP: " + shown(snapshot.ipAddress),
        "Runner: Codex · Workdir: " + shown(snapshot.workingDirectory),
        "Token: " + shown(configuration.token),
        "Codex: " + shown(snapshot.codexVersion.value_or("Not detected")),
        "Diagnostic: " + shown(snapshot.diagnosticMessage),
        "Pair Link: " + shown(pairLink),
    };
    if (pairPagePath) {
        lines.push_back("Pair Page: " + shown(*pairPagePath));
        lines.push_back("Pairing page opened in your browser. Scan the QR from kestro on your iPhone.");
    } else {
        lines.push_back("Pair Page: unavailable");
    }
    return lines;
}

} // namespace kestro
