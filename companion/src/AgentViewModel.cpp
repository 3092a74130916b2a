#include "AgentViewModel.h"

#include "AgentKeychainStore.h"
#include "AgentPairToken.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QSettings>
#include <QTimer>

namespace {

const QString kMissingRuntime =
    QStringLiteral("The bundled kestro runtime is missing. Rebuild the Mac companion before packaging it.");

} // namespace

AgentViewModelServices AgentViewModel::systemServices() {
    return {.settings = std::make_unique<QSettings>(),
            .secretStore = std::make_unique<AgentKeychainStore>(QString::fromLatin1(kSecretService)),
            .runtimeSearch = [] { return currentRuntimeSearch(); },
            .environment = QProcessEnvironment::systemEnvironment(),
            .openURL = [](const QUrl& location) { QDesktopServices::openUrl(location); },
            .defaults = defaultConfiguration()};
}

AgentViewModel::AgentViewModel(AgentViewModelServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)) {
    loadConfiguration();
    loadToken();
    // "Start" depends on both the settings and the state.
    connect(this, &AgentViewModel::configurationChanged, this, &AgentViewModel::controlsChanged);
    connect(this, &AgentViewModel::runtimeStateChanged, this, &AgentViewModel::controlsChanged);
}

AgentViewModel::~AgentViewModel() {
    if (!m_process) return;
    // Nothing the process reports from here on may reach this half-destroyed object.
    m_process->disconnect(this);
    // The runtime was asked to end at quit; give it a moment, then make sure, and reap it.
    m_process->terminate();
    if (!m_process->waitForFinished(2000)) {
        m_process->kill();
        m_process->waitForFinished(-1);
    }
}

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

QString AgentViewModel::validationMessage() const {
    return ::validationMessage(m_configuration);
}

void AgentViewModel::chooseWorkspace(const QUrl& folder) {
    if (!folder.isLocalFile() || folder.toLocalFile().isEmpty()) return;
    setWorkingDirectory(folder.toLocalFile());
}

// Token ----------------------------------------------------------------------------------------

void AgentViewModel::loadToken() {
    std::optional<QString> stored;
    try {
        stored = m_services.secretStore->read(QLatin1String(kTokenAccount));
    } catch (const AgentSecretStoreError&) {
        // Unreadable counts as missing: a new token replaces it below.
    }
    if (stored && !stored->isEmpty()) {
        m_currentToken = *stored;
        return;
    }
    m_currentToken = newPairToken();
    saveToken();
}

void AgentViewModel::saveToken() {
    try {
        m_services.secretStore->save(m_currentToken, QLatin1String(kTokenAccount));
    } catch (const AgentSecretStoreError&) {
        // The token still works while the companion runs; it is just not remembered.
    }
}

QString AgentViewModel::maskedToken() const {
    return ::maskedToken(m_currentToken);
}

void AgentViewModel::copyToken() {
    QGuiApplication::clipboard()->setText(m_currentToken);
    showBanner(QStringLiteral("Pair token copied"));
}

void AgentViewModel::regenerateToken() {
    m_currentToken = newPairToken();
    emit currentTokenChanged();
    saveToken();
    showBanner(QStringLiteral("Pair token regenerated"));
    // The runtime takes the new token only when it starts again.
    if (m_process) restart();
}

// Supervision ----------------------------------------------------------------------------------

void AgentViewModel::start() {
    if (m_process) return;
    if (const QString message = validationMessage(); !message.isEmpty()) {
        fail(QStringLiteral("configuration: "), message);
        return;
    }
    const std::optional<QString> runtime = locateRuntime(m_services.runtimeSearch());
    if (!runtime) {
        fail(QStringLiteral("runtime: "), kMissingRuntime);
        return;
    }
    const QString directory = launchWorkingDirectory(m_configuration.workingDirectory);
    saveConfiguration();
    saveToken();

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(*runtime);
    m_process->setArguments(launchArguments(m_configuration, m_currentToken, directory));
    m_process->setWorkingDirectory(directory);
    m_process->setProcessEnvironment(launchEnvironment(m_services.environment, directory));
    m_process->setStandardInputFile(QProcess::nullDevice());

    m_standardOutput.reset();
    m_standardError.reset();
    m_readingOutput = true;
    m_didRequestStop = false;
    setPairLink(QString());
    setPairPageURL(QUrl());
    setRuntimeState(RuntimeState::Starting);
    setText(m_machineSummary, QStringLiteral("Starting ") + m_configuration.machineName + QChar(0x2026),
            &AgentViewModel::machineSummaryChanged);
    setText(m_lastEvent, QStringLiteral("Launching the local Codex bridge."),
            &AgentViewModel::lastEventChanged);
    setText(m_diagnostic, QStringLiteral("Preparing the pairing page and checking the Codex runtime."),
            &AgentViewModel::diagnosticChanged);
    appendLog(QStringLiteral("launch: starting kestro Agent"));

    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, [this] { readOutput(false); });
    connect(m_process.get(), &QProcess::readyReadStandardError, this, [this] { readOutput(true); });
    connect(m_process.get(), &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus) {
        // Output still buffered is read first: it was written before the end.
        readOutput(false);
        readOutput(true);
        handleTermination(exitCode);
    });

    m_process->start();
    if (!m_process->waitForStarted(-1)) {
        const QString reason = m_process->errorString();
        cleanUpAfterFailedLaunch();
        fail(QStringLiteral("runtime: "), QStringLiteral("kestro Agent could not start: ") + reason);
    }
}

void AgentViewModel::startIfNeeded() {
    if (!m_process) start();
}

void AgentViewModel::stop() {
    if (!m_process) return;
    m_didRequestStop = true;
    // Output written while the runtime ends is still read.
    m_process->terminate();
}

void AgentViewModel::restart() {
    if (m_process) {
        m_didRequestStop = true;
        m_process->terminate();
    }
    // A runtime that has not ended by then is not started twice: start does nothing while it runs.
    QTimer::singleShot(kRestartPauseMilliseconds, this, [this] { start(); });
}

void AgentViewModel::shutdown() {
    m_readingOutput = false;
    if (!m_process) return;
    m_didRequestStop = true;
    m_process->terminate();
}

void AgentViewModel::cleanUpAfterFailedLaunch() {
    m_process->disconnect(this);
    m_process.reset();
    m_didRequestStop = false;
    emit runtimeStateChanged();
}

void AgentViewModel::handleTermination(int exitCode) {
    m_process->disconnect(this);
    // Deleted once control is back in the event loop: this runs inside the object's own signal.
    m_process.release()->deleteLater();
    if (m_didRequestStop) {
        m_didRequestStop = false;
        setRuntimeState(RuntimeState::Stopped);
        setText(m_lastEvent, QStringLiteral("kestro Agent stopped."), &AgentViewModel::lastEventChanged);
        appendLog(QStringLiteral("lifecycle: stopped"));
        return;
    }
    // For a runtime ended by a signal the code is the signal's number.
    fail(QStringLiteral("lifecycle: "),
         QStringLiteral("kestro Agent stopped unexpectedly with exit code %1.").arg(exitCode));
}

void AgentViewModel::fail(const QString& prefix, const QString& message) {
    setRuntimeState(RuntimeState::Failed, message);
    setText(m_lastEvent, message, &AgentViewModel::lastEventChanged);
    appendLog(prefix + message);
}

// Output ---------------------------------------------------------------------------------------

void AgentViewModel::readOutput(bool isError) {
    if (!m_process || !m_readingOutput) return;
    const QByteArray chunk = isError ? m_process->readAllStandardError() : m_process->readAllStandardOutput();
    if (chunk.isEmpty()) return;
    consumeLines((isError ? m_standardError : m_standardOutput).feed(chunk), isError);
}

void AgentViewModel::consumeLines(const QStringList& lines, bool isError) {
    for (const QString& line : lines) {
        if (isError) {
            appendLog(QStringLiteral("stderr: ") + line);
        } else {
            appendLog(line);
            handleOutputLine(line);
        }
    }
}

void AgentViewModel::handleOutputLine(const QString& line) {
    const auto rest = [&line](QLatin1String prefix) { return line.mid(prefix.size()); };
    if (line.startsWith(QLatin1String("kestro Agent listening on "))) {
        setRuntimeState(RuntimeState::Running);
        setText(m_lastEvent,
                QStringLiteral("The local bridge is live. Scan the QR preview or copy the pair link."),
                &AgentViewModel::lastEventChanged);
    } else if (line.startsWith(QLatin1String("Machine: "))) {
        setText(m_machineSummary, rest(QLatin1String("Machine: ")), &AgentViewModel::machineSummaryChanged);
    } else if (line.startsWith(QLatin1String("Codex: "))) {
        setText(m_codexVersion, rest(QLatin1String("Codex: ")), &AgentViewModel::codexVersionChanged);
    } else if (line.startsWith(QLatin1String("Diagnostic: "))) {
        setText(m_diagnostic, rest(QLatin1String("Diagnostic: ")), &AgentViewModel::diagnosticChanged);
    } else if (line.startsWith(QLatin1String("Pair Link: "))) {
        setPairLink(rest(QLatin1String("Pair Link: ")));
    } else if (line == QLatin1String("Pair Page: unavailable")) {
        setPairPageURL(QUrl());
        setText(m_lastEvent, QStringLiteral("The pairing page could not be generated on this Mac."),
                &AgentViewModel::lastEventChanged);
    } else if (line.startsWith(QLatin1String("Pair Page: "))) {
        setPairPageURL(QUrl::fromLocalFile(rest(QLatin1String("Pair Page: "))));
    } else if (line.contains(QLatin1String("Pairing page opened in your browser"))) {
        setText(m_lastEvent, QStringLiteral("The pairing page is ready."), &AgentViewModel::lastEventChanged);
    }
}

void AgentViewModel::appendLog(const QString& line) {
    m_logLines.append(line);
    if (m_logLines.size() > kLogCapacity) m_logLines.remove(0, m_logLines.size() - kLogCapacity);
    emit logLinesChanged();
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

QColor AgentViewModel::statusColor() const {
    switch (m_runtimeState) {
    case RuntimeState::Stopped:
        return QColor::fromRgbF(0.48f, 0.54f, 0.65f);
    case RuntimeState::Starting:
        return QColor::fromRgbF(0.56f, 0.71f, 1.0f);
    case RuntimeState::Running:
        return QColor::fromRgbF(0.49f, 0.93f, 0.83f);
    case RuntimeState::Failed:
        break;
    }
    return QColor::fromRgbF(1.0f, 0.54f, 0.56f);
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
