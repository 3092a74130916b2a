#include "agent/KestroAgentState.h"

#include "core/KestroAgentError.h"
#include "core/PairingLink.h"
#include "core/PairingPage.h"
#include "core/WorkingDirectory.h"
#include "run/CodexProbe.h"
#include "status/CodexConfigReader.h"
#include "status/LoadSampling.h"
#include "status/SkillDiscovery.h"
#include "status/UsageSnapshot.h"
#include "surfaces/SurfaceDetection.h"
#include "surfaces/SurfacePreviews.h"
#include "text/Text.h"
#include "text/TimeText.h"
#include "workspace/GitStatus.h"
#include "workspace/Projects.h"
#include "workspace/Threads.h"

#include <future>

namespace kestro {

KestroAgentState::KestroAgentState(KestroAgentConfiguration configuration, StateDependencies dependencies)
    : m_configuration(std::move(configuration)), m_dependencies(std::move(dependencies)) {
    const HostFacts& host = m_dependencies.host;
    // The Codex probe is independent of the host facts and the QR image, and takes longest:
    // it runs while they are gathered, with the same results as one after another.
    m_codexPath = resolveCodexPath(m_dependencies.environment, m_dependencies.tools);
    const std::string home = host.homeDirectory();
    auto probe = std::async(std::launch::async, [codexPath = m_codexPath, home] {
        return inspectCodex(codexPath,
                            {.mcpServers = [](const std::string& path) { return detectMCPServers(path); },
                             .skills = [home] { return detectSkills(currentDirectory(), home); },
                             .home = home});
    });
    const auto& environment = m_dependencies.environment;
    const bool usageSwitchedOn = environment("KESTRO_AGENT_ENABLE_USAGE_SNAPSHOT") == "1" ||
                                 environment("VESK_AGENT_ENABLE_USAGE_SNAPSHOT") == "1";
    auto codexHome = std::async(std::launch::async, [home, usageSwitchedOn] {
        CodexConfigSnapshot config = readCodexConfig(home);
        std::optional<KestroAgentUsageSnapshotPayload> usage;
        if (usageSwitchedOn) usage = detectUsageSnapshot(home, config.authMode);
        return std::pair(std::move(config), std::move(usage));
    });
    m_hostName = host.computerName().value_or("kestro Host");
    m_ipAddress = detectIPAddress(host.interfaceAddresses());
    m_pairingImage =
        std::async(std::launch::async, [link = pairingLink()] { return pairingQRCodePNG(link); }).share();

    CodexInspection inspection = probe.get();
    m_codexVersion = inspection.version;
    m_resumableSessionsSupported = inspection.resumeSupported;
    m_supportsImageInput = inspection.imageInputSupported;
    m_supportsOSSProvider = inspection.ossProviderSupported;
    m_supportsAppServer = inspection.appServerSupported;
    m_desktopAppPath = inspection.desktopAppPath;
    m_computerUseConfigured = computerUseConfigured(inspection.configuredMCPServers);
    m_configuredMCPServers = std::move(inspection.configuredMCPServers);
    m_installedSkills = std::move(inspection.installedSkills);
    m_lastDiagnosticMessage = std::move(inspection.diagnosticMessage);

    auto [config, usage] = codexHome.get();
    m_installedPlugins = std::move(config.installedPlugins);
    m_defaultModel = std::move(config.defaultModel);
    m_defaultReasoningEffort = std::move(config.defaultReasoningEffort);
    m_authMode = std::move(config.authMode);
    m_usageSnapshot = std::move(usage);
}

std::string KestroAgentState::resolvedWorkingDirectory(const std::optional<std::string>& requested) const {
    return kestro::resolvedWorkingDirectory(requested, m_configuration.defaultWorkingDirectory);
}

double KestroAgentState::sampleCPULoad() {
    const std::optional<CPUTickSample> current = m_dependencies.host.cpuTickSample();
    const CPULoadReading reading = cpuLoadBetween(m_previousCPUSample, current, busy());
    if (reading.storeSample) m_previousCPUSample = current;
    return reading.load;
}

double KestroAgentState::sampleRAMLoad() {
    return ramLoadOf(m_dependencies.host.memorySample(), busy());
}

KestroAgentStatusPayload KestroAgentState::statusPayload(const std::optional<std::string>& workingDirectory) {
    KestroAgentStatusPayload status;
    status.workingDirectory = resolvedWorkingDirectory(workingDirectory);
    // The detectors are independent of each other and mostly wait on child processes: they run
    // at the same time, inside this one operation, with the answer the sequential order gives.
    const std::string home = m_dependencies.host.homeDirectory();
    const std::string& directory = status.workingDirectory;
    const SystemTools& tools = m_dependencies.tools;
    // Two sqlite3 processes opening the WAL database together may find it locked for a moment;
    // the query helper asks again, which costs less than running them in turn.
    auto threads = std::async(std::launch::async, [&] { return detectThreads(directory, home, tools); });
    auto git = std::async(std::launch::async, [&] { return detectGitStatus(directory, tools); });
    auto surfaces = std::async(std::launch::async, [&] {
        return detectRemoteSurfaces(m_installedSkills, m_configuredMCPServers, surfaceContext());
    });
    status.recentProjects = detectProjects(directory, home, tools);
    status.recentThreads = threads.get();
    status.gitStatus = git.get();
    status.remoteSurfaces = surfaces.get();
    status.cpuLoad = sampleCPULoad();
    status.ramLoad = sampleRAMLoad();
    status.activeJobs = m_activeJobs;
    status.lastSeen = isoTimeTextNow();
    status.diagnosticMessage = m_lastDiagnosticMessage;

    status.machineName = m_configuration.machineName;
    status.hostName = m_hostName;
    status.ipAddress = m_ipAddress;
    status.currentRunner = "Codex";
    status.codexPath = m_codexPath;
    status.codexVersion = m_codexVersion;
    status.codexInstalled = m_codexPath.has_value();
    status.resumableSessionsSupported = m_resumableSessionsSupported;
    status.supportsImageInput = m_supportsImageInput;
    status.supportsOSSProvider = m_supportsOSSProvider;
    status.supportsAppServer = m_supportsAppServer;
    status.desktopAppInstalled = m_desktopAppPath.has_value();
    status.desktopAppPath = m_desktopAppPath;
    status.computerUseConfigured = m_computerUseConfigured;
    status.configuredMCPServers = m_configuredMCPServers;
    status.installedSkills = m_installedSkills;
    status.installedPlugins = m_installedPlugins;
    status.defaultModel = m_defaultModel;
    status.defaultReasoningEffort = m_defaultReasoningEffort;
    status.usageSnapshot = m_usageSnapshot;
    status.isOnline = true;
    return status;
}

std::string KestroAgentState::encodedStatus(const std::optional<std::string>& workingDirectory) {
    return encodeRecord(statusPayload(workingDirectory));
}

std::string KestroAgentState::encodedThreadHistory(const std::string& threadID) {
    return encodeRecord(threadHistoryPayload(threadID, m_dependencies.host.homeDirectory()));
}

std::string KestroAgentState::encodedSurfacePreview(const std::string& kind) {
    SurfaceContext context = surfaceContext();
    context.temporaryDirectory = m_dependencies.host.temporaryDirectory();
    return encodeRecord(surfacePreviewPayload(kind, m_installedSkills, context));
}

SurfaceContext KestroAgentState::surfaceContext() const {
    return {.tools = m_dependencies.tools, .environment = m_dependencies.environment};
}

KestroAgentWorktreePayload
KestroAgentState::createWorktree(const std::string& name,
                                 const std::optional<std::string>& workingDirectory) {
    const std::string trimmedName = trimmed(name);
    if (trimmedName.empty()) throw KestroAgentError::invalidWorktreeName();
    return createGitWorktree(resolvedWorkingDirectory(workingDirectory), trimmedName, m_dependencies.tools);
}

std::string KestroAgentState::preferredAdvertisedHost() const {
    return kestro::preferredAdvertisedHost(m_configuration, m_ipAddress);
}

std::string KestroAgentState::pairingLink() const {
    return kestro::pairingLink(m_configuration, preferredAdvertisedHost());
}

std::vector<std::string> KestroAgentState::pairingFilePaths() const {
    const auto directory = m_dependencies.host.temporaryDirectory();
    if (!directory) return {};
    const std::string stem = *directory + "/kestro-pair-" + pairingSlug(m_configuration.machineName);
    return {stem + ".png", stem + ".html"};
}

std::optional<std::string> KestroAgentState::writePairingQRCode() const {
    const auto directory = m_dependencies.host.temporaryDirectory();
    if (!directory) return std::nullopt;
    const auto& png = m_pairingImage.get();
    if (!png) return std::nullopt;
    const std::string path = *directory + "/kestro-pair-" + pairingSlug(m_configuration.machineName) + ".png";
    if (!writeFileAtomically(path, *png)) return std::nullopt;
    return path;
}

std::optional<std::string> KestroAgentState::openPairingPageIfAvailable(bool openInBrowser) const {
    const auto imagePath = writePairingQRCode();
    if (!imagePath) return std::nullopt;
    const auto directory = m_dependencies.host.temporaryDirectory();
    if (!directory) return imagePath;
    const std::string pagePath =
        *directory + "/kestro-pair-" + pairingSlug(m_configuration.machineName) + ".html";
    const std::string html = pairingPageHTML({.machineName = m_configuration.machineName,
                                              .advertisedHost = preferredAdvertisedHost(),
                                              .port = m_configuration.port,
                                              .link = pairingLink(),
                                              .qrImagePath = *imagePath});
    if (!writeFileAtomically(pagePath, html)) return imagePath;
    if (openInBrowser) m_dependencies.host.openLocation(pagePath);
    return pagePath;
}

KestroAgentState::RunStart KestroAgentState::openRun(const std::optional<std::string>& requestedDirectory) {
    if (!m_codexPath) throw KestroAgentError::codexUnavailable();
    RunStart start{.runner = CodexRunner(*m_codexPath),
                   .workingDirectory = resolvedWorkingDirectory(requestedDirectory)};
    beginJob();
    return start;
}

void KestroAgentState::recordDiagnostic(const std::string& message) {
    const std::string text = trimmed(message);
    m_lastDiagnosticMessage = text.empty() ? "Codex reported an empty diagnostic." : text;
}

void KestroAgentState::recordCodexReady() {
    if (!m_codexPath) {
        m_lastDiagnosticMessage = kCodexUnavailableMessage;
        return;
    }
    m_lastDiagnosticMessage = "Codex ready · " + std::to_string(m_installedSkills.size()) + " skills · " +
                              std::to_string(m_configuredMCPServers.size()) + " MCP servers";
}

} // namespace kestro
