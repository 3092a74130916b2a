#include "core/Banner.h"

namespace kestro {

std::vector<std::string> bannerLines(const KestroAgentConfiguration& configuration,
                                     const KestroAgentStatusPayload& snapshot, const std::string& pairLink,
                                     const std::optional<std::string>& pairPagePath) {
    std::vector<std::string> lines{
        "kestro Agent listening on http://" + configuration.host + ":" + std::to_string(configuration.port),
        "Machine: " + snapshot.machineName + " · IP: " + snapshot.ipAddress,
        "Runner: Codex · Workdir: " + snapshot.workingDirectory,
        "Token: " + configuration.token,
        "Codex: " + snapshot.codexVersion.value_or("Not detected"),
        "Diagnostic: " + snapshot.diagnosticMessage,
        "Pair Link: " + pairLink,
    };
    if (pairPagePath) {
        lines.push_back("Pair Page: " + *pairPagePath);
        lines.push_back("Pairing page opened in your browser. Scan the QR from kestro on your iPhone.");
    } else {
        lines.push_back("Pair Page: unavailable");
    }
    return lines;
}

} // namespace kestro
