#include "AgentRuntimeSupervisor.h"

#include "AgentBannerLine.h"
#include "AgentPlatformTexts.h"

#include <QFileInfo>

namespace kestro::companion {

namespace {

const QString kPreparing = QStringLiteral("Preparing the pairing page and checking the Codex runtime.");
// The diagnostic before any runtime reported one.
const QString kNotStarted = QStringLiteral("Start the local bridge to generate a pairing page.");
const QString kStopped = QStringLiteral("The bridge stopped.");
// The runtime's "Codex: " line when it found no Codex.
const QString kCodexNotDetected = QStringLiteral("Not detected");
const QString kStartAgain = QStringLiteral("Press Start to serve it again.");
// The bridge's program is missing or cannot be run.
const QString kReinstall = QStringLiteral("Reinstall kestro Agent, then press Start.");

} // namespace

AgentRuntimeSupervisor::AgentRuntimeSupervisor(AgentLaunchSettings& settings, AgentTokenKeeper& token,
                                               AgentSessionLog& log, Services services, QObject* parent)
    : QObject(parent), m_settings(settings), m_token(token), m_log(log), m_services(std::move(services)),
      m_policy(m_services.restartTiming), m_diagnostic(kNotStarted),
      m_machineSummary(platformTexts().notConnected) {
    m_clock.start();
    m_restartPause.setSingleShot(true);
    m_restartPause.setInterval(kRestartPauseMilliseconds);
    connect(&m_restartPause, &QTimer::timeout, this, &AgentRuntimeSupervisor::continueRestart);
    m_startAgain.setSingleShot(true);
    connect(&m_startAgain, &QTimer::timeout, this, &AgentRuntimeSupervisor::startAgainAfterEnd);
    // "Start" depends on the settings as well as on the state.
    connect(&m_settings, &AgentLaunchSettings::changed, this, &AgentRuntimeSupervisor::changed);
    connect(&m_process, &AgentRuntimeProcess::existsChanged, this, &AgentRuntimeSupervisor::changed);
    connect(&m_process, &AgentRuntimeProcess::line, this, &AgentRuntimeSupervisor::handleLine);
    connect(&m_process, &AgentRuntimeProcess::ended, this, &AgentRuntimeSupervisor::handleTermination);
    connect(&m_process, &AgentRuntimeProcess::launchFailed, this,
            &AgentRuntimeSupervisor::handleLaunchFailure);
    connect(&m_token, &AgentTokenKeeper::ready, this, &AgentRuntimeSupervisor::continueStartWithToken);
}

// Published state ------------------------------------------------------------------------------

bool AgentRuntimeSupervisor::canStart() const {
    return m_settings.validationMessage().isEmpty() && m_state != AgentRuntimeState::starting;
}

bool AgentRuntimeSupervisor::showsStop() const {
    return m_process.exists() || m_startAwaitingToken || m_startAgain.isActive();
}

QString AgentRuntimeSupervisor::pairLinkText() const {
    return m_pairLink.isEmpty() ? QStringLiteral("Waiting for the bridge to publish a pair link.")
                                : m_pairLink;
}

bool AgentRuntimeSupervisor::isDown() const {
    return m_state != AgentRuntimeState::running && (hasPairLink() || hasPairPage());
}

QString AgentRuntimeSupervisor::downReason() const {
    return m_state == AgentRuntimeState::failed ? m_failureMessage : m_lastEvent;
}

QString AgentRuntimeSupervisor::codexAdvice() const {
    if (!m_codexMissing) return QString();
    // About the runtime that said so: a program chosen since has not been tried yet.
    if (const QString chosen = m_launchedCodexPath.trimmed(); !chosen.isEmpty())
        return QStringLiteral(
                   "The Codex program chosen in the settings (%1) cannot be run. Choose it again, "
                   "or clear the setting so the bridge looks for Codex itself, then press Restart.")
            .arg(chosen);
    return QStringLiteral("Codex was not found. Install the Codex CLI (npm install -g @openai/codex), or "
                          "choose where it is with \"Codex program\", then press Restart.");
}

// Actions --------------------------------------------------------------------------------------

void AgentRuntimeSupervisor::start() {
    if (m_process.exists() || m_startAwaitingToken) return;
    m_policy.reset();
    m_recovering = false;
    launch();
}

void AgentRuntimeSupervisor::startIfNeeded() {
    if (!m_process.exists()) start();
}

void AgentRuntimeSupervisor::launch() {
    if (m_process.exists() || m_startAwaitingToken) return;
    cancelStartAgain();
    m_settings.revalidate();
    if (const QString message = m_settings.validationMessage(); !message.isEmpty()) {
        fail(QStringLiteral("configuration: "), message);
        return;
    }
    if (!m_token.isReady()) {
        // Shown as starting while the secret store answers; the start goes on once it has.
        m_startAwaitingToken = true;
        setState(AgentRuntimeState::starting);
        return;
    }
    const RuntimeSearch search = m_services.runtimeSearch();
    const std::optional<QString> runtime = locateRuntime(search);
    if (!runtime) {
        fail(QStringLiteral("runtime: "), missingRuntimeMessage(runtimeCandidates(search)), {kReinstall});
        return;
    }
    const AgentLaunchConfiguration& configuration = m_settings.configuration();
    const QString directory = launchWorkingDirectory(configuration.workingDirectory);
    m_settings.save();
    m_token.save();

    m_pairLink.clear();
    setPairPage(QUrl());
    m_nextStep.clear();
    m_nextStepField.clear();
    m_codexMissing = false;
    m_listening.invalidate();
    setState(AgentRuntimeState::starting);
    m_startingSummary = QStringLiteral("Starting ") + configuration.machineName + QChar(0x2026);
    m_machineSummary = m_startingSummary;
    m_lastEvent = QStringLiteral("Launching the local Codex bridge.");
    m_diagnostic = kPreparing;
    emit changed();
    m_log.append(QStringLiteral("launch: starting the bridge"));
    // Whoever starts the runtime, a restart under way is done by it.
    m_restartPending = false;
    m_restartPause.stop();

    m_launchedCodexPath = configuration.codexPath;
    m_process.start(
        {.program = *runtime,
         .arguments = launchArguments(configuration, m_token.token(), directory),
         .workingDirectory = directory,
         .environment = launchEnvironment(m_services.environment, directory, configuration.codexPath)});
}

void AgentRuntimeSupervisor::continueStartWithToken() {
    if (!m_startAwaitingToken) return;
    m_startAwaitingToken = false;
    // Everything is checked again: the settings may have changed while the store answered.
    launch();
}

void AgentRuntimeSupervisor::stop() {
    m_restartPending = false;
    m_restartPause.stop();
    if (m_startAwaitingToken) {
        m_startAwaitingToken = false;
        setState(AgentRuntimeState::stopped);
    }
    if (m_startAgain.isActive()) {
        // Nothing runs: the start that was to come is called off, and the runtime counts as stopped.
        cancelStartAgain();
        setState(AgentRuntimeState::stopped);
        m_nextStep = kStartAgain;
        m_nextStepField.clear();
        setText(m_lastEvent, kStopped);
        m_log.append(QStringLiteral("lifecycle: stopped"));
    }
    m_process.stop();
}

void AgentRuntimeSupervisor::restart() {
    if (m_restartPending) return;
    m_policy.reset();
    m_recovering = false;
    cancelStartAgain();
    m_restartPending = true;
    m_restartPause.start();
    // One that does not end within its grace is killed; either way the new one starts after it.
    m_process.stop();
}

void AgentRuntimeSupervisor::continueRestart() {
    if (!m_restartPending || m_restartPause.isActive() || m_process.exists()) return;
    m_restartPending = false;
    launch();
}

void AgentRuntimeSupervisor::shutdown() {
    cancelStartAgain();
    m_process.shutdown();
}

void AgentRuntimeSupervisor::startAgainAfterEnd() {
    m_recovering = true;
    launch();
}

void AgentRuntimeSupervisor::cancelStartAgain() {
    if (!m_startAgain.isActive()) return;
    m_startAgain.stop();
    emit changed();
}

// The process ----------------------------------------------------------------------------------

void AgentRuntimeSupervisor::handleLaunchFailure(const QString& reason) {
    m_recovering = false;
    clearStartPlaceholders();
    fail(QStringLiteral("runtime: "), QStringLiteral("The bridge could not start: ") + reason, {kReinstall});
}

void AgentRuntimeSupervisor::handleTermination(const AgentProcessEnd& end, bool requested) {
    clearStartPlaceholders();
    const bool listened = m_listening.isValid();
    if (requested) {
        m_recovering = false;
        setState(AgentRuntimeState::stopped);
        m_nextStep = kStartAgain;
        m_nextStepField.clear();
        setText(m_lastEvent, kStopped);
        m_log.append(QStringLiteral("lifecycle: stopped"));
        continueRestart();
        return;
    }
    const QString message = unexpectedEndMessage(end);
    AgentNextStep next;
    if (!listened) {
        m_recovering = false;
        next = adviceForEndBeforeListening(end, m_settings.configuration().port);
    } else if (const auto pause =
                   m_policy.pauseAfterEnd(m_clock.elapsed() - m_listening.elapsed(), m_clock.elapsed())) {
        next.text = QStringLiteral("Starting it again in %1 s.").arg((*pause + 999) / 1000);
        m_startAgain.start(*pause);
    } else {
        m_recovering = false;
        next.text = QStringLiteral("It stopped %1 times within %2 minutes and is not started again. Press "
                                   "Start to try again.")
                        .arg(m_policy.timing().failuresToGiveUp)
                        .arg(m_policy.timing().failureWindow / 60000);
    }
    fail(QStringLiteral("lifecycle: "), message, next);
    emit endedUnexpectedly(message, next.text);
}

void AgentRuntimeSupervisor::clearStartPlaceholders() {
    // What the runtime did not report is shown as not known yet, not as on its way.
    if (m_machineSummary == m_startingSummary) setText(m_machineSummary, platformTexts().notConnected);
    if (m_diagnostic == kPreparing) setText(m_diagnostic, kNotStarted);
}

void AgentRuntimeSupervisor::fail(const QString& prefix, const QString& message,
                                  const AgentNextStep& nextStep) {
    m_nextStep = nextStep.text;
    m_nextStepField = nextStep.field;
    setState(AgentRuntimeState::failed, message);
    setText(m_lastEvent, message);
    m_log.append(prefix + message);
    if (!nextStep.text.isEmpty()) m_log.append(prefix + nextStep.text);
}

// Output ---------------------------------------------------------------------------------------

void AgentRuntimeSupervisor::handleLine(const QString& line, bool isError) {
    if (isError) {
        m_log.append(QStringLiteral("stderr: ") + line);
        return;
    }
    m_log.append(line);
    handleOutputLine(line);
}

void AgentRuntimeSupervisor::handleOutputLine(const QString& line) {
    const AgentBannerLine banner = parseBannerLine(line);
    switch (banner.kind) {
    case AgentBannerLine::Kind::listening:
        m_listening.start();
        setState(AgentRuntimeState::running);
        setText(m_lastEvent,
                QStringLiteral("The local bridge is live. Scan the QR preview or copy the pair link."));
        if (m_recovering) {
            m_recovering = false;
            emit servingAgain();
        }
        break;
    case AgentBannerLine::Kind::machine:
        setText(m_machineSummary, banner.value);
        break;
    case AgentBannerLine::Kind::codex:
        m_codexMissing = banner.value == kCodexNotDetected;
        setText(m_codexVersion, banner.value);
        break;
    case AgentBannerLine::Kind::diagnostic:
        setText(m_diagnostic, banner.value);
        break;
    case AgentBannerLine::Kind::pairLink:
        setText(m_pairLink, banner.value);
        break;
    case AgentBannerLine::Kind::pairPageUnavailable:
        setPairPage(QUrl());
        m_lastEvent = platformTexts().pairPageUnavailable;
        emit changed();
        break;
    case AgentBannerLine::Kind::pairPage:
        setPairPage(QUrl::fromLocalFile(banner.value));
        break;
    case AgentBannerLine::Kind::pageOpened:
        setText(m_lastEvent, QStringLiteral("The pairing page is ready."));
        break;
    case AgentBannerLine::Kind::other:
        break;
    }
}

void AgentRuntimeSupervisor::setState(AgentRuntimeState state, const QString& failureMessage) {
    if (state == m_state && failureMessage == m_failureMessage) return;
    m_state = state;
    m_failureMessage = failureMessage;
    emit changed();
}

void AgentRuntimeSupervisor::setPairPage(const QUrl& page) {
    if (page == m_pairPageURL) return;
    m_pairPageURL = page;
    // The page and its image share a name, and the image is written first; a runtime that could
    // not write the page names the image itself.
    m_pairImageURL.clear();
    if (!page.isEmpty()) {
        const QFileInfo file(page.toLocalFile());
        const QString image =
            file.suffix() == QLatin1String("png")
                ? file.filePath()
                : file.path() + QLatin1Char('/') + file.completeBaseName() + QStringLiteral(".png");
        if (QFileInfo(image).isFile()) m_pairImageURL = QUrl::fromLocalFile(image);
    }
    emit changed();
}

void AgentRuntimeSupervisor::setText(QString& field, const QString& value) {
    if (field == value) return;
    field = value;
    emit changed();
}

} // namespace kestro::companion
