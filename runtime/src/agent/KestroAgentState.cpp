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

#include <asio/this_coro.hpp>
#include <future>

namespace kestro {

namespace {

using namespace std::chrono_literals;

// One lane of workers per source a request waits on. Two workers each: a source whose work hangs
// for good holds two threads at most, and sixteen more of its jobs may wait for them.
enum Lane : WorkerPool::LaneId {
    kFolders,
    kProjects,
    kThreads,
    kGit,
    kDisplay,
    kCodexHome,
    kWorktrees,
    kLanes
};
std::vector<WorkerPool::Lane> stateLanes() {
    return std::vector<WorkerPool::Lane>(kLanes, {.workers = 2, .waiting = 16});
}

// How long a request waits for each source, counted from its arrival. A display gets a little
// more than its own deadlines (2 s to find the surfaces, 5 s for a picture), so that a display that
// did not answer is told apart from one that was merely slow.
constexpr auto kFolderBudget = 1s;
constexpr auto kProjectsBudget = 2s;
constexpr auto kThreadsBudget = 2s;
constexpr auto kGitBudget = 2s;
constexpr auto kSurfacesBudget = 2500ms;
constexpr auto kPreviewBudget = 5500ms;
constexpr auto kHistoryBudget = 3s;
// Past the ten minutes a checkout may take.
constexpr auto kWorktreeBudget = 11min;

// No folder has a longer path (PATH_MAX); a status asked about a longer text names none, so that
// no inspection copies it around.
constexpr size_t kLongestPath = 4096;

} // namespace

KestroAgentState::KestroAgentState(KestroAgentConfiguration configuration, StateDependencies dependencies)
    : m_configuration(std::move(configuration)), m_dependencies(std::move(dependencies)),
      m_workers(stateLanes()), m_folders(m_workers, kFolders), m_projects(m_workers, kProjects),
      m_threads(m_workers, kThreads), m_gitStatuses(m_workers, kGit), m_surfaces(m_workers, kDisplay),
      m_previews(m_workers, kDisplay), m_histories(m_workers, kCodexHome) {
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

KestroAgentState::~KestroAgentState() = default;

asio::awaitable<std::string> KestroAgentState::workingDirectoryFor(std::optional<std::string> requested,
                                                                   WorkClock::time_point started) {
    const asio::any_io_executor strand = co_await asio::this_coro::executor;
    auto resolving = m_folders.start(strand, requested.value_or(""), started + kFolderBudget,
                                     [this, requested] { return resolvedWorkingDirectory(requested); });
    std::optional<std::string> resolved = co_await resolving.result();
    if (!resolved) {
        const std::string given = trimmed(requested.value_or(""));
        resolved = given.empty() ? m_configuration.defaultWorkingDirectory : given;
    }
    co_return std::move(*resolved);
}

asio::awaitable<KestroAgentStatusPayload>
KestroAgentState::statusPayload(std::optional<std::string> workingDirectory) {
    const auto started = WorkClock::now();
    if (workingDirectory && workingDirectory->size() > kLongestPath) workingDirectory.reset();
    KestroAgentStatusPayload status;
    std::string resolved = co_await workingDirectoryFor(std::move(workingDirectory), started);
    status.workingDirectory = std::move(resolved);
    // The sources are independent of each other: they are all asked first, then awaited.
    const std::string directory = status.workingDirectory;
    const asio::any_io_executor strand = co_await asio::this_coro::executor;
    auto projects = m_projects.start(strand, directory, started + kProjectsBudget, [this, directory] {
        return detectProjects(directory, m_dependencies.host.homeDirectory(), m_dependencies.tools);
    });
    // Two sqlite3 processes opening the WAL database together may find it locked for a moment;
    // the query helper asks again, which costs less than running them in turn.
    auto threads = m_threads.start(strand, directory, started + kThreadsBudget, [this, directory] {
        return detectThreads(directory, m_dependencies.host.homeDirectory(), m_dependencies.tools);
    });
    auto git = m_gitStatuses.start(strand, directory, started + kGitBudget, [this, directory] {
        return detectGitStatus(directory, m_dependencies.tools);
    });
    const SurfaceContext context = surfaceContext();
    const std::string display = displaySource(context);
    std::optional<PendingWork<std::vector<KestroAgentRemoteSurfacePayload>>> surfaces;
    if (!m_unansweredDisplays->isUnanswered(display))
        surfaces.emplace(m_surfaces.start(strand, display, started + kSurfacesBudget, [this, context] {
            return detectRemoteSurfaces(m_installedSkills, m_configuredMCPServers, context);
        }));

    // A source that gave nothing in time leaves its field empty (no gitStatus, no entries).
    std::optional<std::vector<KestroAgentProjectPayload>> foundProjects = co_await projects.result();
    if (foundProjects) status.recentProjects = std::move(*foundProjects);
    std::optional<std::vector<KestroAgentThreadPayload>> foundThreads = co_await threads.result();
    if (foundThreads) status.recentThreads = std::move(*foundThreads);
    std::optional<std::optional<KestroAgentGitStatusPayload>> foundGit = co_await git.result();
    if (foundGit) status.gitStatus = std::move(*foundGit);
    std::optional<std::vector<KestroAgentRemoteSurfacePayload>> foundSurfaces;
    if (surfaces) {
        foundSurfaces = co_await surfaces->result();
        if (!surfaces->finished()) m_unansweredDisplays->reportUnanswered(display);
    }
    if (foundSurfaces)
        status.remoteSurfaces = std::move(*foundSurfaces);
    else
        status.remoteSurfaces =
            remoteSurfacesFrom(findingsWhenUnanswered(m_installedSkills, context), m_configuredMCPServers);

    // Named, not passed as a temporary: GCC 12 destroys a lambda passed into a coroutine twice.
    const auto readFields = [this, &status] {
        status.cpuLoad = sampleCPULoad();
        status.ramLoad = sampleRAMLoad();
        status.activeJobs = m_activeJobs;
        status.lastSeen = isoTimeTextNow();
        status.diagnosticMessage = m_lastDiagnosticMessage;
    };
    co_await m_serial.run(readFields);

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
    co_return status;
}

asio::awaitable<std::string> KestroAgentState::encodedStatus(std::optional<std::string> workingDirectory) {
    const KestroAgentStatusPayload status = co_await statusPayload(std::move(workingDirectory));
    std::string encoded = encodeRecord(status);
    co_return encoded;
}

asio::awaitable<std::string> KestroAgentState::encodedThreadHistory(std::string threadID) {
    const asio::any_io_executor strand = co_await asio::this_coro::executor;
    auto history = m_histories.start(strand, threadID, WorkClock::now() + kHistoryBudget, [this, threadID] {
        return threadHistoryPayload(threadID, m_dependencies.host.homeDirectory());
    });
    std::optional<KestroAgentThreadHistoryPayload> payload = co_await history.result();
    if (!payload) payload = KestroAgentThreadHistoryPayload{.threadID = threadID, .messages = {}};
    std::string encoded = encodeRecord(*payload);
    co_return encoded;
}

asio::awaitable<std::string> KestroAgentState::encodedSurfacePreview(std::string kind) {
    const SurfaceContext context = surfaceContext();
    const std::string display = displaySource(context);
    std::optional<KestroAgentSurfacePreviewPayload> payload;
    if (!m_unansweredDisplays->isUnanswered(display)) {
        // One capture per kind at a time: phones asking together share its picture.
        const asio::any_io_executor strand = co_await asio::this_coro::executor;
        auto capture =
            m_previews.start(strand, lowercased(kind), WorkClock::now() + kPreviewBudget, [this, kind] {
                SurfaceContext withFolder = surfaceContext();
                withFolder.temporaryDirectory = m_dependencies.host.temporaryDirectory();
                return surfacePreviewPayload(kind, m_installedSkills, withFolder);
            });
        payload = co_await capture.result();
        if (!payload && !capture.finished()) m_unansweredDisplays->reportUnanswered(display);
    }
    if (!payload) payload = previewWhenUnanswered(kind, m_installedSkills, context);
    std::string encoded = encodeRecord(*payload);
    co_return encoded;
}

SurfaceContext KestroAgentState::surfaceContext() const {
    return {.tools = m_dependencies.tools,
            .environment = m_dependencies.environment,
            .temporaryDirectory = std::nullopt,
            .unansweredDisplays = m_unansweredDisplays};
}

asio::awaitable<KestroAgentWorktreePayload>
KestroAgentState::createWorktree(std::string name, std::optional<std::string> workingDirectory) {
    const std::string trimmedName = trimmed(name);
    if (trimmedName.empty()) throw KestroAgentError::invalidWorktreeName();
    const asio::any_io_executor strand = co_await asio::this_coro::executor;
    auto creating = startOnWorker<KestroAgentWorktreePayload>(
        m_workers, kWorktrees, strand, WorkClock::now() + kWorktreeBudget,
        [this, trimmedName, workingDirectory] {
            return createGitWorktree(resolvedWorkingDirectory(workingDirectory), trimmedName,
                                     m_dependencies.tools);
        });
    std::optional<KestroAgentWorktreePayload> created = co_await creating.value();
    if (created) co_return std::move(*created);
    if (creating.finished())
        throw KestroAgentError::processFailed(
            "Too many worktrees are being created at once. Try again in a moment.");
    throw KestroAgentError::processFailed("Git did not finish creating the worktree in time.");
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

asio::awaitable<KestroAgentState::RunStart>
KestroAgentState::openRun(std::optional<std::string> requestedDirectory) {
    if (!m_codexPath) throw KestroAgentError::codexUnavailable();
    // Each co_await stands alone in its statement, apart from temporaries: GCC 12 mishandles
    // temporaries that live across a suspension (it destroys them twice).
    std::string directory = co_await workingDirectoryFor(std::move(requestedDirectory), WorkClock::now());
    const auto countJob = [this] { beginJob(); };
    co_await m_serial.run(countJob);
    RunStart start{.runner = CodexRunner(*m_codexPath), .workingDirectory = std::move(directory)};
    co_return start;
}

void KestroAgentState::closeRun() {
    m_serial.post([this] { endJob(); });
}

asio::awaitable<void> KestroAgentState::recordRunOutcome(std::optional<std::string> failure) {
    const auto record = [this, &failure] {
        if (failure)
            recordDiagnostic(*failure);
        else
            recordCodexReady();
    };
    co_await m_serial.run(record);
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
