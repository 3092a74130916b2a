#pragma once
// The companion's one view model, the object the window binds to: the launch settings and the
// pairing token, the runtime's state as its banner tells it, the session log, and the window's
// actions. It is a façade over the parts that do the work: AgentRuntimeProcess (the child
// process), AgentSessionLog (the log's rows) and parseBannerLine (what a line says). Everything
// runs on the GUI thread.

#include "AgentLaunchConfiguration.h"
#include "AgentLoginItem.h"
#include "AgentPlatformTexts.h"
#include "AgentRuntimeLaunch.h"
#include "AgentRuntimeProcess.h"
#include "AgentSecretStore.h"
#include "AgentSessionLog.h"
#include "AgentTokenKeeper.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <memory>

namespace kestro::companion {

// What the view model needs from the world; the real defaults are in `AgentViewModel::systemServices`.
struct AgentViewModelServices {
    std::unique_ptr<QSettings> settings;           // the application's standard settings
    std::unique_ptr<AgentSecretStore> secretStore; // the Keychain / Secret Service store
    std::function<RuntimeSearch()> runtimeSearch;  // asked afresh at every start
    QProcessEnvironment environment;               // what the runtime inherits
    std::function<void(const QUrl&)> openURL;      // hands a location to the desktop
    AgentLaunchConfiguration defaults;             // used when nothing usable is stored
    std::unique_ptr<AgentLoginItem> loginItem;     // start at login; none: never
};

class AgentViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The window is given its view model.")
    Q_PROPERTY(AgentLaunchConfiguration configuration READ configuration NOTIFY configurationChanged)
    Q_PROPERTY(QString machineName READ machineName WRITE setMachineName NOTIFY configurationChanged)
    Q_PROPERTY(QString host READ host WRITE setHost NOTIFY configurationChanged)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY configurationChanged)
    Q_PROPERTY(QString advertisedHost READ advertisedHost WRITE setAdvertisedHost NOTIFY configurationChanged)
    Q_PROPERTY(
        QString workingDirectory READ workingDirectory WRITE setWorkingDirectory NOTIFY configurationChanged)
    Q_PROPERTY(QUrl workingDirectoryURL READ workingDirectoryURL NOTIFY configurationChanged)
    // As last checked: at each edit, each start, and whenever the window turns active.
    Q_PROPERTY(QString validationMessage READ validationMessage NOTIFY validationMessageChanged)
    Q_PROPERTY(RuntimeState runtimeState READ runtimeState NOTIFY runtimeStateChanged)
    Q_PROPERTY(QString failureMessage READ failureMessage NOTIFY runtimeStateChanged)
    Q_PROPERTY(bool hasProcess READ hasProcess NOTIFY hasProcessChanged)
    // What the window shows for the state, and which of its controls are usable.
    Q_PROPERTY(QString statusText READ statusText NOTIFY runtimeStateChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY controlsChanged)
    Q_PROPERTY(bool canRestart READ canRestart NOTIFY controlsChanged)
    Q_PROPERTY(bool showsStop READ showsStop NOTIFY controlsChanged)
    Q_PROPERTY(QString pairLink READ pairLink NOTIFY pairLinkChanged)
    Q_PROPERTY(bool hasPairLink READ hasPairLink NOTIFY pairLinkChanged)
    Q_PROPERTY(QString pairLinkText READ pairLinkText NOTIFY pairLinkChanged)
    Q_PROPERTY(bool hasPairPage READ hasPairPage NOTIFY pairPageURLChanged)
    Q_PROPERTY(QUrl pairPageURL READ pairPageURL NOTIFY pairPageURLChanged)
    // The web preview exists only while there is a page and the window is shown: hidden, the
    // companion lets the web engine's page and its helper processes go.
    Q_PROPERTY(bool showsPreview READ showsPreview NOTIFY showsPreviewChanged)
    Q_PROPERTY(bool startsAtLogin READ startsAtLogin WRITE setStartsAtLogin NOTIFY startsAtLoginChanged)
    Q_PROPERTY(QString codexVersion READ codexVersion NOTIFY codexVersionChanged)
    Q_PROPERTY(QString diagnostic READ diagnostic NOTIFY diagnosticChanged)
    Q_PROPERTY(QString machineSummary READ machineSummary NOTIFY machineSummaryChanged)
    Q_PROPERTY(QString lastEvent READ lastEvent NOTIFY lastEventChanged)
    Q_PROPERTY(QStringList logLines READ logLines NOTIFY logLinesChanged)
    Q_PROPERTY(kestro::companion::AgentSessionLog* sessionLog READ sessionLog CONSTANT)
    Q_PROPERTY(QString currentToken READ currentToken NOTIFY currentTokenChanged)
    Q_PROPERTY(QString maskedToken READ maskedToken NOTIFY currentTokenChanged)
    // Where the token stands with the secret store: the token row's help line.
    Q_PROPERTY(QString tokenNote READ tokenNote NOTIFY tokenNoteChanged)
    Q_PROPERTY(QString bannerMessage READ bannerMessage NOTIFY bannerMessageChanged)
    // The window's texts that name this kind of computer.
    Q_PROPERTY(kestro::companion::AgentPlatformTexts texts READ texts CONSTANT)

  public:
    enum class RuntimeState { Stopped, Starting, Running, Failed };
    Q_ENUM(RuntimeState)

    static constexpr const char* kConfigurationKey = "com.brantel.kestro.agent.configuration";
    static constexpr const char* kSecretService = "com.brantel.kestro.agent.secrets";
    static constexpr const char* kTokenAccount = "pair-token";
    static constexpr int kLogCapacity = AgentSessionLog::kCapacity;
    static constexpr int kRestartPauseMilliseconds = 350;
    static constexpr int kBannerMilliseconds = 1800;

    // The real settings, keychain, runtime search, environment and desktop.
    static AgentViewModelServices systemServices();

    // Loads the settings and starts reading the token (one is made and saved when none is
    // stored); a start asked for meanwhile waits for the token.
    explicit AgentViewModel(AgentViewModelServices services, QObject* parent = nullptr);
    ~AgentViewModel() override;

    const AgentLaunchConfiguration& configuration() const { return m_configuration; }
    // Replaces the settings and saves them when they changed.
    void setConfiguration(const AgentLaunchConfiguration& configuration);
    QString machineName() const { return m_configuration.machineName; }
    QString host() const { return m_configuration.host; }
    QString port() const { return m_configuration.port; }
    QString advertisedHost() const { return m_configuration.advertisedHost; }
    QString workingDirectory() const { return m_configuration.workingDirectory; }
    QUrl workingDirectoryURL() const;
    void setMachineName(const QString& value);
    void setHost(const QString& value);
    void setPort(const QString& value);
    void setAdvertisedHost(const QString& value);
    void setWorkingDirectory(const QString& value);
    QString validationMessage() const { return m_validationMessage; }

    RuntimeState runtimeState() const { return m_runtimeState; }
    QString failureMessage() const { return m_failureMessage; }
    bool hasProcess() const { return m_process.exists(); }
    QString statusText() const;
    bool canStart() const {
        return m_validationMessage.isEmpty() && m_runtimeState != RuntimeState::Starting;
    }
    bool canRestart() const { return m_runtimeState != RuntimeState::Starting; }
    // Whenever there is something to stop: a process, or a start waiting for the token.
    bool showsStop() const { return m_process.exists() || m_startAwaitingToken; }
    QString pairLink() const { return m_pairLink; }
    bool hasPairLink() const { return !m_pairLink.isEmpty(); }
    // The link, or what the window says while there is none.
    QString pairLinkText() const;
    bool hasPairPage() const { return !m_pairPageURL.isEmpty(); }
    QUrl pairPageURL() const { return m_pairPageURL; }
    bool showsPreview() const { return hasPairPage() && m_windowShown; }
    // Told by the application as its window comes and goes.
    void setWindowShown(bool shown);
    bool startsAtLogin() const;
    // Writes or removes the login item; a failure is logged and the switch shows the truth.
    void setStartsAtLogin(bool enabled);
    QString codexVersion() const { return m_codexVersion; }
    QString diagnostic() const { return m_diagnostic; }
    QString machineSummary() const { return m_machineSummary; }
    QString lastEvent() const { return m_lastEvent; }
    QStringList logLines() const { return m_log.lines(); }
    AgentSessionLog* sessionLog() { return &m_log; }
    QString currentToken() const { return m_token.token(); }
    QString maskedToken() const;
    QString tokenNote() const;
    QString bannerMessage() const { return m_bannerMessage; }
    const AgentPlatformTexts& texts() const { return platformTexts(); }
    // The runtime process (for tests and diagnostics).
    const AgentRuntimeProcess& runtimeProcess() const { return m_process; }

    Q_INVOKABLE void saveConfiguration();
    // Checks the settings again: the folder they name may have come or gone meanwhile.
    Q_INVOKABLE void revalidate();
    Q_INVOKABLE void start();
    Q_INVOKABLE void startIfNeeded();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void restart();
    // At application quit: stops reading the runtime and asks it to end, without waiting.
    Q_INVOKABLE void shutdown();
    Q_INVOKABLE void copyPairLink();
    Q_INVOKABLE void openPairingPage();
    // The folder the window's folder dialog returned; anything but a local folder is ignored.
    Q_INVOKABLE void chooseWorkspace(const QUrl& folder);
    Q_INVOKABLE void copyToken();
    Q_INVOKABLE void regenerateToken();
    Q_INVOKABLE void showBanner(const QString& message);

  signals:
    void configurationChanged();
    void validationMessageChanged();
    void runtimeStateChanged();
    void hasProcessChanged();
    void controlsChanged();
    void pairLinkChanged();
    void pairPageURLChanged();
    void showsPreviewChanged();
    void startsAtLoginChanged();
    void codexVersionChanged();
    void diagnosticChanged();
    void machineSummaryChanged();
    void lastEventChanged();
    void logLinesChanged();
    void currentTokenChanged();
    void tokenNoteChanged();
    void bannerMessageChanged();

  private:
    void loadConfiguration();
    void continueStartWithToken();
    void continueRestart();
    void updateField(QString AgentLaunchConfiguration::*member, const QString& value);
    void fail(const QString& prefix, const QString& message);
    void handleLine(const QString& line, bool isError);
    void handleOutputLine(const QString& line);
    void appendLog(const QString& line);
    void handleTermination(const AgentProcessEnd& end, bool requested);
    // Start's placeholders go when no start is under way any more: what the runtime did not
    // report is shown as not known yet, not as on its way.
    void clearStartPlaceholders();
    void handleLaunchFailure(const QString& reason);
    void setRuntimeState(RuntimeState state, const QString& failureMessage = QString());
    void setPairLink(const QString& link);
    void setPairPageURL(const QUrl& url);
    void setText(QString& field, const QString& value, void (AgentViewModel::*changed)());

    AgentViewModelServices m_services;
    AgentLaunchConfiguration m_configuration;
    QString m_validationMessage;
    RuntimeState m_runtimeState = RuntimeState::Stopped;
    QString m_failureMessage;
    QString m_pairLink;
    QUrl m_pairPageURL;
    bool m_windowShown = true;
    QString m_codexVersion = QStringLiteral("Not detected");
    // The diagnostic before any runtime reported one.
    static constexpr const char* kNotStartedDiagnostic = "Start the local bridge to generate a pairing page.";
    QString m_diagnostic = QString::fromLatin1(kNotStartedDiagnostic);
    QString m_startingSummary; // what the last start put in the machine summary
    QString m_machineSummary = platformTexts().notConnected;
    QString m_lastEvent = QStringLiteral("Waiting to start the local bridge.");
    AgentSessionLog m_log;
    QString m_bannerMessage;
    quint64 m_bannerSerial = 0;
    AgentTokenKeeper m_token;
    // A start waits for the token to be read.
    bool m_startAwaitingToken = false;
    // A restart starts again once the old process has ended and the pause has passed.
    bool m_restartPending = false;
    QTimer m_restartPause;
    AgentRuntimeProcess m_process;
};

} // namespace kestro::companion
