// The installed layout: `cmake --install` into a temporary prefix, then the installed companion
// (offscreen, in a throwaway home) finds and starts the installed runtime and window, and stops
// both when asked to end.

#include "AgentLaunchSettings.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

// The status a GET /status gets, or 0 while nothing listens.
int statusOn(uint16_t port) {
    try {
        return request(port, "GET", "/status").status;
    } catch (const std::exception&) {
        return 0;
    }
}

} // namespace

class AgentInstallTests : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_root;

    QString prefix() const { return m_root.filePath("prefix"); }

  private slots:
    void initTestCase() {
        QProcess install;
        install.start("cmake", {"--install", KESTRO_BUILD_DIR, "--prefix", prefix()});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    }

    void everyFileIsInItsPlace() {
        QVERIFY(QFileInfo(prefix() + "/bin/kestro-agent-companion").isExecutable());
        // The window is started by the keeper only, out of the search path.
        QVERIFY(QFileInfo(prefix() + "/libexec/kestro-agent/kestro-agent-window").isExecutable());
        QVERIFY(!QFileInfo::exists(prefix() + "/bin/kestro-agent-window"));
        QVERIFY(QFileInfo(prefix() + "/bin/kestro-agent").isExecutable());
        QVERIFY(QFileInfo(prefix() + "/share/kestro-agent/Runtime/kestro-agent").isExecutable());
        QVERIFY(
            QFileInfo(prefix() + "/share/icons/hicolor/scalable/apps/com.brantel.kestro.agent.svg").isFile());
        QVERIFY(
            QFileInfo(prefix() + "/share/icons/hicolor/256x256/apps/com.brantel.kestro.agent.png").isFile());
        QFile entry(prefix() + "/share/applications/com.brantel.kestro.agent.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.contains("\nName=kestro Agent\n"));
        QVERIFY(text.contains("\nExec=kestro-agent-companion\n"));
        QVERIFY(text.contains("\nIcon=com.brantel.kestro.agent\n"));
        // No test program or library is installed.
        QVERIFY(!QFileInfo::exists(prefix() + "/bin/kestro_runtime_tests"));
    }

    void theInstalledCompanionStartsTheInstalledRuntime() {
        const QString home = m_root.filePath("home");
        QDir().mkpath(home + "/config/brantel");
        QDir().mkpath(home + "/run");
        QFile::setPermissions(home + "/run",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const uint16_t port = freePort();
        {
            // What the companion's own settings would hold after the user chose this port.
            QSettings settings(home + "/config/brantel/kestro Agent.conf", QSettings::IniFormat);
            const AgentLaunchConfiguration configuration{.machineName = "Installed",
                                                         .host = "0.0.0.0",
                                                         .port = QString::number(port),
                                                         .advertisedHost = "127.0.0.1",
                                                         .workingDirectory = home};
            settings.setValue(AgentLaunchSettings::kConfigurationKey, configuration.toJson());
        }
        QProcessEnvironment environment;
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("HOME", home);
        environment.insert("XDG_CONFIG_HOME", home + "/config");
        environment.insert("XDG_RUNTIME_DIR", home + "/run");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        for (const char* name :
             {"QTWEBENGINE_DISABLE_SANDBOX", "QTWEBENGINE_CHROMIUM_FLAGS", "QT_LOGGING_RULES", "ASAN_OPTIONS",
              "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(name)) environment.insert(name, qEnvironmentVariable(name));
        QProcess companion;
        companion.setProcessEnvironment(environment);
        companion.setWorkingDirectory(home);
        companion.setProcessChannelMode(QProcess::ForwardedChannels);
        companion.start(prefix() + "/bin/kestro-agent-companion");
        QVERIFY(companion.waitForStarted());

        // The runtime answers on the configured port (the token lives in the companion).
        QTRY_COMPARE_WITH_TIMEOUT(statusOn(port), 401, 60000);
        // Its children: the installed runtime and window.
        const auto childRunning = [&](const QString& installed) {
            const QString program = QFileInfo(prefix() + installed).canonicalFilePath();
            for (const pid_t child : childProcesses(pid_t(companion.processId())))
                if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(child)).symLinkTarget() == program)
                    return child;
            return pid_t(0);
        };
        pid_t runtime = 0, window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((runtime = childRunning("/share/kestro-agent/Runtime/kestro-agent")) != 0,
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT((window = childRunning("/libexec/kestro-agent/kestro-agent-window")) != 0,
                                 20000);

        // Asked to end (as at logout), the companion quits the normal way and stops both.
        ::kill(pid_t(companion.processId()), SIGTERM);
        QVERIFY(companion.waitForFinished(20000));
        QCOMPARE(companion.exitStatus(), QProcess::NormalExit);
        QCOMPARE(companion.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(runtime, 0) != 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(window, 0) != 0, 20000);
    }
};

QTEST_GUILESS_MAIN(AgentInstallTests)
#include "AgentInstallTests.moc"
