#pragma once
// The runtime's supervision: finds the runtime and starts it with the launch settings and the
// token, follows its banner (the state and the facts the window shows), logs what it prints,
// notices its end, and starts it again after it ended on its own once it had listened
// (AgentRestartPolicy). One that ends before it listens (a busy port, a bad setting) is not
// started again: what to do is said instead. GUI thread only.

#include "AgentLaunchSettings.h"
#include "AgentProcessEnd.h"
#include "AgentRestartPolicy.h"
#include "AgentRuntimeLaunch.h"
#include "AgentRuntimeProcess.h"
#include "AgentRuntimeState.h"
#include "AgentSessionLog.h"
#include "AgentTokenKeeper.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcessEnvironment>
#include <QTimer>
#include <QUrl>
#include <functional>

namespace kestro::companion {

class AgentRuntimeSupervisor : public QObject {
    Q_OBJECT

  public:
    struct Services {
        std::function<RuntimeSearch()> runtimeSearch; // asked afresh at every start
        QProcessEnvironment environment;              // what the runtime inherits
        AgentRestartPolicy::Timing restartTiming;
    };

    // Between asking the old process to end and starting again.
    static constexpr int kRestartPauseMilliseconds = 350;

    // The settings, token and log must outlive the supervisor.
    AgentRuntimeSupervisor(AgentLaunchSettings& settings, AgentTokenKeeper& token, AgentSessionLog& log,
                           Services services, QObject* parent = nullptr);

    AgentRuntimeState state() const { return m_state; }
    QString failureMessage() const { return m_failureMessage; }
    bool hasProcess() const { return m_process.exists(); }
    bool canStart() const;
    bool canRestart() const { return m_state != AgentRuntimeState::starting; }
    // Whenever there is something to stop: a process, a start waiting for the token, or a start
    // after an unexpected end waiting for its time.
    bool showsStop() const;
    QString pairLink() const { return m_pairLink; }
    bool hasPairLink() const { return !m_pairLink.isEmpty(); }
    // The link, or what the window says while there is none.
    QString pairLinkText() const;
    QUrl pairPageURL() const { return m_pairPageURL; }
    bool hasPairPage() const { return !m_pairPageURL.isEmpty(); }
    // The QR image the runtime wrote beside the page (same name, ".png"); empty when there is no
    // page or no such image.
    QUrl pairImageURL() const { return m_pairImageURL; }
    QString codexVersion() const { return m_codexVersion; }
    QString diagnostic() const { return m_diagnostic; }
    QString machineSummary() const { return m_machineSummary; }
    QString lastEvent() const { return m_lastEvent; }
    // The pairing code still shown leads nowhere: no runtime serves it right now.
    bool isDown() const;
    // While down: why, and what happens next (or what to do).
    QString downReason() const;
    QString nextStep() const { return m_nextStep; }
    // The launch setting (its JSON key) the next step asks to change ("port"); empty: none.
    QString nextStepField() const { return m_nextStepField; }
    // The runtime under way, or the last one, found no Codex ("Codex: Not detected").
    bool codexMissing() const { return m_codexMissing; }
    // While Codex is missing: how to install it, or that the chosen program cannot be run.
    QString codexAdvice() const;
    // The runtime process (for tests and diagnostics).
    const AgentRuntimeProcess& process() const { return m_process; }

    // Asked for by the user: what ended the runtime before is forgotten.
    void start();
    // Starts the runtime when none runs (the window appearing).
    void startIfNeeded();
    void stop();
    void restart();
    // At quit: stops reading the runtime and asks it to end, without waiting.
    void shutdown();

  signals:
    void changed();
    // It ended on its own: `message` says how, `nextStep` what happens now.
    void endedUnexpectedly(const QString& message, const QString& nextStep);
    // After it ended on its own, a new runtime is listening.
    void servingAgain();

  private:
    void launch();
    void continueStartWithToken();
    void continueRestart();
    void startAgainAfterEnd();
    void cancelStartAgain();
    void handleLine(const QString& line, bool isError);
    void handleOutputLine(const QString& line);
    void handleTermination(const AgentProcessEnd& end, bool requested);
    void handleLaunchFailure(const QString& reason);
    void clearStartPlaceholders();
    void fail(const QString& prefix, const QString& message, const AgentNextStep& nextStep = {});
    void setState(AgentRuntimeState state, const QString& failureMessage = QString());
    void setText(QString& field, const QString& value);
    void setPairPage(const QUrl& page);

    AgentLaunchSettings& m_settings;
    AgentTokenKeeper& m_token;
    AgentSessionLog& m_log;
    Services m_services;
    AgentRestartPolicy m_policy;

    AgentRuntimeState m_state = AgentRuntimeState::stopped;
    QString m_failureMessage;
    QString m_pairLink;
    QUrl m_pairPageURL;
    QUrl m_pairImageURL;
    QString m_codexVersion = QStringLiteral("Not detected");
    QString m_diagnostic;
    QString m_startingSummary; // what the last start put in the machine summary
    QString m_machineSummary;
    QString m_lastEvent = QStringLiteral("Waiting to start the local bridge.");
    QString m_nextStep;
    QString m_nextStepField;
    bool m_codexMissing = false;
    QString m_launchedCodexPath; // the Codex program the last start passed on

    // A start waits for the token to be read.
    bool m_startAwaitingToken = false;
    // A restart starts again once the old process has ended and the pause has passed.
    bool m_restartPending = false;
    QTimer m_restartPause;
    // The start after an unexpected end, and whether the runtime under way is that start.
    QTimer m_startAgain;
    bool m_recovering = false;
    // Since the runtime under way printed its "listening on" line; invalid before.
    QElapsedTimer m_listening;
    QElapsedTimer m_clock;
    AgentRuntimeProcess m_process;
};

} // namespace kestro::companion
