#include "run/CodexProbe.h"

#include "platform/FileChecks.h"
#include "platform/ProcessRunner.h"
#include "text/Text.h"

#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace {

bool contains(const std::string& text, std::string_view needle) {
    return text.find(needle) != std::string::npos;
}

} // namespace

std::optional<std::string> resolveCodexPath(const EnvironmentLookup& environment, const SystemTools& tools) {
    std::vector<std::string> candidates;
    if (auto path = environment("KESTRO_CODEX_PATH")) candidates.push_back(*path);
    if (auto path = environment("VESK_CODEX_PATH")) candidates.push_back(*path);
    candidates.push_back("/opt/homebrew/bin/codex");
    candidates.push_back("/usr/local/bin/codex");
    // Every run starts Codex from its own working folder, so a relative path would name a
    // different program (a project's own `codex`) in each: only absolute paths are taken.
    for (const auto& candidate : candidates)
        if (candidate.starts_with('/') && isExecutableFile(candidate)) return candidate;
    if (!isExecutableFile(tools.which)) return std::nullopt;
    const std::string found =
        trimmed(runProcess({.executable = tools.which, .arguments = {"codex"}}).standardOutput);
    if (!found.starts_with('/')) return std::nullopt;
    return found;
}

std::optional<std::string> detectDesktopAppPath(const std::string& home) {
    for (const std::string& candidate :
         {std::string("/Applications/Codex.app"), home + "/Applications/Codex.app"})
        if (pathExists(candidate)) return candidate;
    return std::nullopt;
}

void applyProbeTexts(const CodexProbeTexts& texts, CodexInspection& inspection) {
    if (std::string version = trimmed(texts.version); !version.empty()) inspection.version = version;
    inspection.resumeSupported = contains(texts.resumeHelp, "Resume a previous session");
    inspection.imageInputSupported = contains(texts.execHelp, "--image");
    inspection.ossProviderSupported =
        contains(texts.execHelp, "--oss") && contains(texts.execHelp, "--local-provider");
    inspection.appServerSupported = contains(texts.appServerHelp, "Usage: codex app-server");
    if (!inspection.version) {
        inspection.diagnosticMessage = "Codex executable was found, but its version could not be read.";
        return;
    }
    std::vector<std::string> parts{*inspection.version + " ready"};
    if (!inspection.resumeSupported) parts.push_back("resume not detected");
    parts.push_back(std::to_string(inspection.installedSkills.size()) + " skills");
    parts.push_back(std::to_string(inspection.configuredMCPServers.size()) + " MCP servers");
    if (contains(texts.generalHelp, "codex app") && inspection.desktopAppPath)
        parts.push_back("desktop app installed");
    std::string message;
    for (size_t i = 0; i < parts.size(); ++i)
        message += (i == 0 ? "" : " · ") + parts[i];
    inspection.diagnosticMessage = message;
}

CodexInspection inspectCodex(const std::optional<std::string>& codexPath, const CodexProbeSources& sources) {
    CodexInspection inspection;
    if (!codexPath) {
        inspection.desktopAppPath = detectDesktopAppPath(sources.home);
        inspection.diagnosticMessage = kCodexUnavailableMessage;
        return inspection;
    }
    const std::string path = *codexPath;
    auto launch = [&path](std::vector<std::string> arguments) {
        return std::async(std::launch::async,
                          [path, arguments = std::move(arguments)] { return runCommand(path, arguments); });
    };
    // The MCP listing is by far the slowest of the six, so it starts first.
    auto mcpServers = std::async(std::launch::async, [&] {
        return sources.mcpServers ? sources.mcpServers(path) : std::vector<std::string>{};
    });
    auto version = launch({"--version"});
    auto generalHelp = launch({"--help"});
    auto execHelp = launch({"exec", "--help"});
    auto resumeHelp = launch({"exec", "resume", "--help"});
    auto appServerHelp = launch({"app-server", "--help"});
    inspection.installedSkills = sources.skills ? sources.skills() : std::vector<KestroAgentSkillPayload>{};
    inspection.desktopAppPath = detectDesktopAppPath(sources.home);
    inspection.configuredMCPServers = mcpServers.get();
    applyProbeTexts({.version = version.get(),
                     .generalHelp = generalHelp.get(),
                     .execHelp = execHelp.get(),
                     .resumeHelp = resumeHelp.get(),
                     .appServerHelp = appServerHelp.get()},
                    inspection);
    return inspection;
}

} // namespace kestro
