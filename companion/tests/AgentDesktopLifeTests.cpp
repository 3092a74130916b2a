// The built companion (the keeper and the window program it starts) as a desktop user meets it,
// under a real X server (Xvfb), with a real tray host (trayer) where a test asks for one: one
// instance per user, the window started on demand and ending when closed, the runtime ending with
// the keeper however it ends and started again when it dies, the tray's notifications and menu,
// the autostart entry. Windows are found, closed and grabbed through X itself, as a window
// manager would.

#include "AgentDesktopLife.h"
#include "AgentKeeper.h"
#include "AgentKeychainStore.h"
#include "AgentLoginItem.h"
#include "KestroAgentApp.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/X11Desktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

QString executableOf(pid_t pid) {
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
}

// Every process under `pid`, depth first.
std::vector<pid_t> descendants(pid_t pid) {
    std::vector<pid_t> found;
    for (const pid_t child : childProcesses(pid)) {
        found.push_back(child);
        for (const pid_t grandchild : descendants(child))
            found.push_back(grandchild);
    }
    return found;
}

// Processes of this machine running the built runtime on `port`.
std::vector<pid_t> runtimesOn(uint16_t port) {
    const QString runtime = QFileInfo(QStringLiteral(KESTRO_AGENT_BINARY)).canonicalFilePath();
    std::vector<pid_t> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number || executableOf(pid) != runtime || !isRunning(pid)) continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!commandLine.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> arguments = commandLine.readAll().split('\0');
        const qsizetype at = arguments.indexOf("--port");
        if (at >= 0 && arguments.value(at + 1) == QByteArray::number(port)) found.push_back(pid);
    }
    return found;
}

// The pairing token the companions of this session keep in the secret store (the runtime hides
// it from its command line), or empty.
std::string storedToken() {
    AgentKeychainStore store(QString::fromLatin1(AgentKeeper::kSecretService));
    std::optional<QString> token;
    bool answered = false;
    store.read(QString::fromLatin1(AgentKeeper::kTokenAccount),
               [&](const AgentSecretStore::ReadResult& result) {
                   token = result.value;
                   answered = true;
               });
    if (!QTest::qWaitFor([&] { return answered; }, 20000)) return {};
    return token.value_or(QString()).toStdString();
}

int statusWith(uint16_t port, const std::string& token) {
    try {
        return request(port, "GET", "/status", {{"X-Kestro-Token", token}}).status;
    } catch (const std::exception&) {
        return 0;
    }
}

// The pairing link in the QR code of a grab of `window` once it decodes, within `milliseconds`;
// else what the last grab decoded to. (Each grab takes a while: the deadline is in time, not tries.)
QString decodedQR(const X11Desktop& x11, xcb_window_t window, const QString& picture,
                  int milliseconds = 30000) {
    QString decoded;
    for (const QDeadlineTimer deadline(milliseconds);
         !decoded.startsWith("kestro://pair") && !deadline.hasExpired();) {
        QTest::qWait(100);
        if (!x11.grab(window).save(picture)) continue;
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"),
                   {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", picture});
        zbar.waitForFinished(20000);
        decoded = QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
    }
    return decoded;
}

// One user's world: a home with the companion's settings (a free port), a private runtime folder.
class World {
  public:
    World() : m_port(freePort()) {
        QDir().mkpath(home() + "/config/brantel");
        QDir().mkpath(runFolder());
        QFile::setPermissions(runFolder(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QSettings settings(settingsPath(), QSettings::IniFormat);
        const AgentLaunchConfiguration configuration{.machineName = "Desk",
                                                     .host = "127.0.0.1",
                                                     .port = QString::number(m_port),
                                                     .advertisedHost = "127.0.0.1",
                                                     .workingDirectory = home()};
        settings.setValue(AgentLaunchSettings::kConfigurationKey, configuration.toJson());
    }

    QString home() const { return m_folder.path(); }
    QString runFolder() const { return home() + "/run"; }
    QString settingsPath() const { return home() + "/config/brantel/kestro Agent.conf"; }
    uint16_t port() const { return m_port; }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home());
        environment.insert("XDG_CONFIG_HOME", home() + "/config");
        environment.insert("XDG_CACHE_HOME", home() + "/cache");
        environment.insert("XDG_RUNTIME_DIR", runFolder());
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("KESTRO_AGENT_RUNTIME", KESTRO_AGENT_BINARY);
        environment.remove("QT_QPA_PLATFORM"); // the X server, as a desktop gives it
        // The web engine's sandbox is the keeper's to turn off (as root), not the desktop's.
        environment.remove("QTWEBENGINE_DISABLE_SANDBOX");
        return environment;
    }

    // Starts the built companion in this world.
    std::unique_ptr<QProcess> launch(const QStringList& arguments = {},
                                     const QProcessEnvironment& environment = {}) const {
        auto companion = std::make_unique<QProcess>();
        companion->setProcessEnvironment(environment.isEmpty() ? this->environment() : environment);
        companion->setWorkingDirectory(home());
        companion->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        companion->start(QStringLiteral(KESTRO_COMPANION_BINARY), arguments);
        return companion;
    }

    // The runtime the keeper `owner` started, once it answers with its token; else 0.
    pid_t servingRuntime(qint64 owner) const {
        const pid_t runtime = childRunning(owner, KESTRO_AGENT_BINARY);
        return runtime != 0 && statusWith(m_port, storedToken()) == 200 ? runtime : 0;
    }
    // The window program the keeper `owner` started; else 0.
    pid_t windowProcess(qint64 owner) const { return childRunning(owner, KESTRO_WINDOW_BINARY); }

  private:
    static pid_t childRunning(qint64 owner, const char* program) {
        const QString path = QFileInfo(QString::fromLatin1(program)).canonicalFilePath();
        for (const pid_t child : childProcesses(pid_t(owner)))
            if (executableOf(child) == path && isRunning(child)) return child;
        return 0;
    }

    QTemporaryDir m_folder;
    uint16_t m_port;
};

// A tray host on the test's display, for as long as the value lives.
class TrayHost {
  public:
    TrayHost() {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("trayer"),
                        {"--edge", "top", "--widthtype", "request", "--expand", "true"});
    }
    ~TrayHost() {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    // Started, and serving the display's tray.
    bool ready() {
        return m_process.waitForStarted() && QTest::qWaitFor([] { return X11Desktop().hasTray(); }, 20000);
    }

  private:
    QProcess m_process;
};

// Ends a companion that a failed check left running, and everything under it.
void endCompanion(QProcess& companion) {
    if (companion.state() == QProcess::NotRunning) return;
    const std::vector<pid_t> under = descendants(pid_t(companion.processId()));
    companion.kill();
    companion.waitForFinished(10000);
    for (const pid_t pid : under)
        ::kill(pid, SIGKILL);
}

// The main window of the keeper `keeper` (its window program's) once its runtime serves; none if
// either does not come.
xcb_window_t servedWindow(const World& world, const X11Desktop& x11, qint64 keeper) {
    const auto shown = [&] {
        const pid_t window = world.windowProcess(keeper);
        return window != 0 && x11.mainWindow(window) != XCB_WINDOW_NONE &&
               x11.viewable(x11.mainWindow(window));
    };
    if (!QTest::qWaitFor([&] { return world.servingRuntime(keeper) != 0; }, 60000) ||
        !QTest::qWaitFor(shown, 30000))
        return XCB_WINDOW_NONE;
    return x11.mainWindow(world.windowProcess(keeper));
}

// The pairing files (they carry the token) in the runtime folder of `world`.
QStringList pairingFiles(const World& world) {
    return QDir(world.runFolder()).entryList({"kestro-pair-*"}, QDir::Files);
}

} // namespace

class AgentDesktopLifeTests : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "run this under an X server");
    }

    // A second launch shows the first one's window, in front, and ends; it neither writes the
    // settings nor starts a runtime. Closing the window (no tray here) ends everything.
    void aSecondLaunchShowsTheFirstInstancesWindowAndEnds() {
        X11Desktop x11;
        QVERIFY(!x11.hasTray());
        World world;
        auto first = world.launch();
        auto cleanup = qScopeGuard([&] { endCompanion(*first); });
        QVERIFY(first->waitForStarted());
        const xcb_window_t window = servedWindow(world, x11, first->processId());
        QVERIFY(window != XCB_WINDOW_NONE);
        // Another window covers it.
        QRasterWindow cover;
        cover.resize(1400, 1000);
        cover.show();
        QTRY_VERIFY_WITH_TIMEOUT(x11.isTopmost(xcb_window_t(cover.winId())), 10000);

        QFile settings(world.settingsPath());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QByteArray settingsBefore = settings.readAll();
        const QDateTime writtenBefore = QFileInfo(world.settingsPath()).lastModified();

        QElapsedTimer clock;
        clock.start();
        auto second = world.launch();
        QVERIFY(second->waitForFinished(10000));
        const qint64 took = clock.elapsed();
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY2(took < 2000, qPrintable(QStringLiteral("the second launch took %1 ms").arg(took)));

        QTRY_VERIFY_WITH_TIMEOUT(x11.viewable(window) && x11.isTopmost(window), 10000);
        QCOMPARE(runtimesOn(world.port()).size(), size_t(1));
        QVERIFY(settings.seek(0));
        QCOMPARE(settings.readAll(), settingsBefore);
        QCOMPARE(QFileInfo(world.settingsPath()).lastModified(), writtenBefore);

        // Without a tray nothing could bring a closed window back: closing quits, runtime and all.
        const pid_t runtime = world.servingRuntime(first->processId());
        x11.close(window);
        QVERIFY(first->waitForFinished(20000));
        QCOMPARE(first->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isRunning(runtime), 20000);
        QVERIFY(runtimesOn(world.port()).empty());
        QCOMPARE(pairingFiles(world), QStringList());
    }

    // The keeper killed outright, or its X server gone: the runtime ends within 2 s and its
    // pairing files go; the next launch takes the lock over and is the one instance.
    void theRuntimeEndsWithItsKeeperHoweverItEnds() {
        World world;
        auto killed = world.launch({"--hidden"});
        auto cleanupKilled = qScopeGuard([&] { endCompanion(*killed); });
        QVERIFY(killed->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(killed->processId()) != 0, 60000);
        QVERIFY(!pairingFiles(world).isEmpty());
        ::kill(pid_t(killed->processId()), SIGKILL);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(runtimesOn(world.port()).empty(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(pairingFiles(world), QStringList(), int(2000 - clock.elapsed()));

        // A display of its own, which then goes away under it.
        QProcess display;
        display.start(QStringLiteral("Xvfb"),
                      {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        auto cleanupDisplay = qScopeGuard([&] {
            display.kill();
            display.waitForFinished();
        });
        QVERIFY(display.waitForReadyRead(20000));
        QProcessEnvironment onIt = world.environment();
        onIt.insert("DISPLAY", ":" + QString::fromLatin1(display.readLine()).trimmed());
        auto orphaned = world.launch({}, onIt);
        auto cleanupOrphaned = qScopeGuard([&] { endCompanion(*orphaned); });
        QVERIFY(orphaned->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(orphaned->processId()) != 0, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(world.windowProcess(orphaned->processId()) != 0, 20000);
        display.kill();
        QVERIFY(orphaned->waitForFinished(10000));
        clock.restart();
        QTRY_VERIFY_WITH_TIMEOUT(runtimesOn(world.port()).empty(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(pairingFiles(world), QStringList(), int(2000 - clock.elapsed()));

        auto next = world.launch({"--hidden"});
        auto cleanupNext = qScopeGuard([&] { endCompanion(*next); });
        QVERIFY(next->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(next->processId()) != 0, 60000);
        // And it answers a later launch as the one instance.
        auto later = world.launch({"--hidden"});
        QVERIFY(later->waitForFinished(10000));
        QCOMPARE(later->exitCode(), 0);
        QCOMPARE(runtimesOn(world.port()).size(), size_t(1));
    }

    // Launched hidden beside a tray (as at login), with no per-user runtime folder and another
    // user's in the temporary folder: no window process, the runtime serves. A second launch
    // brings the window, whose QR decodes; closing it ends its process, and the runtime serves
    // on. Killed, the window changes nothing for the phone. Ctrl+Q in it quits everything.
    void hiddenInTheTrayTheWindowComesAndGoes() {
        X11Desktop x11;
        World world;
        TrayHost tray;
        QVERIFY(tray.ready());
        QProcessEnvironment environment = world.environment();
        environment.remove("XDG_RUNTIME_DIR");
        const QString temporary = world.home() + "/tmp";
        const QString taken = temporary + "/runtime-" + qEnvironmentVariable("USER", "root");
        QVERIFY(QDir().mkpath(taken));
        if (::geteuid() == 0) QCOMPARE(::chown(QFile::encodeName(taken).constData(), 65534, 65534), 0);
        environment.insert("TMPDIR", temporary);
        auto companion = world.launch({"--hidden"}, environment);
        auto cleanup = qScopeGuard([&] { endCompanion(*companion); });
        QVERIFY(companion->waitForStarted());
        const qint64 keeper = companion->processId();
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(keeper) != 0, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(x11.hasEmbeddedWindow(keeper), 30000);
        QCOMPARE(world.windowProcess(keeper), 0);
        // Its lock and sockets went to a folder of its own.
        QVERIFY(QFileInfo(world.home() + "/cache/kestro-agent-companion/instance.lock").isFile());

        auto second = world.launch({}, environment);
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
        const xcb_window_t window = servedWindow(world, x11, keeper);
        QVERIFY(window != XCB_WINDOW_NONE);
        const QString picture = world.home() + "/grab.png";
        const QString decoded = decodedQR(x11, window, picture);
        QVERIFY2(decoded.startsWith("kestro://pair"), qPrintable(decoded));
        QVERIFY(decoded.contains(QString::fromStdString("token=" + storedToken())));

        const pid_t windowProgram = world.windowProcess(keeper);
        x11.close(window);
        QTRY_VERIFY_WITH_TIMEOUT(!isRunning(windowProgram), 20000);
        QCOMPARE(world.windowProcess(keeper), 0);
        QVERIFY(world.servingRuntime(keeper) != 0);
        QCOMPARE(companion->state(), QProcess::Running);
        QVERIFY(QSettings(world.settingsPath(), QSettings::IniFormat)
                    .value(KestroAgentApp::kCloseNoticeKey)
                    .toBool());

        // Shown again, and killed: the keeper and the runtime do not notice.
        auto third = world.launch({}, environment);
        QVERIFY(third->waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(world.windowProcess(keeper) != 0, 20000);
        const pid_t runtime = world.servingRuntime(keeper);
        ::kill(world.windowProcess(keeper), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(world.windowProcess(keeper), 0, 20000);
        QCOMPARE(world.servingRuntime(keeper), runtime);
        QCOMPARE(companion->state(), QProcess::Running);

        // Ctrl+Q in the window quits the keeper, and the runtime with it.
        auto fourth = world.launch({}, environment);
        QVERIFY(fourth->waitForFinished(10000));
        const xcb_window_t again = servedWindow(world, x11, keeper);
        QVERIFY(again != XCB_WINDOW_NONE);
        QProcess::execute(QStringLiteral("xdotool"),
                          {"windowfocus", "--sync", QString::number(again), "key", "ctrl+q"});
        QVERIFY(companion->waitForFinished(20000));
        QCOMPARE(companion->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(runtimesOn(world.port()).empty(), 20000);
    }

    // Large text (a 144-dpi font setting, which Qt draws 1.5 times as large on X) on a 1400 × 1000
    // screen, and a 1.5 scale on a 1920 × 1080 one: at the window's default size the whole QR code
    // is in view, and it decodes from a grab of the window.
    void theWholeQRCodeShowsWithLargeTextAndOnAScaledScreen() {
        struct Setting {
            const char* screen;
            const char* variable;
            const char* value;
        };
        for (const Setting& setting : {Setting{"1400x1000x24", "QT_FONT_DPI", "144"},
                                       Setting{"1920x1080x24", "QT_SCALE_FACTOR", "1.5"}}) {
            QProcess display;
            display.start(QStringLiteral("Xvfb"),
                          {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", setting.screen});
            auto cleanupDisplay = qScopeGuard([&] {
                display.kill();
                display.waitForFinished();
            });
            QVERIFY(display.waitForReadyRead(20000));
            const QByteArray name = ":" + display.readLine().trimmed();
            World world;
            QProcessEnvironment environment = world.environment();
            environment.insert("DISPLAY", QString::fromLatin1(name));
            environment.insert(setting.variable, setting.value);
            auto companion = world.launch({}, environment);
            auto cleanup = qScopeGuard([&] { endCompanion(*companion); });
            QVERIFY(companion->waitForStarted());
            const X11Desktop x11(name.constData());
            const xcb_window_t window = servedWindow(world, x11, companion->processId());
            QVERIFY2(window != XCB_WINDOW_NONE, setting.variable);
            const QString decoded = decodedQR(x11, window, world.home() + "/grab.png");
            QVERIFY2(decoded.startsWith("kestro://pair") &&
                         decoded.contains(QString::fromStdString("token=" + storedToken())),
                     qPrintable(QStringLiteral("%1=%2: %3").arg(setting.variable, setting.value, decoded)));
        }
    }

    // With the window hidden, a runtime killed outright is back within 3 s with the same token,
    // and the tray says so; "Quit" in the tray's menu ends keeper and runtime.
    void aKilledRuntimeIsBackAndTheTraySaysSo() {
        X11Desktop x11;
        World world;
        TrayHost tray;
        QVERIFY(tray.ready());
        auto companion = world.launch({"--hidden"});
        auto cleanup = qScopeGuard([&] { endCompanion(*companion); });
        QVERIFY(companion->waitForStarted());
        const qint64 keeper = companion->processId();
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(keeper) != 0, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(x11.hasEmbeddedWindow(keeper), 30000);
        QProcess::execute(QStringLiteral("xdotool"), {"mousemove", "700", "900"}); // no tooltip
        QVERIFY(x11.shownWindows(keeper).empty());
        const std::string token = storedToken();
        const pid_t killed = world.servingRuntime(keeper);
        ::kill(killed, SIGKILL);
        QElapsedTimer clock;
        clock.start();
        // The notification: a balloon by the icon (this tray host has no notification service).
        QTRY_VERIFY_WITH_TIMEOUT(!x11.shownWindows(keeper).empty(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(statusWith(world.port(), token) == 200, int(3000 - clock.elapsed()));
        QVERIFY(world.servingRuntime(keeper) != killed);

        QVERIFY(quitFromTrayMenu(x11, keeper));
        QVERIFY(companion->waitForFinished(20000));
        QCOMPARE(companion->exitStatus(), QProcess::NormalExit);
        QCOMPARE(companion->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(runtimesOn(world.port()).empty(), 20000);
    }

    // The switch writes an entry the desktop's tools accept; the desktop's launcher starts it
    // hidden (tray icon and runtime, no window, no web helpers); turned off, the entry is gone.
    void theAutostartEntryStartsHiddenAndGoesWhenSwitchedOff() {
        X11Desktop x11;
        World world;
        TrayHost tray;
        QVERIFY(tray.ready());
        // A program path that needs the entry's quoting, and its escapes to stay on one line.
        const QString folder = world.home() + "/Apps & Tools $HOME\n\tnext";
        QVERIFY(QDir().mkpath(folder));
        const QString program = folder + "/kestro-agent-companion";
        QVERIFY(QFile::link(QStringLiteral(KESTRO_COMPANION_BINARY), program));

        qputenv("XDG_CONFIG_HOME", (world.home() + "/config").toUtf8());
        const QString entry = world.home() + "/config/autostart/com.brantel.kestro.agent.desktop";
        AgentSessionLog log;
        AgentDesktopLife desktop(systemLoginItem(program), log);
        // A path that no entry can hold is refused, and nothing is written.
        QVERIFY(!systemLoginItem(folder + "/bell\a")->setEnabled(true).isEmpty());
        QVERIFY(!QFileInfo::exists(entry));
        QVERIFY(!desktop.startsAtLogin());
        desktop.setStartsAtLogin(true);
        QVERIFY(desktop.startsAtLogin());
        QVERIFY(QFileInfo::exists(entry));
        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), {entry});
        QVERIFY(validate.waitForFinished(20000));
        QVERIFY2(validate.exitCode() == 0, validate.readAllStandardOutput().constData());

        // The desktop's own launcher reads the entry as a session would at login.
        QProcess launcher;
        launcher.setProcessEnvironment(world.environment());
        // The companion inherits the launcher's output, which must outlive the launcher.
        launcher.setProcessChannelMode(QProcess::ForwardedChannels);
        launcher.start(QStringLiteral("gio"), {"launch", entry});
        QVERIFY(launcher.waitForFinished(20000));
        QCOMPARE(launcher.exitCode(), 0);
        qint64 companion = 0;
        QTRY_VERIFY_WITH_TIMEOUT((companion = companionIn(world)) != 0, 20000);
        auto cleanup = qScopeGuard([&] {
            for (const pid_t pid : descendants(pid_t(companion)))
                ::kill(pid, SIGKILL);
            ::kill(pid_t(companion), SIGKILL);
        });
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(companion) != 0, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(x11.hasEmbeddedWindow(companion), 30000);
        QCOMPARE(world.windowProcess(companion), 0);
        QCOMPARE(descendants(pid_t(companion)).size(), size_t(1)); // the runtime alone
        ::kill(pid_t(companion), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!isRunning(pid_t(companion)), 20000);

        desktop.setStartsAtLogin(false);
        QVERIFY(!desktop.startsAtLogin());
        QVERIFY(!QFileInfo::exists(entry));
    }

  private:
    // The companion started in `world` by someone else (the desktop's launcher), or 0.
    static qint64 companionIn(const World& world) {
        for (const pid_t runtime : runtimesOn(world.port())) {
            QFile status(QStringLiteral("/proc/%1/stat").arg(runtime));
            if (!status.open(QIODevice::ReadOnly)) continue;
            const QList<QByteArray> fields = status.readAll().split(')').value(1).split(' ');
            return fields.value(2).toLongLong(); // the parent, after ") state"
        }
        return 0;
    }

    // Opens the tray icon's menu with the pointer and chooses "Quit", its last entry, with the
    // keyboard, as a user would. A click the icon was not ready for is made again.
    static bool quitFromTrayMenu(const X11Desktop& x11, qint64 owner) {
        const QPoint icon = x11.middle(x11.embeddedWindow(owner));
        // Other windows may show meanwhile (a notification, a tooltip): the menu is the one that
        // opens at the pointer.
        const auto menuShown = [&] {
            for (const xcb_window_t window : x11.shownWindows(owner))
                if (x11.middle(window) != icon && x11.onScreen(window) == icon) return true;
            return false;
        };
        for (int attempt = 0; attempt < 10; ++attempt) {
            QProcess::execute(QStringLiteral("xdotool"), {"mousemove", QString::number(icon.x()),
                                                          QString::number(icon.y()), "click", "3"});
            if (!QTest::qWaitFor(menuShown, 3000)) continue;
            QProcess::execute(QStringLiteral("xdotool"), {"key", "--delay", "100", "Up", "Return"});
            return QTest::qWaitFor([&] { return !isRunning(pid_t(owner)); }, 20000);
        }
        return false;
    }
};

QTEST_MAIN(AgentDesktopLifeTests)
#include "AgentDesktopLifeTests.moc"
