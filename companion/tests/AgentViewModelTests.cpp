// The supervisor over fake runtimes (small shell scripts): settings and token at creation, the
// start rules, banner lines, the log, the end of the process, and the window's actions.

#include "AgentViewModel.h"
#include "support/FakeRuntime.h"
#include "support/MemorySecretStore.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

constexpr int kDeadline = 15000;

} // namespace

class AgentViewModelTests : public QObject {
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

    // Where the view model looks for the runtime: the fake one, nothing else that could exist.
    RuntimeSearch runtimeSearch() const {
        return {.runtimeVariable = runtime().executable(),
                .currentDirectory = path("work"),
                .homeDirectory = path("work")};
    }

    AgentLaunchConfiguration defaults() const {
        return {.machineName = "Studio",
                .host = "0.0.0.0",
                .port = "8787",
                .advertisedHost = "",
                .workingDirectory = path("work")};
    }

    // A view model over the test's settings and store; by default once it has its token and the
    // store is idle, as a companion is a moment after its launch.
    std::unique_ptr<AgentViewModel> makeViewModel(bool settled = true) {
        // Keeps what an earlier view model stored.
        auto store = m_store != nullptr ? std::make_unique<MemorySecretStore>(*m_store)
                                        : std::make_unique<MemorySecretStore>();
        m_store = store.get();
        QProcessEnvironment environment;
        if (m_inheritedPath) environment.insert("PATH", *m_inheritedPath);
        AgentViewModelServices services{.settings =
                                            std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat),
                                        .secretStore = std::move(store),
                                        .runtimeSearch = [this] { return runtimeSearch(); },
                                        .environment = environment,
                                        .openURL = [this](const QUrl& location) { m_opened << location; },
                                        .defaults = defaults()};
        auto model = std::make_unique<AgentViewModel>(std::move(services));
        const auto isSettled = [&] { return !model->currentToken().isEmpty() && m_store->pending() == 0; };
        if (settled && !QTest::qWaitFor(isSettled, kDeadline)) qWarning("the view model did not settle");
        return model;
    }

    void storeSettings(const QByteArray& json) {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue(AgentViewModel::kConfigurationKey, json);
    }
    QByteArray storedSettings() const {
        return QSettings(settingsPath(), QSettings::IniFormat)
            .value(AgentViewModel::kConfigurationKey)
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
        auto model = makeViewModel();
        QCOMPARE(model->configuration(), defaults());
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Stopped);
        QCOMPARE(model->lastEvent(), QStringLiteral("Waiting to start the local bridge."));
        QCOMPARE(model->codexVersion(), QStringLiteral("Not detected"));
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(model->currentToken()).hasMatch());
        QCOMPARE(m_store->items.value("pair-token"), model->currentToken());
        // Nothing is written to the settings before a change or a start.
        QVERIFY(storedSettings().isEmpty());
    }

    void storedSettingsMissingAMemberGiveTheDefaultsForAll() {
        storeSettings(R"({"machineName":"Other","host":"127.0.0.1","port":"9000","workingDirectory":"/x"})");
        auto model = makeViewModel();
        QCOMPARE(model->configuration(), defaults());
        // The unreadable value stays until the next save replaces it.
        QVERIFY(storedSettings().contains("Other"));
        model->setPort("9001");
        QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->port, QStringLiteral("9001"));
    }

    void storedSettingsAreLoadedAndEachEditIsSaved() {
        AgentLaunchConfiguration stored = defaults();
        stored.machineName = "Stored";
        storeSettings(stored.toJson());
        auto model = makeViewModel();
        QCOMPARE(model->machineName(), QStringLiteral("Stored"));
        QSignalSpy changed(model.get(), &AgentViewModel::configurationChanged);
        model->setAdvertisedHost("studio.tailnet");
        model->setAdvertisedHost("studio.tailnet"); // no change, no signal
        QCOMPARE(changed.count(), 1);
        QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->advertisedHost,
                 QStringLiteral("studio.tailnet"));
        model->chooseWorkspace(QUrl::fromLocalFile(path("work")));
        model->chooseWorkspace(QUrl("https://example.com/"));
        QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->workingDirectory, path("work"));
    }

    void storedTokensAreUsedAsTheyAreAndEmptyOnesReplaced() {
        MemorySecretStore seeded;
        seeded.items.insert("pair-token", "abc");
        m_store = &seeded;
        auto model = makeViewModel();
        QCOMPARE(model->currentToken(), QStringLiteral("abc"));
        QCOMPARE(model->maskedToken(), QStringLiteral("abc"));
        QCOMPARE(m_store->saves, 0);

        MemorySecretStore empty;
        empty.items.insert("pair-token", "");
        m_store = &empty;
        auto replaced = makeViewModel();
        QCOMPARE(replaced->currentToken().size(), 32);
        QCOMPARE(m_store->items.value("pair-token"), replaced->currentToken());
        QCOMPARE(replaced->maskedToken(),
                 replaced->currentToken().left(6) + "••••••" + replaced->currentToken().right(4));
    }

    void theTokenIsReadWithoutWaitingAndAStartWaitsForIt() {
        writeRuntime("exec sleep 60\n");
        MemorySecretStore slow;
        slow.items.insert("pair-token", "stored-token");
        slow.readDelayMilliseconds = 800;
        m_store = &slow;
        auto model = makeViewModel(false);
        // The view model is there at once; a start meanwhile shows as starting and waits.
        QVERIFY(model->currentToken().isEmpty());
        QCOMPARE(model->tokenNote(), platformTexts().tokenPending);
        model->startIfNeeded();
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Starting);
        QVERIFY(!model->hasProcess());
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("launch", 0).mid(4, 2), (QStringList{"--token", "stored-token"}),
                                  kDeadline);
        QCOMPARE(model->tokenNote(), platformTexts().tokenStored);
        QCOMPARE(launches(), 1);
        model->stop();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Stopped, kDeadline);
    }

    void aFailingStoreKeepsTheTokenForTheSessionOverwritesNothingAndSaysSo() {
        using Case = AgentSecretStoreError::Case;
        writeRuntime("exec sleep 60\n");
        // A keyring not ready yet: its good item stays, and the runtime runs on a session token.
        MemorySecretStore locked;
        locked.items.insert("pair-token", "good-token");
        locked.readError = AgentSecretStoreError(Case::loadFailed, 4);
        m_store = &locked;
        auto model = makeViewModel();
        const QString unreadable = AgentSecretStoreError(Case::loadFailed, 4).description();
        QCOMPARE(model->currentToken().size(), 32);
        QCOMPARE(model->tokenNote(), "Kept for this session only. " + unreadable);
        QVERIFY(model->logLines().contains("token: " + unreadable));
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("launch", 0).mid(4, 2),
                                  (QStringList{"--token", model->currentToken()}), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->pending(), 0, kDeadline);
        QCOMPARE(m_store->saves, 0);
        QCOMPARE(m_store->items.value("pair-token"), QStringLiteral("good-token"));
        model->stop();
        QTRY_COMPARE_WITH_TIMEOUT(model->hasProcess(), false, kDeadline);
        // Asked for by the user, a new token does replace the item.
        model->regenerateToken();
        QTRY_COMPARE_WITH_TIMEOUT(model->tokenNote(), platformTexts().tokenStored, kDeadline);
        QCOMPARE(m_store->items.value("pair-token"), model->currentToken());

        // A store that cannot save: the new token works, and nothing claims it is remembered.
        MemorySecretStore readOnly;
        readOnly.saveError = AgentSecretStoreError(Case::saveFailed, 9);
        m_store = &readOnly;
        auto unremembered = makeViewModel();
        const QString unsaved = AgentSecretStoreError(Case::saveFailed, 9).description();
        QCOMPARE(unremembered->currentToken().size(), 32);
        QCOMPARE(unremembered->tokenNote(), "Kept for this session only. " + unsaved);
        QVERIFY(unremembered->logLines().contains("token: " + unsaved));
    }

    void startIsRefusedByInvalidSettingsOrAMissingRuntime() {
        auto model = makeViewModel();
        model->setMachineName("  ");
        model->start();
        const QString nameMessage = platformTexts().machineNameMissing;
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Failed);
        QCOMPARE(model->failureMessage(), nameMessage);
        QCOMPARE(model->lastEvent(), nameMessage);
        QCOMPARE(model->logLines().last(), "configuration: " + nameMessage);

        model->setMachineName("Studio");
        model->start();
        const QString missing = missingRuntimeMessage(runtimeCandidates(runtimeSearch()));
        QCOMPARE(model->failureMessage(), missing);
        QCOMPARE(model->logLines().last(), "runtime: " + missing);
        QVERIFY(!model->hasProcess());
    }

    void theBannerDrivesTheState() {
        writeRuntime(banner("unavailable") + banner(path("page.html")) +
                     "echo 'Pairing page opened in your browser. Scan the QR from kestro on your iPhone.'\n"
                     "exec sleep 60\n");
        auto model = makeViewModel();
        model->start();
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Starting);
        QCOMPARE(model->machineSummary(), QStringLiteral("Starting Studio…"));
        QCOMPARE(model->diagnostic(),
                 QStringLiteral("Preparing the pairing page and checking the Codex runtime."));
        QCOMPARE(model->logLines().last(), QStringLiteral("launch: starting kestro Agent"));
        QTRY_COMPARE_WITH_TIMEOUT(model->lastEvent(), QStringLiteral("The pairing page is ready."),
                                  kDeadline);
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Running);
        QCOMPARE(model->machineSummary(), QStringLiteral("Studio · IP: 10.0.0.2"));
        QCOMPARE(model->codexVersion(), QStringLiteral("codex-cli 0.169.0"));
        QCOMPARE(model->diagnostic(), QStringLiteral("codex-cli 0.169.0 ready · 0 skills"));
        QCOMPARE(model->pairLink(), QStringLiteral("kestro://pair?name=Studio"));
        QCOMPARE(model->pairPageURL(), QUrl::fromLocalFile(path("page.html")));
        // Every line is logged as printed, the token line too.
        QVERIFY(model->logLines().contains(QStringLiteral("Token: secret")));
        QVERIFY(model->logLines().contains(QStringLiteral("Pair Page: unavailable")));

        model->openPairingPage();
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(path("page.html"))});
        model->copyPairLink();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kestro://pair?name=Studio"));
        QCOMPARE(model->bannerMessage(), QStringLiteral("Pair link copied"));
        model->stop();
    }

    void anUnavailablePageClearsTheLocation() {
        writeRuntime(banner(path("page.html")) + "echo 'Pair Page: unavailable'\nexec sleep 60\n");
        auto model = makeViewModel();
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(model->lastEvent(), platformTexts().pairPageUnavailable, kDeadline);
        QVERIFY(model->pairPageURL().isEmpty());
        model->openPairingPage();
        QVERIFY(m_opened.isEmpty());
        model->stop();
    }

    void theLaunchHasTheSettingsTheTokenAndTheEnvironment() {
        writeRuntime("exec sleep 60\n");
        auto model = makeViewModel();
        model->setAdvertisedHost("  studio.tailnet ");
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("cwd", 0).size(), 1, kDeadline);
        const QString work = QFileInfo(path("work")).canonicalFilePath();
        QCOMPARE(launchFile("launch", 0),
                 (QStringList{"--host", "0.0.0.0", "--port", "8787", "--token", model->currentToken(),
                              "--name", "Studio", "--working-dir", work, "--no-open-pair-page",
                              "--advertise-host", "studio.tailnet"}));
        QCOMPARE(launchFile("cwd", 0), QStringList{work});
        const QStringList environment = launchFile("env", 0);
        QVERIFY(environment.contains(
            "PATH=/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:/usr/bin:/bin"));
        QVERIFY(environment.contains("PWD=" + work));
        // The start saved the settings and the token once more.
        QCOMPARE(AgentLaunchConfiguration::fromJson(storedSettings())->advertisedHost,
                 QStringLiteral("  studio.tailnet "));
        QCOMPARE(m_store->saves, 2);
        model->stop();
    }

    void withoutAnInheritedPathTheSearchPathEndsWithAColon() {
        m_inheritedPath.reset();
        writeRuntime("exec /bin/sleep 60\n");
        auto model = makeViewModel();
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(launchFile("env", 0).isEmpty(), false, kDeadline);
        QVERIFY(launchFile("env", 0).contains(
            "PATH=/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:"));
        model->stop();
    }

    void startingTwiceLaunchesOnce() {
        writeRuntime("exec sleep 60\n");
        auto model = makeViewModel();
        model->start();
        QVERIFY(model->hasProcess());
        model->start();
        model->startIfNeeded();
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 1, kDeadline);
        QTest::qWait(300);
        QCOMPARE(launches(), 1);
        model->stop();
    }

    void restartsCrossingASlowSecretStoreStartOneRuntime() {
        writeRuntime("exec sleep 60\n");
        // A keyring that takes half a second to save, while a restart is already pending.
        MemorySecretStore slow;
        slow.items.insert("pair-token", "stored-token");
        slow.saveDelayMilliseconds = 500;
        m_store = &slow;
        auto model = makeViewModel();
        model->restart();
        QTest::qWait(100);
        model->restart();
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 1, kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(model->hasProcess(), kDeadline);
        // Past every pending pause and save: still the one runtime, announced once.
        QTest::qWait(2 * slow.saveDelayMilliseconds + AgentViewModel::kRestartPauseMilliseconds);
        QCOMPARE(launches(), 1);
        QCOMPARE(model->logLines().count(QStringLiteral("launch: starting kestro Agent")), 1);
        QVERIFY(model->hasProcess());
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Starting);
        model->stop();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Stopped, kDeadline);
    }

    void aRuntimeThatNeverSpeaksCanBeStoppedAndRestarted() {
        // Never prints its banner, and ignores the polite request to end.
        writeRuntime("trap '' TERM\necho started\nwhile :; do sleep 0.05; done\n");
        auto model = makeViewModel();
        model->start();
        QTRY_VERIFY_WITH_TIMEOUT(model->logLines().contains("started"), kDeadline);
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Starting);
        QVERIFY(model->showsStop());
        // Restart ends it the hard way once it has had its time, then starts the new one.
        const auto first = pid_t(model->runtimeProcess().processId());
        model->restart();
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 2, kDeadline);
        QVERIFY(::kill(first, 0) != 0);
        QVERIFY(model->logLines().contains("lifecycle: stopped"));
        QTRY_VERIFY_WITH_TIMEOUT(model->hasProcess(), kDeadline);
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Starting);
        // Stop cancels a restart under way: the runtime ends and nothing starts again.
        model->restart();
        model->stop();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Stopped, kDeadline);
        QTest::qWait(AgentViewModel::kRestartPauseMilliseconds + 200);
        QCOMPARE(launches(), 2);
        QVERIFY(!model->hasProcess());
    }

    void stopEndsTheProcessAndKeepsWhatItSaid() {
        writeRuntime(banner(path("page.html")) + "exec sleep 60\n");
        auto model = makeViewModel();
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Running, kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(!model->pairLink().isEmpty(), kDeadline);
        const qint64 pid = model->runtimeProcess().processId();
        model->stop();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Stopped, kDeadline);
        QCOMPARE(model->lastEvent(), QStringLiteral("kestro Agent stopped."));
        QCOMPARE(model->logLines().last(), QStringLiteral("lifecycle: stopped"));
        QVERIFY(!model->hasProcess());
        QVERIFY(::kill(pid_t(pid), 0) != 0);
        QCOMPARE(model->pairLink(), QStringLiteral("kestro://pair?name=Studio"));
        QCOMPARE(model->codexVersion(), QStringLiteral("codex-cli 0.169.0"));
    }

    void failuresSayWhyAndLeaveNothingReadingAsUnderWay() {
        const QString notConnected = platformTexts().notConnected;
        const QString notStarted = QStringLiteral("Start the local bridge to generate a pairing page.");
        // Ends by itself before its banner: the runtime's last error is the cause.
        writeRuntime(
            "echo 'a warning first' >&2\n"
            "echo 'kestro-agent: Could not listen on port 8787: Address already in use' >&2\nexit 1\n");
        auto model = makeViewModel();
        model->start();
        QCOMPARE(model->machineSummary(), QStringLiteral("Starting Studio…"));
        const QString message = QStringLiteral(
            "kestro Agent stopped unexpectedly with exit code 1. Last error: kestro-agent: Could "
            "not listen on port 8787: Address already in use");
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Failed, kDeadline);
        QCOMPARE(model->failureMessage(), message);
        QCOMPARE(model->lastEvent(), message);
        const QStringList log = model->logLines();
        QCOMPARE(log.mid(log.size() - 3),
                 (QStringList{"stderr: a warning first",
                              "stderr: kestro-agent: Could not listen on port 8787: Address already in use",
                              "lifecycle: " + message}));
        QVERIFY(!model->hasProcess());
        QCOMPARE(model->machineSummary(), notConnected);
        QCOMPARE(model->diagnostic(), notStarted);

        // Ended by a signal: the signal is named, not taken for an exit code.
        writeRuntime("kill -KILL $$\n");
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Failed, kDeadline);
        QCOMPARE(model->failureMessage(),
                 QStringLiteral("kestro Agent stopped unexpectedly by signal 9 (SIGKILL)."));

        // The system refuses to start it at all.
        QFile broken(runtime().executable());
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("#!/nonexistent/interpreter\n");
        broken.close();
        model->start();
        QTRY_VERIFY_WITH_TIMEOUT(model->failureMessage().startsWith("kestro Agent could not start: "),
                                 kDeadline);
        QVERIFY(!model->hasProcess());
        QCOMPARE(model->machineSummary(), notConnected);
        QCOMPARE(model->diagnostic(), notStarted);
        // A runtime that did report keeps what it said after it ends.
        writeRuntime(banner(path("page.html")) + "exit 3\n");
        model->start();
        QTRY_VERIFY_WITH_TIMEOUT(model->failureMessage().contains("exit code 3"), kDeadline);
        QCOMPARE(model->machineSummary(), QStringLiteral("Studio · IP: 10.0.0.2"));
        QCOMPARE(model->diagnostic(), QStringLiteral("codex-cli 0.169.0 ready · 0 skills"));
    }

    void theLogKeepsTheLatest220Lines() {
        writeRuntime("i=1; while [ $i -le 221 ]; do echo \"line $i\"; i=$((i+1)); done\nexec sleep 60\n");
        auto model = makeViewModel();
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(model->logLines().value(219), QStringLiteral("line 221"), kDeadline);
        // "launch: …" and "line 1" have gone; 220 remain.
        QCOMPARE(model->logLines().size(), 220);
        QCOMPARE(model->logLines().first(), QStringLiteral("line 2"));
        model->stop();
    }

    void restartAndRegenerateStartAFreshRuntimeWithTheNewToken() {
        writeRuntime(banner(path("page.html")) + "exec sleep 60\n");
        auto model = makeViewModel();
        model->start();
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Running, kDeadline);
        const QString oldToken = model->currentToken();
        model->regenerateToken();
        QCOMPARE(model->bannerMessage(), QStringLiteral("Pair token regenerated"));
        QVERIFY(model->currentToken() != oldToken);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->items.value("pair-token"), model->currentToken(), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 2, kDeadline);
        QCOMPARE(launchFile("launch", 1).mid(4, 2), (QStringList{"--token", model->currentToken()}));
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Running, kDeadline);
        QVERIFY(model->logLines().contains(QStringLiteral("lifecycle: stopped")));
        model->stop();
    }

    void regeneratingWhileStoppedStartsNothing() {
        writeRuntime("exec sleep 60\n");
        auto model = makeViewModel();
        const QString oldToken = model->currentToken();
        model->regenerateToken();
        QVERIFY(model->currentToken() != oldToken);
        QCOMPARE(model->bannerMessage(), QStringLiteral("Pair token regenerated"));
        QTest::qWait(AgentViewModel::kRestartPauseMilliseconds + 200);
        QCOMPARE(launches(), 0);
        QCOMPARE(model->runtimeState(), AgentViewModel::RuntimeState::Stopped);
        model->copyToken();
        QCOMPARE(QGuiApplication::clipboard()->text(), model->currentToken());
        QCOMPARE(model->bannerMessage(), QStringLiteral("Pair token copied"));
    }

    void aSecondBannerStaysForItsFullTime() {
        auto model = makeViewModel();
        model->showBanner("first");
        QTest::qWait(900);
        model->showBanner("second");
        QElapsedTimer shown;
        shown.start();
        QTRY_VERIFY_WITH_TIMEOUT(model->bannerMessage().isEmpty(), 5000);
        QVERIFY2(shown.elapsed() >= AgentViewModel::kBannerMilliseconds - 50,
                 qPrintable(QString::number(shown.elapsed())));
        // The same text twice: the first one's timer does not cut the second short.
        model->showBanner("same");
        QTest::qWait(900);
        model->showBanner("same");
        shown.restart();
        QTRY_VERIFY_WITH_TIMEOUT(model->bannerMessage().isEmpty(), 5000);
        QVERIFY2(shown.elapsed() >= AgentViewModel::kBannerMilliseconds - 50,
                 qPrintable(QString::number(shown.elapsed())));
    }

    void copyingWithoutALinkDoesNothing() {
        auto model = makeViewModel();
        QGuiApplication::clipboard()->setText("untouched");
        model->copyPairLink();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
        QVERIFY(model->bannerMessage().isEmpty());
    }

    void shutdownAsksTheRuntimeToEndAndStopsReading() {
        writeRuntime("trap 'echo late; exit 0' TERM\necho ready\nwhile :; do sleep 0.05; done\n");
        auto model = makeViewModel();
        model->start();
        QTRY_VERIFY_WITH_TIMEOUT(model->logLines().contains("ready"), kDeadline);
        const qint64 pid = model->runtimeProcess().processId();
        model->shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0 || !model->hasProcess(), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(model->runtimeState(), AgentViewModel::RuntimeState::Stopped, kDeadline);
        QVERIFY(!model->logLines().contains("late"));
    }
};

QTEST_MAIN(AgentViewModelTests)
#include "AgentViewModelTests.moc"
