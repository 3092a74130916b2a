#pragma once
// The runtime's one central object, where the subsystems meet. The configuration and everything
// inspected at creation are fixed and read from any thread; only activeJobs, the previous CPU
// sample and the diagnostic line change, and only on the state's own serial executor. The waiting
// a request does (git, sqlite3, the display, the Codex home's files) runs on the state's worker
// pool, one lane per source: each source answers by its budget or gives its fallback, requests
// for the same source and folder share one inspection, and a display that did not answer is
// skipped for a while. The awaitable operations are awaited from a strand (a connection's own).

#include "platform/Host.h"
#include "platform/SystemTools.h"
#include "run/CodexRunner.h"
#include "server/KestroAgentService.h"
#include "server/PooledWork.h"
#include "server/SerialExecutor.h"
#include "server/WorkerPool.h"
#include "surfaces/SurfaceDetection.h"
#include "surfaces/UnansweredDisplays.h"

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

// Where the state gets the machine's facts; the defaults ask the platform.
struct HostFacts {
    std::function<std::optional<std::string>()> computerName = [] { return kestro::computerName(); };
    std::function<std::optional<std::vector<InterfaceAddress>>()> interfaceAddresses = [] {
        return kestro::interfaceAddresses();
    };
    std::function<std::optional<CPUTickSample>()> cpuTickSample = [] { return kestro::cpuTickSample(); };
    std::function<std::optional<MemorySample>()> memorySample = [] { return kestro::memorySample(); };
    std::function<std::string()> homeDirectory = [] { return kestro::homeDirectory(); };
    std::function<std::optional<std::string>()> temporaryDirectory = [] {
        return kestro::privateTemporaryDirectory();
    };
    std::function<void(const std::string&)> openLocation = [](const std::string& location) {
        openWithDefaultApplication(location);
    };
};

struct StateDependencies {
    HostFacts host;
    SystemTools tools;
    EnvironmentLookup environment = processEnvironment();
};

class KestroAgentState final : public KestroAgentService {
  public:
    // Runs the once-only inspection in start-up order; never fails.
    explicit KestroAgentState(KestroAgentConfiguration configuration, StateDependencies dependencies = {});
    // Waits for the work in flight on its workers.
    ~KestroAgentState() override;

    const KestroAgentConfiguration& configuration() const override { return m_configuration; }

    asio::awaitable<KestroAgentStatusPayload> statusPayload(std::optional<std::string> workingDirectory);
    asio::awaitable<std::string> encodedStatus(std::optional<std::string> workingDirectory) override;
    asio::awaitable<std::string> encodedThreadHistory(std::string threadID) override;
    asio::awaitable<std::string> encodedSurfacePreview(std::string kind) override;
    asio::awaitable<KestroAgentWorktreePayload>
    createWorktree(std::string name, std::optional<std::string> workingDirectory) override;

    // Pairing (fixed values only: any thread).
    std::string preferredAdvertisedHost() const;
    std::string pairingLink() const;
    std::optional<std::string> writePairingQRCode() const;
    std::optional<std::string> openPairingPageIfAvailable(bool openInBrowser) const;
    // Where the QR image and the page are written (whether or not they were).
    std::vector<std::string> pairingFilePaths() const;

    // Runs.
    struct RunStart {
        CodexRunner runner;
        std::string workingDirectory; // resolved
    };
    // The runner and the resolved directory, with the job counted. Throws
    // KestroAgentError::codexUnavailable (nothing counted) without a Codex executable.
    asio::awaitable<RunStart> openRun(std::optional<std::string> requestedDirectory);
    // Lowers the job count of a run that was opened; returns at once.
    void closeRun();
    // The diagnostic line after a run: its failure message, or "Codex ready" when it completed.
    asio::awaitable<void> recordRunOutcome(std::optional<std::string> failure);

    // The mutable fields: on the state's executor only, or before it serves.
    double sampleCPULoad();
    double sampleRAMLoad();
    void beginJob() { ++m_activeJobs; }
    void endJob() { m_activeJobs = m_activeJobs > 0 ? m_activeJobs - 1 : 0; }
    int64_t activeJobs() const { return m_activeJobs; }
    void recordDiagnostic(const std::string& message);
    void recordCodexReady();
    const std::string& lastDiagnosticMessage() const { return m_lastDiagnosticMessage; }

    // Blocks on a file system that does not answer: call it on a worker.
    std::string resolvedWorkingDirectory(const std::optional<std::string>& requested) const;
    const std::optional<std::string>& codexPath() const { return m_codexPath; }
    const std::string& ipAddress() const { return m_ipAddress; }
    const SystemTools& tools() const { return m_dependencies.tools; }

  private:
    bool busy() const { return m_activeJobs >= 1; }
    // The tools and the environment the surfaces are looked at with (no screenshot folder).
    SurfaceContext surfaceContext() const;
    // The requested directory resolved on a worker; as given (or the default) when that takes too long.
    asio::awaitable<std::string> workingDirectoryFor(std::optional<std::string> requested,
                                                     WorkClock::time_point started);

    KestroAgentConfiguration m_configuration;
    StateDependencies m_dependencies;
    // The QR image depends only on the link, so it is drawn while the Codex probe runs.
    std::shared_future<std::optional<std::string>> m_pairingImage;
    std::string m_hostName;
    std::string m_ipAddress;
    std::optional<std::string> m_codexPath;
    std::optional<std::string> m_codexVersion;
    bool m_resumableSessionsSupported = false;
    bool m_supportsImageInput = false;
    bool m_supportsOSSProvider = false;
    bool m_supportsAppServer = false;
    std::optional<std::string> m_desktopAppPath;
    bool m_computerUseConfigured = false;
    std::vector<std::string> m_configuredMCPServers;
    std::vector<KestroAgentSkillPayload> m_installedSkills;
    std::vector<KestroAgentPluginPayload> m_installedPlugins;
    std::optional<std::string> m_defaultModel;
    std::optional<std::string> m_defaultReasoningEffort;
    std::string m_authMode;
    std::optional<KestroAgentUsageSnapshotPayload> m_usageSnapshot;
    int64_t m_activeJobs = 0;
    std::optional<CPUTickSample> m_previousCPUSample;
    std::string m_lastDiagnosticMessage;

    std::shared_ptr<UnansweredDisplays> m_unansweredDisplays = std::make_shared<UnansweredDisplays>();
    SerialExecutor m_serial;
    // After every field its jobs read, so that it is gone (its workers joined) before them.
    WorkerPool m_workers;
    SharedInspection<std::string> m_folders;
    SharedInspection<std::vector<KestroAgentProjectPayload>> m_projects;
    SharedInspection<std::vector<KestroAgentThreadPayload>> m_threads;
    SharedInspection<std::optional<KestroAgentGitStatusPayload>> m_gitStatuses;
    SharedInspection<std::vector<KestroAgentRemoteSurfacePayload>> m_surfaces;
    SharedInspection<KestroAgentSurfacePreviewPayload> m_previews;
    SharedInspection<KestroAgentThreadHistoryPayload> m_histories;
};

} // namespace kestro
