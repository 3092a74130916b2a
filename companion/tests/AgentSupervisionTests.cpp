// The supervisor over the real runtime built by this repository: throwaway home, free port.

#include "AgentViewModel.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/MemorySecretStore.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace kestro::companion;
using namespace kestro::testing;

class AgentSupervisionTests : public QObject {
    Q_OBJECT

  private:
    static constexpr int kDeadline = 60000;
    QTemporaryDir m_home;
    uint16_t m_port = 0;
    int m_made = 0;

    std::unique_ptr<AgentViewModel> makeViewModel() {
        QProcessEnvironment environment;
        // No Codex on this search path: the runtime starts without one, which is all this needs.
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("HOME", m_home.path());
        environment.insert("XDG_RUNTIME_DIR", m_home.path());
        m_port = freePort();
        AgentViewModelServices services{
            // Settings of their own, so each view model starts from the defaults below.
            .settings = std::make_unique<QSettings>(
                m_home.filePath(QStringLiteral("settings-%1.ini").arg(++m_made)), QSettings::IniFormat),
            .secretStore = std::make_unique<MemorySecretStore>(),
            .runtimeSearch =
                [] { return RuntimeSearch{.runtimeVariable = QString::fromStdString(kAgentBinary)}; },
            .environment = environment,
            .openURL = [](const QUrl&) {},
            .defaults = {.machineName = "Supervised",
                         .host = "0.0.0.0",
                         .port = QString::number(m_port),
                         .advertisedHost = "127.0.0.1",
                         .workingDirectory = m_home.path()}};
        return std::make_unique<AgentViewModel>(std::move(services));
    }

    int statusWith(const QString& token) const {
        return request(m_port, "GET", "/status", {{"X-Kestro-Token", token.toStdString()}}).status;
    }

    QString loggedLine(const AgentViewModel& model, const QString& prefix) const {
        for (const QString& line : model.logLines())
            if (line.startsWith(prefix)) return line.mid(prefix.size());
        return {};
    }

  private slots:
    void theRealRuntimeIsStartedAnsweredRestartedAndStopped() {
        auto model = makeViewModel();
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Running, kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(!model->pairPageURL().isEmpty(), kDeadline);

        QVERIFY(model->pairLink().startsWith("kestro://pair?"));
        QCOMPARE(model->pairLink(), loggedLine(*model, "Pair Link: "));
        QVERIFY(model->pairLink().contains("port=" + QString::number(m_port)));
        QVERIFY(model->pairLink().contains("token=" + model->currentToken()));
        QVERIFY(QFileInfo(model->pairPageURL().toLocalFile()).isFile());
        QVERIFY(model->machineSummary().startsWith("Supervised · IP: "));
        QCOMPARE(model->codexVersion(), QStringLiteral("Not detected"));
        QCOMPARE(statusWith(model->currentToken()), 200);

        const QString oldToken = model->currentToken();
        model->regenerateToken();
        QTRY_VERIFY_WITH_TIMEOUT(model->logLines().contains("lifecycle: stopped"), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Running, kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(statusWith(model->currentToken()), 200, kDeadline);
        QCOMPARE(statusWith(oldToken), 401);

        const auto pid = pid_t(model->runtimeProcess().processId());
        model->stop();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Stopped, kDeadline);
        QVERIFY(!model->hasProcess());
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, kDeadline);
    }

    void aPortInUseEndsInFailureWithTheRuntimesReason() {
        auto first = makeViewModel();
        first->start();
        QTRY_COMPARE_WITH_TIMEOUT(first->runtimeState(), AgentViewModel::RuntimeState::Running, kDeadline);
        const uint16_t taken = m_port;
        auto second = makeViewModel();
        second->setPort(QString::number(taken));
        second->start();
        QTRY_COMPARE_WITH_TIMEOUT(second->runtimeState(), AgentViewModel::RuntimeState::Failed, kDeadline);
        // The runtime's own reason comes with the message.
        const QString reason = loggedLine(*second, "stderr: ");
        QVERIFY(reason.contains("Could not listen on port " + QString::number(taken)));
        QCOMPARE(second->failureMessage(),
                 "kestro Agent stopped unexpectedly with exit code 1. Last error: " + reason);
        first->stop();
        QTRY_COMPARE_WITH_TIMEOUT(first->runtimeState(), AgentViewModel::RuntimeState::Stopped, kDeadline);
    }
};

QTEST_MAIN(AgentSupervisionTests)
#include "AgentSupervisionTests.moc"
