// The keeper's parts over fake runtimes (small shell scripts): settings and token at creation,
// the start rules, banner lines, the log, the end of the process and the start after it, and the
// actions the window asks for.

#include "AgentKeeper.h"
#include "AgentPlatformTexts.h"
#include "AgentTrayIcon.h"
#include "support/FakeRuntime.h"
#include "support/MemorySecretStore.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

constexpr int kDeadline = 15000;
using State = AgentRuntimeState;

} // namespace

class AgentKeeperTests : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> m_folder;
    MemorySecretStore* m_store = nullptr;
    QList<QUrl> m_opened;
    std::optional<QString> m_inheritedPath = QStringLiteral("/usr/bin:/bin");

    QString path(const QString& relative) const { return m_folder->filePath(relative); }
    QString settingsPath() const { return path("settings.ini"); }

    FakeRuntime runtime() const { return FakeRuntime(m_folder->path()); }
    void writeRuntime(const QString& body) { QVERIFY(runtime().write(body)); }
    int launches() const { return runtime().launches(); }
    QStringList launchFile(const QString& kind, int launch) const {
        return runtime().launchFile(kind, launch);
    }

    // Where the keeper looks for the runtime: the fake one, nothing else that could exist.
    RuntimeSearch runtimeSearch() const { return {.runtimeVariable = runtime().executable()}; }

    AgentLaunchConfiguration defaults() const {
        return {.machineName = "Studio",
                .host = "0.0.0.0",
                .port = "8787",
                .advertisedHost = "",
                .workingDirectory = path("work")};
    }

    // A keeper over the test's settings and store; by default once it has its token and the
    // store is idle, as a keeper is a moment after its launch.
    std::unique_ptr<AgentKeeper> makeKeeper(bool settled = true, AgentRestartTiming timing = {}) {
        // Keeps what an earlier keeper stored.
        auto store = m_store != nullptr ? std::make_unique<MemorySecretStore>(*m_store)
                                        : std::make_unique<MemorySecretStore>();
        m_store = store.get();
        QProcessEnvironment environment;
        if (m_inheritedPath) environment.insert("PATH", *m_inheritedPath);
        AgentKeeperServices services{.settings =
                                         std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat),
                                     .secretStore = std::move(store),
                                     .runtimeSearch = [this] { return runtimeSearch(); },
                                     .environment = environment,
                                     .openURL = [this](const QUrl& location) { m_opened << location; },
                                     .defaults = defaults(),
                                     .restartTiming = timing};
        auto keeper = std::make_unique<AgentKeeper>(std::move(services));
        const auto isSettled = [&] { return keeper->token().isReady() && m_store->pending() == 0; };
        if (settled && !QTest::qWaitFor(isSettled, kDeadline)) qWarning("the keeper did not settle");
        return keeper;
    }

    void storeSettings(const QByteArray& json) {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue(AgentLaunchSettings::kConfigurationKey, json);
    }
    QByteArray storedSettings() const {
        return QSettings(settingsPath(), QSettings::IniFormat)
            .value(AgentLaunchSettings::kConfigurationKey)
            .toByteArray();
    }

    static QString banner(const QString& pairPage) { return FakeRuntime::banner(pairPage); }

  private slots:
    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path("work"));
        m_store = nullptr;
        m_opened.clear();
        m_inheritedPath = QStringLiteral("/usr/bin:/bin");
    }

    void aFirstLaunchUsesTheDefaultsAndMakesAToken() {
        auto keeper = makeKeeper();
        QCOMPARE(keeper->settings().configuration(), defaults());
        QCOMPARE(keeper->runtime().state(), State::stopped);
        QCOMPARE(keeper->runtime().lastEvent(), QStringLiteral("Waiting to start the local bridge."));
        QCOMPARE(keeper->runtime().codexVersion(), QStringLiteral("Not detected"));
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(keeper->token().token()).hasMatch());
        QCOMPARE(m_store->items.value("pair-token"), keeper->token().token());
        // Nothing is written to the settings before a change or a start.
        QVERIFY(storedSettings().isEmpty());
    }

    void storedSettingsAreLoadedEachEditIsSavedAndUnreadableOnesWait() {
        storeSettings(R"({"machineName":"Other","host":"127.0.0.1","port":"9000","workingDirectory":"/x"})");
        {
            // A member missing: the defaults for all five; the stored value stays until a save.
            auto keeper = makeKeeper();
            QCOMPARE(keeper->settings().configuration(), defaults());
            QVERIFY(storedSettings().contains("Other"));
            QVERIFY(keeper->settings().setField("port", "9001"));
            QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->port, QStringLiteral("9001"));
        }
        m_store = nullptr; // went with that keeper
        AgentLaunchConfiguration stored = defaults();
        stored.machineName = "Stored";
        storeSettings(stored.toJson());
        auto keeper = makeKeeper();
        QCOMPARE(keeper->settings().field("machineName"), QStringLiteral("Stored"));
        QSignalSpy changed(&keeper->settings(), &AgentLaunchSettings::changed);
        QVERIFY(keeper->settings().setField("advertisedHost", "studio.tailnet"));
        QVERIFY(keeper->settings().setField("advertisedHost", "studio.tailnet")); // no change, no signal
        QVERIFY(!keeper->settings().setField("token", "x"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->advertisedHost,
                 QStringLiteral("studio.tailnet"));
    }

    void storedTokensAreUsedAsTheyAreAndEmptyOnesReplaced() {
        MemorySecretStore seeded;
        seeded.items.insert("pair-token", "abc");
        m_store = &seeded;
        auto keeper = makeKeeper();
        QCOMPARE(keeper->token().token(), QStringLiteral("abc"));
        QCOMPARE(keeper->token().masked(), QStringLiteral("abc"));
        QCOMPARE(m_store->saves, 0);

        MemorySecretStore empty;
        empty.items.insert("pair-token", "");
        m_store = &empty;
        auto replaced = makeKeeper();
        const QString token = replaced->token().token();
        QCOMPARE(token.size(), 32);
        QCOMPARE(m_store->items.value("pair-token"), token);
        QCOMPARE(replaced->token().masked(), token.left(6) + "••••••" + token.right(4));
    }

    void theTokenIsReadWithoutWaitingAndAStartWaitsForIt() {
        writeRuntime("exec sleep 60\n");
        MemorySecretStore slow;
        slow.items.insert("pair-token", "stored-token");
        slow.readDelayMilliseconds = 800;
        m_store = &slow;
        auto keeper = makeKeeper(false);
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        // The keeper is there at once; a start meanwhile shows as starting and waits.
        QVERIFY(!keeper->token().isReady());
        QCOMPARE(keeper->token().note(), platformTexts().tokenPending);
        runtime.startIfNeeded();
        QCOMPARE(runtime.state(), State::starting);
        QVERIFY(!runtime.hasProcess());
        QVERIFY(runtime.showsStop());
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("launch", 0).mid(4, 2), (QStringList{"--token", "stored-token"}),
                                  kDeadline);
        QCOMPARE(keeper->token().note(), platformTexts().tokenStored);
        QCOMPARE(launches(), 1);
        runtime.stop();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::stopped, kDeadline);
    }

    void aFailingStoreKeepsTheTokenForTheSessionOverwritesNothingAndSaysSo() {
        using Case = AgentSecretStoreError::Case;
        writeRuntime("exec sleep 60\n");
        // A keyring not ready yet: its good item stays, and the runtime runs on a session token.
        MemorySecretStore locked;
        locked.items.insert("pair-token", "good-token");
        locked.readError = AgentSecretStoreError(Case::loadFailed, 4);
        m_store = &locked;
        auto keeper = makeKeeper();
        const QString unreadable = AgentSecretStoreError(Case::loadFailed, 4).description();
        QCOMPARE(keeper->token().token().size(), 32);
        QCOMPARE(keeper->token().note(), "Kept for this session only. " + unreadable);
        QVERIFY(keeper->log().lines().contains("token: " + unreadable));
        keeper->runtime().start();
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("launch", 0).mid(4, 2),
                                  (QStringList{"--token", keeper->token().token()}), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->pending(), 0, kDeadline);
        QCOMPARE(m_store->saves, 0);
        QCOMPARE(m_store->items.value("pair-token"), QStringLiteral("good-token"));
        QVERIFY2(keeper->token().storeAdvice().contains("locked"), qPrintable(keeper->token().storeAdvice()));
        // Unlocked and asked again: the stored token, which paired phones know, replaces the
        // session's, and the runtime starts again with it.
        m_store->readError.reset();
        keeper->retrySecretStore();
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("launch", 1).mid(4, 2), (QStringList{"--token", "good-token"}),
                                  kDeadline);
        QCOMPARE(keeper->token().note(), platformTexts().tokenStored);
        QCOMPARE(keeper->token().storeAdvice(), QString());
        keeper->runtime().stop();
        QTRY_COMPARE_WITH_TIMEOUT(keeper->runtime().hasProcess(), false, kDeadline);
        // Asked for by the user, a new token does replace the item.
        keeper->regenerateToken();
        QTRY_COMPARE_WITH_TIMEOUT(keeper->token().note(), platformTexts().tokenStored, kDeadline);
        QCOMPARE(m_store->items.value("pair-token"), keeper->token().token());

        // A store that cannot save: the new token works, and nothing claims it is remembered.
        MemorySecretStore readOnly;
        readOnly.saveError = AgentSecretStoreError(Case::saveFailed, 9);
        m_store = &readOnly;
        auto unremembered = makeKeeper();
        const QString unsaved = AgentSecretStoreError(Case::saveFailed, 9).description();
        QCOMPARE(unremembered->token().token().size(), 32);
        QCOMPARE(unremembered->token().note(), "Kept for this session only. " + unsaved);
        QVERIFY(unremembered->log().lines().contains("token: " + unsaved));
    }

    void startIsRefusedByInvalidSettingsOrAMissingRuntime() {
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        keeper->settings().setField("machineName", "  ");
        QVERIFY(!runtime.canStart());
        runtime.start();
        const QString nameMessage = platformTexts().machineNameMissing;
        QCOMPARE(runtime.state(), State::failed);
        QCOMPARE(runtime.failureMessage(), nameMessage);
        QCOMPARE(runtime.lastEvent(), nameMessage);
        QCOMPARE(keeper->log().lines().last(), "configuration: " + nameMessage);

        keeper->settings().setField("machineName", "Studio");
        // A Codex program by a relative path (each run would find a different one in its own
        // folder), or one that is not a program, is refused with its field.
        for (const QString& codex : {QStringLiteral("codex"), path(QString())}) {
            keeper->settings().setField("codexPath", codex);
            runtime.start();
            QCOMPARE(runtime.state(), State::failed);
            QCOMPARE(keeper->settings().validationField(), QStringLiteral("codexPath"));
            QVERIFY2(runtime.failureMessage().startsWith("The Codex program"),
                     qPrintable(runtime.failureMessage()));
        }
        keeper->settings().setField("codexPath", QString());
        runtime.start();
        const QString missing = missingRuntimeMessage(runtimeCandidates(runtimeSearch()));
        QCOMPARE(runtime.failureMessage(), missing);
        QCOMPARE(runtime.nextStep(), QStringLiteral("Reinstall kestro Agent, then press Start."));
        QVERIFY(keeper->log().lines().contains("runtime: " + missing));
        QVERIFY(!runtime.hasProcess());
    }

    void theBannerDrivesTheState() {
        writeRuntime(banner("unavailable") + banner(path("page.html")) +
                     "echo 'Pairing page opened in your browser. Scan the QR from kestro on your iPhone.'\n"
                     "exec sleep 60\n");
        // The QR image the runtime writes beside the page.
        QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(path("page.png")));
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QCOMPARE(runtime.state(), State::starting);
        QCOMPARE(runtime.machineSummary(), QStringLiteral("Starting Studio…"));
        QCOMPARE(runtime.diagnostic(),
                 QStringLiteral("Preparing the pairing page and checking the Codex runtime."));
        QCOMPARE(keeper->log().lines().last(), QStringLiteral("launch: starting the bridge"));
        QTRY_COMPARE_WITH_TIMEOUT(runtime.lastEvent(), QStringLiteral("The pairing page is ready."),
                                  kDeadline);
        QCOMPARE(runtime.state(), State::running);
        QCOMPARE(runtime.machineSummary(), QStringLiteral("Studio · IP: 10.0.0.2"));
        QCOMPARE(runtime.codexVersion(), QStringLiteral("codex-cli 0.169.0"));
        QCOMPARE(runtime.diagnostic(), QStringLiteral("codex-cli 0.169.0 ready · 0 skills"));
        QCOMPARE(runtime.pairLink(), QStringLiteral("kestro://pair?name=Studio"));
        QCOMPARE(runtime.pairPageURL(), QUrl::fromLocalFile(path("page.html")));
        QCOMPARE(runtime.pairImageURL(), QUrl::fromLocalFile(path("page.png")));
        QVERIFY(!runtime.isDown());
        // Every line is logged as printed, the token line too.
        QVERIFY(keeper->log().lines().contains(QStringLiteral("Token: secret")));
        QVERIFY(keeper->log().lines().contains(QStringLiteral("Pair Page: unavailable")));

        keeper->openPairingPage();
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(path("page.html"))});
        keeper->copyPairLink();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kestro://pair?name=Studio"));
        QCOMPARE(keeper->banner().message(), QStringLiteral("Pair link copied"));
        runtime.stop();
    }

    void anUnavailablePageClearsTheLocation() {
        writeRuntime(banner(path("page.html")) + "echo 'Pair Page: unavailable'\nexec sleep 60\n");
        auto keeper = makeKeeper();
        keeper->runtime().start();
        QTRY_COMPARE_WITH_TIMEOUT(keeper->runtime().lastEvent(), platformTexts().pairPageUnavailable,
                                  kDeadline);
        QVERIFY(keeper->runtime().pairPageURL().isEmpty());
        QVERIFY(keeper->runtime().pairImageURL().isEmpty());
        keeper->openPairingPage();
        QVERIFY(m_opened.isEmpty());
        keeper->runtime().stop();
    }

    // The runtime gets the settings, the token, the search path, and the read end of a pipe only
    // it holds (the keeper's write end stays here), so it ends however the keeper does.
    void theLaunchHasTheSettingsTheTokenTheEnvironmentAndTheSupervisorsPipe() {
        writeRuntime("fd=$(tail -n 1 \"$dir/launch.$n\")\n"
                     "inode=$(stat -L -c %i /proc/$$/fd/$fd)\n"
                     "stat -L -c %F /proc/$$/fd/$fd > \"$dir/pipe.$n\"\n"
                     "for f in /proc/$$/fd/*; do stat -L -c %i \"$f\"; done | grep -c \"^$inode$\" >> "
                     "\"$dir/pipe.$n\"\n"
                     "exec sleep 60\n");
        auto keeper = makeKeeper();
        keeper->settings().setField("advertisedHost", "  studio.tailnet ");
        keeper->runtime().start();
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("pipe", 0).size(), 2, kDeadline);
        const QString work = QFileInfo(path("work")).canonicalFilePath();
        const QStringList arguments = launchFile("launch", 0);
        QCOMPARE(arguments.mid(0, 13),
                 (QStringList{"--host", "0.0.0.0", "--port", "8787", "--token", keeper->token().token(),
                              "--name", "Studio", "--working-dir", work, "--no-open-pair-page",
                              "--advertise-host", "studio.tailnet"}));
        QCOMPARE(arguments.size(), 15);
        QCOMPARE(arguments[13], QStringLiteral("--supervisor-fd"));
        QCOMPARE(launchFile("pipe", 0), (QStringList{"fifo", "1"}));
        QCOMPARE(launchFile("cwd", 0), QStringList{work});
        const QStringList environment = launchFile("env", 0);
        QVERIFY(environment.contains(
            "PATH=/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:/usr/bin:/bin"));
        QVERIFY(environment.contains("PWD=" + work));
        // The start saved the settings and the token once more.
        QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->advertisedHost,
                 QStringLiteral("  studio.tailnet "));
        QCOMPARE(m_store->saves, 2);
        keeper->runtime().stop();
    }

    // No Codex found: how to install it, or that the program chosen cannot be run; a chosen
    // program reaches the runtime as KESTRO_CODEX_PATH, and the inherited one stays otherwise.
    void aMissingCodexSaysHowToGetItAndAChosenProgramReachesTheRuntime() {
        writeRuntime("echo 'Codex: Not detected'\nexec sleep 60\n");
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QTRY_VERIFY_WITH_TIMEOUT(runtime.codexMissing(), kDeadline);
        QVERIFY2(runtime.codexAdvice().contains("npm install -g @openai/codex"),
                 qPrintable(runtime.codexAdvice()));
        QVERIFY(!launchFile("env", 0).join('\n').contains("KESTRO_CODEX_PATH"));
        const QString chosen = path("chosen-codex");
        QFile program(chosen);
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.close();
        QVERIFY(program.setPermissions(program.permissions() | QFileDevice::ExeOwner));
        keeper->settings().setField("codexPath", " " + chosen + " ");
        // Until the bridge has tried the program chosen, the advice is about the one it ran with.
        QVERIFY(runtime.codexAdvice().startsWith("Codex was not found"));
        QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->codexPath, " " + chosen + " ");
        runtime.restart();
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 2, kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(launchFile("env", 1).contains("KESTRO_CODEX_PATH=" + chosen), kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(runtime.codexAdvice().contains(chosen + ") cannot be run"), kDeadline);
        runtime.stop();
    }

    void withoutAnInheritedPathTheSearchPathEndsWithAColon() {
        m_inheritedPath.reset();
        writeRuntime("exec /bin/sleep 60\n");
        auto keeper = makeKeeper();
        keeper->runtime().start();
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("env", 0).isEmpty(), false, kDeadline);
        QVERIFY(launchFile("env", 0).contains(
            "PATH=/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:"));
        keeper->runtime().stop();
    }

    void startingTwiceLaunchesOnce() {
        writeRuntime("exec sleep 60\n");
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QVERIFY(runtime.hasProcess());
        runtime.start();
        runtime.startIfNeeded();
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 1, kDeadline);
        QTest::qWait(300);
        QCOMPARE(launches(), 1);
        runtime.stop();
    }

    void restartsCrossingASlowSecretStoreStartOneRuntime() {
        writeRuntime("exec sleep 60\n");
        // A keyring that takes half a second to save, while a restart is already pending.
        MemorySecretStore slow;
        slow.items.insert("pair-token", "stored-token");
        slow.saveDelayMilliseconds = 500;
        m_store = &slow;
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.restart();
        QTest::qWait(100);
        runtime.restart();
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 1, kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(runtime.hasProcess(), kDeadline);
        // Past every pending pause and save: still the one runtime, announced once.
        QTest::qWait(2 * slow.saveDelayMilliseconds + AgentRuntimeSupervisor::kRestartPauseMilliseconds);
        QCOMPARE(launches(), 1);
        QCOMPARE(keeper->log().lines().count(QStringLiteral("launch: starting the bridge")), 1);
        QVERIFY(runtime.hasProcess());
        QCOMPARE(runtime.state(), State::starting);
        runtime.stop();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::stopped, kDeadline);
    }

    void aRuntimeThatNeverSpeaksCanBeStoppedAndRestarted() {
        // Never prints its banner, and ignores the polite request to end.
        writeRuntime("trap '' TERM\necho started\nwhile :; do sleep 0.05; done\n");
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QTRY_VERIFY_WITH_TIMEOUT(keeper->log().lines().contains("started"), kDeadline);
        QCOMPARE(runtime.state(), State::starting);
        QVERIFY(runtime.showsStop());
        // Restart ends it the hard way once it has had its time, then starts the new one.
        const auto first = pid_t(runtime.process().processId());
        runtime.restart();
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 2, kDeadline);
        QVERIFY(::kill(first, 0) != 0);
        QVERIFY(keeper->log().lines().contains("lifecycle: stopped"));
        QTRY_VERIFY_WITH_TIMEOUT(runtime.hasProcess(), kDeadline);
        QCOMPARE(runtime.state(), State::starting);
        // Stop cancels a restart under way: the runtime ends and nothing starts again.
        runtime.restart();
        runtime.stop();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::stopped, kDeadline);
        QTest::qWait(AgentRuntimeSupervisor::kRestartPauseMilliseconds + 200);
        QCOMPARE(launches(), 2);
        QVERIFY(!runtime.hasProcess());
    }

    void stopEndsTheProcessAndKeepsWhatItSaid() {
        writeRuntime(banner(path("page.html")) + "exec sleep 60\n");
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::running, kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(!runtime.pairLink().isEmpty(), kDeadline);
        const qint64 pid = runtime.process().processId();
        runtime.stop();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::stopped, kDeadline);
        QCOMPARE(runtime.lastEvent(), QStringLiteral("The bridge stopped."));
        QCOMPARE(keeper->log().lines().last(), QStringLiteral("lifecycle: stopped"));
        QVERIFY(!runtime.hasProcess());
        QVERIFY(::kill(pid_t(pid), 0) != 0);
        QCOMPARE(runtime.pairLink(), QStringLiteral("kestro://pair?name=Studio"));
        QCOMPARE(runtime.codexVersion(), QStringLiteral("codex-cli 0.169.0"));
        // The code still shown leads nowhere now, and the card says what to do.
        QVERIFY(runtime.isDown());
        QCOMPARE(runtime.downReason(), QStringLiteral("The bridge stopped."));
        QCOMPARE(runtime.nextStep(), QStringLiteral("Press Start to serve it again."));
    }

    // One that ends before it listens is not started again: its last error is the cause, and
    // what to do is said (which port is taken).
    void failuresSayWhyAndLeaveNothingReadingAsUnderWay() {
        const QString notConnected = platformTexts().notConnected;
        const QString notStarted = QStringLiteral("Start the local bridge to generate a pairing page.");
        writeRuntime(
            "echo 'a warning first' >&2\n"
            "echo 'kestro-agent: Could not listen on port 8787: Address already in use' >&2\nexit 1\n");
        auto keeper = makeKeeper(true, {.firstPause = 50});
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QCOMPARE(runtime.machineSummary(), QStringLiteral("Starting Studio…"));
        const QString message = QStringLiteral(
            "The bridge stopped unexpectedly with exit code 1. Last error: kestro-agent: Could "
            "not listen on port 8787: Address already in use");
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::failed, kDeadline);
        QCOMPARE(runtime.failureMessage(), message);
        QCOMPARE(runtime.lastEvent(), message);
        QVERIFY2(runtime.nextStep().contains("Port 8787 is taken") &&
                     runtime.nextStep().contains("press Start"),
                 qPrintable(runtime.nextStep()));
        QCOMPARE(runtime.nextStepField(), QStringLiteral("port"));
        const QStringList log = keeper->log().lines();
        QCOMPARE(log.mid(log.size() - 4),
                 (QStringList{"stderr: a warning first",
                              "stderr: kestro-agent: Could not listen on port 8787: Address already in use",
                              "lifecycle: " + message, "lifecycle: " + runtime.nextStep()}));
        QVERIFY(!runtime.hasProcess());
        QCOMPARE(runtime.machineSummary(), notConnected);
        QCOMPARE(runtime.diagnostic(), notStarted);
        QTest::qWait(300);
        QCOMPARE(launches(), 1);

        // Ended by a signal: the signal is named, not taken for an exit code.
        writeRuntime("kill -KILL $$\n");
        runtime.start();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::failed, kDeadline);
        QCOMPARE(runtime.failureMessage(),
                 QStringLiteral("The bridge stopped unexpectedly by signal 9 (SIGKILL)."));
        QCOMPARE(runtime.nextStep(),
                 QStringLiteral("Check the settings and the session log, then press Start."));
        QCOMPARE(runtime.nextStepField(), QString());

        // The system refuses to start it at all.
        QFile broken(this->runtime().executable());
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("#!/nonexistent/interpreter\n");
        broken.close();
        runtime.start();
        QTRY_VERIFY_WITH_TIMEOUT(runtime.failureMessage().startsWith("The bridge could not start: "),
                                 kDeadline);
        QCOMPARE(runtime.nextStep(), QStringLiteral("Reinstall kestro Agent, then press Start."));
        QVERIFY(!runtime.hasProcess());
        QCOMPARE(runtime.machineSummary(), notConnected);
        QCOMPARE(runtime.diagnostic(), notStarted);
        // A runtime that did report keeps what it said after it ends.
        writeRuntime(banner(path("page.html")) + "exit 3\n");
        runtime.start();
        QTRY_VERIFY_WITH_TIMEOUT(runtime.failureMessage().contains("exit code 3"), kDeadline);
        QCOMPARE(runtime.machineSummary(), QStringLiteral("Studio · IP: 10.0.0.2"));
        QCOMPARE(runtime.diagnostic(), QStringLiteral("codex-cli 0.169.0 ready · 0 skills"));
        runtime.stop();
    }

    // Ended on its own once it listened: started again after a pause that doubles with each end,
    // said so (and said again once it serves), until it has ended five times within the window.
    void aRuntimeThatEndsAfterListeningIsStartedAgainUntilItKeepsFailing() {
        writeRuntime(banner(path("page.html")) + "sleep 0.1\nexit 2\n");
        auto keeper = makeKeeper(true, {.firstPause = 300, .longestPause = 600});
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        QSignalSpy ended(&runtime, &AgentRuntimeSupervisor::endedUnexpectedly);
        QSignalSpy back(&runtime, &AgentRuntimeSupervisor::servingAgain);
        runtime.start();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kDeadline);
        // Down while it waits: the code shown is kept, and the next step is said.
        QCOMPARE(runtime.state(), State::failed);
        QVERIFY(runtime.isDown());
        QCOMPARE(runtime.pairLink(), QStringLiteral("kestro://pair?name=Studio"));
        QCOMPARE(runtime.nextStep(), QStringLiteral("Starting it again in 1 s."));
        QCOMPARE(ended.first().at(1).toString(), runtime.nextStep());
        QVERIFY(runtime.showsStop());
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 5, kDeadline);
        QCOMPARE(launches(), 5);
        QCOMPARE(back.count(), 4);
        QCOMPARE(
            runtime.nextStep(),
            QStringLiteral(
                "It stopped 5 times within 2 minutes and is not started again. Press Start to try again."));
        QVERIFY(!runtime.showsStop());
        QTest::qWait(500);
        QCOMPARE(launches(), 5);
        // The user's start begins afresh; Stop calls off a start that was to come.
        runtime.start();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 6, kDeadline);
        QCOMPARE(runtime.nextStep(), QStringLiteral("Starting it again in 1 s."));
        runtime.stop();
        QCOMPARE(runtime.state(), State::stopped);
        QVERIFY(!runtime.showsStop());
        QTest::qWait(300);
        QCOMPARE(launches(), 6);
    }

    void theRestartPolicyDoublesItsPauseAndGivesUp() {
        AgentRestartPolicy policy({.firstPause = 1000, .longestPause = 4000, .failureWindow = 120000});
        // Each end right after the start before: 1, 2, 4, 4 s, then no more (five within 2 min).
        QCOMPARE(policy.pauseAfterEnd(0, 10), std::optional(1000));
        QCOMPARE(policy.pauseAfterEnd(1000, 1100), std::optional(2000));
        QCOMPARE(policy.pauseAfterEnd(3000, 3100), std::optional(4000));
        QCOMPARE(policy.pauseAfterEnd(7000, 7100), std::optional(4000));
        QCOMPARE(policy.pauseAfterEnd(11000, 11100), std::nullopt);
        policy.reset();
        QCOMPARE(policy.pauseAfterEnd(20000, 20100), std::optional(1000));
        QCOMPARE(policy.pauseAfterEnd(21000, 21100), std::optional(2000));
        // One that served for the whole window starts the series again; old ends are forgotten.
        QCOMPARE(policy.pauseAfterEnd(30000, 200000), std::optional(1000));
        for (qint64 end = 210000; end < 240000; end += 10000)
            QVERIFY(policy.pauseAfterEnd(end - 100, end).has_value());
        QCOMPARE(policy.pauseAfterEnd(259900, 260000), std::nullopt);
    }

    void theLogKeepsTheLatest220Lines() {
        writeRuntime("i=1; while [ $i -le 221 ]; do echo \"line $i\"; i=$((i+1)); done\nexec sleep 60\n");
        auto keeper = makeKeeper();
        keeper->runtime().start();
        QTRY_COMPARE_WITH_TIMEOUT(keeper->log().lines().value(219), QStringLiteral("line 221"), kDeadline);
        // "launch: …" and "line 1" have gone; 220 remain.
        QCOMPARE(keeper->log().lines().size(), 220);
        QCOMPARE(keeper->log().lines().first(), QStringLiteral("line 2"));
        keeper->runtime().stop();
    }

    void restartAndRegenerateStartAFreshRuntimeWithTheNewToken() {
        writeRuntime(banner(path("page.html")) + "exec sleep 60\n");
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::running, kDeadline);
        const QString oldToken = keeper->token().token();
        keeper->regenerateToken();
        QCOMPARE(keeper->banner().message(), QStringLiteral("Pair token regenerated"));
        QVERIFY(keeper->token().token() != oldToken);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->items.value("pair-token"), keeper->token().token(), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 2, kDeadline);
        QCOMPARE(launchFile("launch", 1).mid(4, 2), (QStringList{"--token", keeper->token().token()}));
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::running, kDeadline);
        QVERIFY(keeper->log().lines().contains(QStringLiteral("lifecycle: stopped")));
        runtime.stop();
    }

    void regeneratingWhileStoppedStartsNothing() {
        writeRuntime("exec sleep 60\n");
        auto keeper = makeKeeper();
        const QString oldToken = keeper->token().token();
        keeper->regenerateToken();
        QVERIFY(keeper->token().token() != oldToken);
        QCOMPARE(keeper->banner().message(), QStringLiteral("Pair token regenerated"));
        QTest::qWait(AgentRuntimeSupervisor::kRestartPauseMilliseconds + 200);
        QCOMPARE(launches(), 0);
        QCOMPARE(keeper->runtime().state(), State::stopped);
        keeper->copyToken();
        QCOMPARE(QGuiApplication::clipboard()->text(), keeper->token().token());
        QCOMPARE(keeper->banner().message(), QStringLiteral("Pair token copied"));
    }

    void aSecondBannerStaysForItsFullTime() {
        AgentBanner banner;
        banner.show("first");
        QTest::qWait(900);
        banner.show("second");
        QElapsedTimer shown;
        shown.start();
        QTRY_VERIFY_WITH_TIMEOUT(banner.message().isEmpty(), 5000);
        QVERIFY2(shown.elapsed() >= AgentBanner::kMilliseconds - 50,
                 qPrintable(QString::number(shown.elapsed())));
        // The same text twice: the first one's timer does not cut the second short.
        banner.show("same");
        QTest::qWait(900);
        banner.show("same");
        shown.restart();
        QTRY_VERIFY_WITH_TIMEOUT(banner.message().isEmpty(), 5000);
        QVERIFY2(shown.elapsed() >= AgentBanner::kMilliseconds - 50,
                 qPrintable(QString::number(shown.elapsed())));
    }

    void copyingWithoutALinkDoesNothing() {
        auto keeper = makeKeeper();
        QGuiApplication::clipboard()->setText("untouched");
        keeper->copyPairLink();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
        QVERIFY(keeper->banner().message().isEmpty());
    }

    void shutdownAsksTheRuntimeToEndAndStopsReading() {
        writeRuntime("trap 'echo late; exit 0' TERM\necho ready\nwhile :; do sleep 0.05; done\n");
        auto keeper = makeKeeper();
        AgentRuntimeSupervisor& runtime = keeper->runtime();
        runtime.start();
        QTRY_VERIFY_WITH_TIMEOUT(keeper->log().lines().contains("ready"), kDeadline);
        const qint64 pid = runtime.process().processId();
        runtime.shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0 || !runtime.hasProcess(), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), State::stopped, kDeadline);
        QVERIFY(!keeper->log().lines().contains("late"));
    }

    // The tray shows the state in the colour the window's badge has.
    void theTrayIconsDotHasTheStatesColour() {
        for (const State state : {State::stopped, State::starting, State::running, State::failed}) {
            const QImage icon = AgentTrayIcon::stateIcon(state).pixmap(64).toImage();
            // The dot's middle, in the lower right corner.
            QCOMPARE(icon.pixelColor(64 - 14, 64 - 14).rgb(), stateColor(state).rgb());
        }
        QVERIFY(stateColor(State::running) != stateColor(State::failed));
    }
};

QTEST_MAIN(AgentKeeperTests)
#include "AgentKeeperTests.moc"
