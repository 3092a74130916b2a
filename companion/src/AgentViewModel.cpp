#include "AgentViewModel.h"

#include "AgentBannerLine.h"
#include "AgentKeychainStore.h"
#include "AgentPairToken.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QSettings>
#include <QTimer>

namespace kestro::companion {

namespace {

const QString kPreparing = QStringLiteral("Preparing the pairing page and checking the Codex runtime.");

} // namespace

AgentViewModelServices AgentViewModel::systemServices() {
    return {.settings = std::make_unique<QSettings>(),
            .secretStore = std::make_unique<AgentKeychainStore>(QString::fromLatin1(kSecretService)),
            .runtimeSearch = [] { return currentRuntimeSearch(); },
            .environment = QProcessEnvironment::systemEnvironment(),
            .openURL = [](const QUrl& location) { QDesktopServices::openUrl(location); },
            .defaults = defaultConfiguration(),
            .loginItem = systemLoginItem()};
}

AgentViewModel::AgentViewModel(AgentViewModelServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)),
      m_token(*m_services.secretStore, QString::fromLatin1(kTokenAccount)) {
    loadConfiguration();
    revalidate();
    // "Start" depends on both the settings and the state.
    connect(this, &AgentViewModel::configurationChanged, this, &AgentViewModel::revalidate);
    connect(this, &AgentViewModel::validationMessageChanged, this, &AgentViewModel::controlsChanged);
    connect(this, &AgentViewModel::runtimeStateChanged, this, &AgentViewModel::controlsChanged);
    connect(this, &AgentViewModel::hasProcessChanged, this, &AgentViewModel::controlsChanged);
    m_restartPause.setSingleShot(true);
    m_restartPause.setInterval(kRestartPauseMilliseconds);
    connect(&m_restartPause, &QTimer::timeout, this, &AgentViewModel::continueRestart);
    connect(this, &AgentViewModel::pairPageURLChanged, this, &AgentViewModel::showsPreviewChanged);
    connect(&m_log, &AgentSessionLog::appended, this, &AgentViewModel::logLinesChanged);
    connect(&m_process, &AgentRuntimeProcess::existsChanged, this, &AgentViewModel::hasProcessChanged);
    connect(&m_process, &AgentRuntimeProcess::line, this, &AgentViewModel::handleLine);
    connect(&m_process, &AgentRuntimeProcess::ended, this, &AgentViewModel::handleTermination);
    connect(&m_process, &AgentRuntimeProcess::launchFailed, this, &AgentViewModel::handleLaunchFailure);
    connect(&m_token, &AgentTokenKeeper::tokenChanged, this, &AgentViewModel::currentTokenChanged);
    connect(&m_token, &AgentTokenKeeper::ready, this, &AgentViewModel::continueStartWithToken);
    connect(&m_token, &AgentTokenKeeper::storageChanged, this, &AgentViewModel::tokenNoteChanged);
    connect(&m_token, &AgentTokenKeeper::storeFailed, this,
            [this](const QString& description) { appendLog(QStringLiteral("token: ") + description); });
    m_token.load();
}

// The process, a member, ends a runtime that still runs (asked, then killed) as it goes.
AgentViewModel::~AgentViewModel() = default;

// Settings -------------------------------------------------------------------------------------

void AgentViewModel::loadConfiguration() {
    const QVariant stored = m_services.settings->value(QLatin1String(kConfigurationKey));
    m_configuration = m_services.defaults;
    if (!stored.isValid()) return;
    // Unreadable settings stay as they are on disk until the next save replaces them.
    if (auto decoded = AgentLaunchConfiguration::fromJson(stored.toByteArray())) m_configuration = *decoded;
}

void AgentViewModel::saveConfiguration() {
    m_services.settings->setValue(QLatin1String(kConfigurationKey), m_configuration.toJson());
    m_services.settings->sync();
}

void AgentViewModel::setConfiguration(const AgentLaunchConfiguration& configuration) {
    if (configuration == m_configuration) return;
    m_configuration = configuration;
    emit configurationChanged();
    saveConfiguration();
}

void AgentViewModel::updateField(QString AgentLaunchConfiguration::*member, const QString& value) {
    AgentLaunchConfiguration changed = m_configuration;
    changed.*member = value;
    setConfiguration(changed);
}

void AgentViewModel::setMachineName(const QString& value) {
    updateField(&AgentLaunchConfiguration::machineName, value);
}
void AgentViewModel::setHost(const QString& value) {
    updateField(&AgentLaunchConfiguration::host, value);
}
void AgentViewModel::setPort(const QString& value) {
    updateField(&AgentLaunchConfiguration::port, value);
}
void AgentViewModel::setAdvertisedHost(const QString& value) {
    updateField(&AgentLaunchConfiguration::advertisedHost, value);
}
void AgentViewModel::setWorkingDirectory(const QString& value) {
    updateField(&AgentLaunchConfiguration::workingDirectory, value);
}

QUrl AgentViewModel::workingDirectoryURL() const {
    return QUrl::fromLocalFile(m_configuration.workingDirectory.trimmed());
}

void AgentViewModel::revalidate() {
    setText(m_validationMessage, kestro::companion::validationMessage(m_configuration),
            &AgentViewModel::validationMessageChanged);
}

void AgentViewModel::chooseWorkspace(const QUrl& folder) {
    if (!folder.isLocalFile() || folder.toLocalFile().isEmpty()) return;
    setWorkingDirectory(folder.toLocalFile());
}

void AgentViewModel::setWindowShown(bool shown) {
    if (shown == m_windowShown) return;
    m_windowShown = shown;
    emit showsPreviewChanged();
}

bool AgentViewModel::startsAtLogin() const {
    return m_services.loginItem && m_services.loginItem->isEnabled();
}

void AgentViewModel::setStartsAtLogin(bool enabled) {
    if (m_services.loginItem && enabled != startsAtLogin()) {
        if (const QString error = m_services.loginItem->setEnabled(enabled); !error.isEmpty())
            appendLog(QStringLiteral("configuration: start at login could not be changed: ") + error);
    }
    emit startsAtLoginChanged();
}

// Token ----------------------------------------------------------------------------------------

QString AgentViewModel::maskedToken() const {
    return kestro::companion::maskedToken(m_token.token());
}

QString AgentViewModel::tokenNote() const {
    switch (m_token.storage()) {
    case AgentTokenKeeper::Storage::pending:
        return platformTexts().tokenPending;
    case AgentTokenKeeper::Storage::stored:
        return platformTexts().tokenStored;
    case AgentTokenKeeper::Storage::notStored:
        break;
    }
    return QStringLiteral("Kept for this session only. ") + m_token.storageError();
}

void AgentViewModel::copyToken() {
    if (!m_token.isReady()) return;
    QGuiApplication::clipboard()->setText(m_token.token());
    showBanner(QStringLiteral("Pair token copied"));
}

void AgentViewModel::regenerateToken() {
    m_token.regenerate();
    showBanner(QStringLiteral("Pair token regenerated"));
    // The runtime takes the new token only when it starts again.
    if (m_process.exists()) restart();
}

// Supervision ----------------------------------------------------------------------------------

void AgentViewModel::start() {
    if (m_process.exists() || m_startAwaitingToken) return;
    revalidate();
    if (const QString message = m_validationMessage; !message.isEmpty()) {
        fail(QStringLiteral("configuration: "), message);
        return;
    }
    if (!m_token.isReady()) {
        // Shown as starting while the secret store answers; the start goes on once it has.
        m_startAwaitingToken = true;
        setRuntimeState(RuntimeState::Starting);
        return;
    }
    const RuntimeSearch search = m_services.runtimeSearch();
    const std::optional<QString> runtime = locateRuntime(search);
    if (!runtime) {
        fail(QStringLiteral("runtime: "), missingRuntimeMessage(runtimeCandidates(search)));
        return;
    }
    const QString directory = launchWorkingDirectory(m_configuration.workingDirectory);
    saveConfiguration();
    m_token.save();

    setPairLink(QString());
    setPairPageURL(QUrl());
    setRuntimeState(RuntimeState::Starting);
    m_startingSummary = QStringLiteral("Starting ") + m_configuration.machineName + QChar(0x2026);
    setText(m_machineSummary, m_startingSummary, &AgentViewModel::machineSummaryChanged);
    setText(m_lastEvent, QStringLiteral("Launching the local Codex bridge."),
            &AgentViewModel::lastEventChanged);
    setText(m_diagnostic, kPreparing, &AgentViewModel::diagnosticChanged);
    appendLog(QStringLiteral("launch: starting kestro Agent"));
    // Whoever starts the runtime, a restart under way is done by it.
    m_restartPending = false;
    m_restartPause.stop();

    m_process.start({.program = *runtime,
                     .arguments = launchArguments(m_configuration, m_token.token(), directory),
                     .workingDirectory = directory,
                     .environment = launchEnvironment(m_services.environment, directory)});
}

void AgentViewModel::continueStartWithToken() {
    if (!m_startAwaitingToken) return;
    m_startAwaitingToken = false;
    // Everything is checked again: the settings may have changed while the store answered.
    start();
}

void AgentViewModel::startIfNeeded() {
    if (!m_process.exists()) start();
}

void AgentViewModel::stop() {
    m_restartPending = false;
    m_restartPause.stop();
    if (m_startAwaitingToken) {
        m_startAwaitingToken = false;
        setRuntimeState(RuntimeState::Stopped);
    }
    m_process.stop();
}

void AgentViewModel::restart() {
    if (m_restartPending) return;
    m_restartPending = true;
    m_restartPause.start();
    // One that does not end within its grace is killed; either way the new one starts after it.
    m_process.stop();
}

void AgentViewModel::continueRestart() {
    if (!m_restartPending || m_restartPause.isActive() || m_process.exists()) return;
    m_restartPending = false;
    start();
}

void AgentViewModel::shutdown() {
    m_process.shutdown();
}

void AgentViewModel::handleLaunchFailure(const QString& reason) {
    clearStartPlaceholders();
    fail(QStringLiteral("runtime: "), QStringLiteral("kestro Agent could not start: ") + reason);
}

void AgentViewModel::handleTermination(const AgentProcessEnd& end, bool requested) {
    clearStartPlaceholders();
    if (requested) {
        setRuntimeState(RuntimeState::Stopped);
        setText(m_lastEvent, QStringLiteral("kestro Agent stopped."), &AgentViewModel::lastEventChanged);
        appendLog(QStringLiteral("lifecycle: stopped"));
        continueRestart();
        return;
    }
    fail(QStringLiteral("lifecycle: "), unexpectedEndMessage(end));
}

void AgentViewModel::clearStartPlaceholders() {
    if (m_machineSummary == m_startingSummary)
        setText(m_machineSummary, platformTexts().notConnected, &AgentViewModel::machineSummaryChanged);
    if (m_diagnostic == kPreparing)
        setText(m_diagnostic, QString::fromLatin1(kNotStartedDiagnostic), &AgentViewModel::diagnosticChanged);
}

void AgentViewModel::fail(const QString& prefix, const QString& message) {
    setRuntimeState(RuntimeState::Failed, message);
    setText(m_lastEvent, message, &AgentViewModel::lastEventChanged);
    appendLog(prefix + message);
}

// Output ---------------------------------------------------------------------------------------

void AgentViewModel::handleLine(const QString& line, bool isError) {
    if (isError) {
        appendLog(QStringLiteral("stderr: ") + line);
        return;
    }
    appendLog(line);
    handleOutputLine(line);
}

void AgentViewModel::handleOutputLine(const QString& line) {
    const AgentBannerLine banner = parseBannerLine(line);
    switch (banner.kind) {
    case AgentBannerLine::Kind::listening:
        setRuntimeState(RuntimeState::Running);
        setText(m_lastEvent,
                QStringLiteral("The local bridge is live. Scan the QR preview or copy the pair link."),
                &AgentViewModel::lastEventChanged);
        break;
    case AgentBannerLine::Kind::machine:
        setText(m_machineSummary, banner.value, &AgentViewModel::machineSummaryChanged);
        break;
    case AgentBannerLine::Kind::codex:
        setText(m_codexVersion, banner.value, &AgentViewModel::codexVersionChanged);
        break;
    case AgentBannerLine::Kind::diagnostic:
        setText(m_diagnostic, banner.value, &AgentViewModel::diagnosticChanged);
        break;
    case AgentBannerLine::Kind::pairLink:
        setPairLink(banner.value);
        break;
    case AgentBannerLine::Kind::pairPageUnavailable:
        setPairPageURL(QUrl());
        setText(m_lastEvent, platformTexts().pairPageUnavailable, &AgentViewModel::lastEventChanged);
        break;
    case AgentBannerLine::Kind::pairPage:
        setPairPageURL(QUrl::fromLocalFile(banner.value));
        break;
    case AgentBannerLine::Kind::pageOpened:
        setText(m_lastEvent, QStringLiteral("The pairing page is ready."), &AgentViewModel::lastEventChanged);
        break;
    case AgentBannerLine::Kind::other:
        break;
    }
}

void AgentViewModel::appendLog(const QString& line) {
    m_log.append(line);
}

// Window actions -------------------------------------------------------------------------------

void AgentViewModel::copyPairLink() {
    if (m_pairLink.isEmpty()) return;
    QGuiApplication::clipboard()->setText(m_pairLink);
    showBanner(QStringLiteral("Pair link copied"));
}

void AgentViewModel::openPairingPage() {
    if (m_pairPageURL.isEmpty()) return;
    m_services.openURL(m_pairPageURL);
}

void AgentViewModel::showBanner(const QString& message) {
    setText(m_bannerMessage, message, &AgentViewModel::bannerMessageChanged);
    // Only the newest banner's own timer clears it, also when an older one showed the same text.
    const quint64 serial = ++m_bannerSerial;
    QTimer::singleShot(kBannerMilliseconds, this, [this, serial] {
        if (serial == m_bannerSerial)
            setText(m_bannerMessage, QString(), &AgentViewModel::bannerMessageChanged);
    });
}

// Published state ------------------------------------------------------------------------------

void AgentViewModel::setRuntimeState(RuntimeState state, const QString& failureMessage) {
    if (state == m_runtimeState && failureMessage == m_failureMessage) return;
    m_runtimeState = state;
    m_failureMessage = failureMessage;
    emit runtimeStateChanged();
}

QString AgentViewModel::statusText() const {
    switch (m_runtimeState) {
    case RuntimeState::Stopped:
        return QStringLiteral("Stopped");
    case RuntimeState::Starting:
        return QStringLiteral("Starting");
    case RuntimeState::Running:
        return QStringLiteral("Running");
    case RuntimeState::Failed:
        break;
    }
    return QStringLiteral("Needs attention");
}

QString AgentViewModel::pairLinkText() const {
    return m_pairLink.isEmpty() ? QStringLiteral("Waiting for the bridge to publish a pair link.")
                                : m_pairLink;
}

void AgentViewModel::setPairLink(const QString& link) {
    setText(m_pairLink, link, &AgentViewModel::pairLinkChanged);
}

void AgentViewModel::setPairPageURL(const QUrl& url) {
    if (url == m_pairPageURL) return;
    m_pairPageURL = url;
    emit pairPageURLChanged();
}

void AgentViewModel::setText(QString& field, const QString& value, void (AgentViewModel::*changed)()) {
    if (field == value) return;
    field = value;
    emit(this->*changed)();
}

} // namespace kestro::companion
