#pragma once
// Where the keeper's parts meet: the launch settings, the pairing token, the runtime's supervision,
// the session log, the banner and the desktop life, each published to the window on its own, and
// the actions that span them (copying, regenerating, opening). Actions whose effect must outlive
// the window (the clipboard) happen here. GUI thread only.

#include "AgentBanner.h"
#include "AgentDesktopLife.h"
#include "AgentLaunchSettings.h"
#include "AgentLoginItem.h"
#include "AgentRuntimeSupervisor.h"
#include "AgentSecretStore.h"
#include "AgentSessionLog.h"
#include "AgentTokenKeeper.h"

#include <QObject>
#include <QSettings>
#include <QUrl>
#include <functional>
#include <memory>

namespace kestro::companion {

// What the keeper needs from the world; the real defaults are in `AgentKeeper::systemServices`.
struct AgentKeeperServices {
    std::unique_ptr<QSettings> settings;           // the application's standard settings
    std::unique_ptr<AgentSecretStore> secretStore; // the Keychain / Secret Service store
    std::function<RuntimeSearch()> runtimeSearch;  // asked afresh at every start
    QProcessEnvironment environment;               // what the runtime inherits
    std::function<void(const QUrl&)> openURL;      // hands a location to the desktop
    AgentLaunchConfiguration defaults;             // used when nothing usable is stored
    std::unique_ptr<AgentLoginItem> loginItem;     // start at login; none: never
    AgentRestartPolicy::Timing restartTiming = {};
};

class AgentKeeper : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kSecretService = "com.brantel.kestro.agent.secrets";
    static constexpr const char* kTokenAccount = "pair-token";

    // The real settings, keychain, runtime search, environment, desktop and login item.
    static AgentKeeperServices systemServices();

    // Loads the settings and starts reading the token (one is made and saved when none is
    // stored); a start asked for meanwhile waits for the token.
    explicit AgentKeeper(AgentKeeperServices services, QObject* parent = nullptr);
    ~AgentKeeper() override;

    AgentLaunchSettings& settings() { return m_settings; }
    AgentTokenKeeper& token() { return m_token; }
    AgentRuntimeSupervisor& runtime() { return m_runtime; }
    AgentSessionLog& log() { return m_log; }
    AgentBanner& banner() { return m_banner; }
    AgentDesktopLife& desktop() { return m_desktop; }

    // The full token on the clipboard.
    void copyToken();
    // A new token, saved; a running runtime is restarted to take it.
    void regenerateToken();
    void copyPairLink();
    void openPairingPage();
    // Asks the secret store again after it failed; a stored token it now reads replaces this
    // session's, and a running runtime is restarted to take it.
    void retrySecretStore();

  private:
    AgentKeeperServices m_services;
    AgentSessionLog m_log;
    AgentLaunchSettings m_settings;
    AgentTokenKeeper m_token;
    AgentBanner m_banner;
    AgentDesktopLife m_desktop;
    AgentRuntimeSupervisor m_runtime;
};

} // namespace kestro::companion
