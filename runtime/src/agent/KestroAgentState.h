#pragma once
// The runtime's one central object. Its operations are serialized: call them only from the
// state's SerialExecutor (start-up creates it before anything else runs). The configuration and
// everything inspected at creation are fixed; only activeJobs, the previous CPU sample and the
// diagnostic line change.

#include "platform/Host.h"
#include "platform/SystemTools.h"
#include "run/CodexRunner.h"
#include "server/KestroAgentService.h"
#include "surfaces/SurfaceDetection.h"

#include <functional>
#include <future>
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

    const KestroAgentConfiguration& configuration() const override { return m_configuration; }

    KestroAgentStatusPayload statusPayload(const std::optional<std::string>& workingDirectory);
    std::string encodedStatus(const std::optional<std::string>& workingDirectory) override;
    std::string encodedThreadHistory(const std::string& threadID) override;
    std::string encodedSurfacePreview(const std::string& kind) override;
    KestroAgentWorktreePayload createWorktree(const std::string& name,
                                              const std::optional<std::string>& workingDirectory) override;

    double sampleCPULoad();
    double sampleRAMLoad();

    std::string resolvedWorkingDirectory(const std::optional<std::string>& requested) const;

    // Pairing.
    std::string preferredAdvertisedHost() const;
    std::string pairingLink() const;
    std::optional<std::string> writePairingQRCode() const;
    std::optional<std::string> openPairingPageIfAvailable(bool openInBrowser) const;
    // Where the QR image and the page are written (whether or not they were).
    std::vector<std::string> pairingFilePaths() const;

    // Runs, jobs and diagnostics.
    struct RunStart {
        CodexRunner runner;
        std::string workingDirectory; // resolved
    };
    // Opens a run in one operation: the runner, the resolved directory, and the job counted.
    // Throws KestroAgentError::codexUnavailable (nothing counted) without a Codex executable.
    RunStart openRun(const std::optional<std::string>& requestedDirectory);
    void beginJob() { ++m_activeJobs; }
    void endJob() { m_activeJobs = m_activeJobs > 0 ? m_activeJobs - 1 : 0; }
    int64_t activeJobs() const { return m_activeJobs; }
    void recordDiagnostic(const std::string& message);
    void recordCodexReady();
    const std::string& lastDiagnosticMessage() const { return m_lastDiagnosticMessage; }

    const std::optional<std::string>& codexPath() const { return m_codexPath; }
    const std::string& ipAddress() const { return m_ipAddress; }
    const SystemTools& tools() const { return m_dependencies.tools; }

  private:
    bool busy() const { return m_activeJobs >= 1; }
    // The tools and the environment the surfaces are looked at with (no screenshot folder).
    SurfaceContext surfaceContext() const;

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
};

} // namespace kestro
