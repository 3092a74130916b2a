// The supervision over the real runtime built by this repository: throwaway home, free port.

#include "AgentKeeper.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/MemorySecretStore.h"

#include <QFileInfo>
#include <QSignalSpy>
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

    std::unique_ptr<AgentKeeper> makeKeeper() {
        QProcessEnvironment environment;
        // No Codex on this search path: the runtime starts without one, which is all this needs.
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("HOME", m_home.path());
        environment.insert("XDG_RUNTIME_DIR", m_home.path());
        m_port = freePort();
        AgentKeeperServices services{
            // Settings of their own, so each keeper starts from the defaults below.
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
                         .workingDirectory = m_home.path()},
            .restartTiming = {.firstPause = 200}};
        return std::make_unique<AgentKeeper>(std::move(services));
    }

    int statusWith(const QString& token) const {
        try {
            return request(m_port, "GET", "/status", {{"X-Kestro-Token", token.toStdString()}}).status;
        } catch (const std::exception&) {
            return 0; // nothing listens
        }
    }

    static QString loggedLine(AgentKeeper& keeper, const QString& prefix) {
        for (const QString& line : keeper.log().lines())
            if (line.startsWith(prefix)) return line.mid(prefix.size());
        return {};
    }

  private slots:
    void theRealRuntimeIsStartedAnsweredRestartedAndStopped() {
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), AgentRuntimeState::running, kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(runtime.hasPairPage(), kDeadline);

        const QString token = keeper->token().token();
        QVERIFY(runtime.pairLink().startsWith("kestro://pair?"));
        QCOMPARE(runtime.pairLink(), loggedLine(*keeper, "Pair Link: "));
        QVERIFY(runtime.pairLink().contains("port=" + QString::number(m_port)));
        QVERIFY(runtime.pairLink().contains("token=" + token));
        QVERIFY(QFileInfo(runtime.pairPageURL().toLocalFile()).isFile());
        // The QR image the window shows first is there, beside the page.
        QVERIFY(QFileInfo(runtime.pairImageURL().toLocalFile()).isFile());
        QVERIFY(runtime.machineSummary().startsWith("Supervised · IP: "));
        QCOMPARE(runtime.codexVersion(), QStringLiteral("Not detected"));
        QCOMPARE(statusWith(token), 200);

        keeper->regenerateToken();
        QTRY_VERIFY_WITH_TIMEOUT(keeper->log().lines().contains("lifecycle: stopped"), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), AgentRuntimeState::running, kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(statusWith(keeper->token().token()), 200, kDeadline);
        QCOMPARE(statusWith(token), 401);

        const auto pid = pid_t(runtime.process().processId());
        runtime.stop();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), AgentRuntimeState::stopped, kDeadline);
        QVERIFY(!runtime.hasProcess());
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, kDeadline);
    }

    // Killed outright, the runtime is started again and serves with the same token; while it is
    // down the pairing code is said to lead nowhere.
    void aKilledRuntimeServesAgainWithTheSameToken() {
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        QSignalSpy ended(&runtime, &AgentRuntimeSupervisor::endedUnexpectedly);
        QSignalSpy back(&runtime, &AgentRuntimeSupervisor::servingAgain);
        runtime.start();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), AgentRuntimeState::running, kDeadline);
        const QString token = keeper->token().token();
        const QString link = runtime.pairLink();
        ::kill(pid_t(runtime.process().processId()), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kDeadline);
        QVERIFY(runtime.isDown());
        QCOMPARE(runtime.downReason(),
                 QStringLiteral("The bridge stopped unexpectedly by signal 9 (SIGKILL)."));
        QCOMPARE(runtime.nextStep(), QStringLiteral("Starting it again in 1 s."));
        QTRY_COMPARE_WITH_TIMEOUT(back.count(), 1, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(statusWith(token), 200, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(runtime.pairLink(), link, kDeadline);
        runtime.stop();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), AgentRuntimeState::stopped, kDeadline);
    }

    // A port in use: the runtime fails before it listens, is not started again, and what to do
    // names the port.
    void aPortInUseEndsInFailureOnceWithTheRuntimesReason() {
        auto first = makeKeeper();
        first->runtime().start();
        QTRY_COMPARE_WITH_TIMEOUT(first->runtime().state(), AgentRuntimeState::running, kDeadline);
        const uint16_t taken = m_port;
        auto second = makeKeeper();
        second->settings().setField("port", QString::number(taken));
        second->runtime().start();
        QTRY_COMPARE_WITH_TIMEOUT(second->runtime().state(), AgentRuntimeState::failed, kDeadline);
        // The runtime's own reason comes with the message.
        const QString reason = loggedLine(*second, "stderr: ");
        QVERIFY(reason.contains("Could not listen on port " + QString::number(taken)));
        QCOMPARE(second->runtime().failureMessage(),
                 "The bridge stopped unexpectedly with exit code 1. Last error: " + reason);
        QVERIFY(second->runtime().nextStep().startsWith("Port " + QString::number(taken) + " is taken"));
        QTest::qWait(600);
        QCOMPARE(second->log().lines().count("launch: starting the bridge"), 1);
        QVERIFY(!second->runtime().hasProcess());
        first->runtime().stop();
        QTRY_COMPARE_WITH_TIMEOUT(first->runtime().state(), AgentRuntimeState::stopped, kDeadline);
    }
};

QTEST_MAIN(AgentSupervisionTests)
#include "AgentSupervisionTests.moc"
