// The built companion as a desktop user meets it, under a real X server (Xvfb), with a real tray
// host (trayer) where a test asks for one: one instance per user, closing to the tray, quitting
// from the tray's menu, the autostart entry, and the web preview let go while hidden. The
// window is found, closed and grabbed through X itself, as a window manager would.

#include "AgentKeychainStore.h"
#include "AgentLoginItem.h"
#include "AgentViewModel.h"
#include "KestroAgentApp.h"
#include "support/LoopbackHTTP.h"
#include "support/MemorySecretStore.h"
#include "support/ProcessFacts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <xcb/xcb.h>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

// Everything a test asks of the X server, on the test's own connection.
class X11 {
  public:
    X11() {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        m_connection = x11->connection();
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }

    xcb_window_t root() const { return m_root; }

    // Children of `window`, bottom of the stack first.
    std::vector<xcb_window_t> children(xcb_window_t window) const {
        std::vector<xcb_window_t> found;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr);
        if (tree == nullptr) return found;
        const xcb_window_t* first = xcb_query_tree_children(tree);
        found.assign(first, first + xcb_query_tree_children_length(tree));
        free(tree);
        return found;
    }

    // The window's _NET_WM_PID, or 0.
    uint32_t pid(xcb_window_t window) const {
        xcb_get_property_reply_t* reply = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
        uint32_t value = 0;
        if (reply != nullptr && xcb_get_property_value_length(reply) == 4)
            value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
        free(reply);
        return value;
    }

    QString name(xcb_window_t window) const {
        xcb_get_property_reply_t* reply = property(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
        QString value;
        if (reply != nullptr)
            value = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                      xcb_get_property_value_length(reply));
        free(reply);
        return value;
    }

    bool viewable(xcb_window_t window) const {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
        const bool shown = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        return shown;
    }

    // The companion's main window: its top-level named "kestro Agent" that is larger than an icon.
    xcb_window_t mainWindow(qint64 owner) const {
        for (const xcb_window_t window : children(m_root)) {
            if (pid(window) != owner || name(window) != QLatin1String("kestro Agent")) continue;
            xcb_get_geometry_reply_t* geometry =
                xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
            const bool large = geometry != nullptr && geometry->width > 200;
            free(geometry);
            if (large) return window;
        }
        return XCB_WINDOW_NONE;
    }

    // Whether `window` is the top of the shown top-level windows.
    bool isTopmost(xcb_window_t window) const {
        xcb_window_t top = XCB_WINDOW_NONE;
        for (const xcb_window_t child : children(m_root))
            if (viewable(child)) top = child;
        return top == window;
    }

    // A shown window of `owner` that another program (the tray host) holds inside one of its own.
    bool hasEmbeddedWindow(qint64 owner) const { return embeddedWindow(owner) != XCB_WINDOW_NONE; }
    xcb_window_t embeddedWindow(qint64 owner) const {
        for (const xcb_window_t topLevel : children(m_root)) {
            if (pid(topLevel) == owner) continue;
            std::vector<xcb_window_t> pending = children(topLevel);
            while (!pending.empty()) {
                const xcb_window_t window = pending.back();
                pending.pop_back();
                if (pid(window) == owner && viewable(window)) return window;
                for (const xcb_window_t child : children(window))
                    pending.push_back(child);
            }
        }
        return XCB_WINDOW_NONE;
    }

    // The top left corner of `window` on the screen.
    QPoint corner(xcb_window_t window) const {
        xcb_translate_coordinates_reply_t* place = xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr);
        const QPoint found = place != nullptr ? QPoint(place->dst_x, place->dst_y) : QPoint();
        free(place);
        return found;
    }

    // The middle of `window` on the screen.
    QPoint middle(xcb_window_t window) const {
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        if (geometry == nullptr) return {};
        xcb_translate_coordinates_reply_t* place = xcb_translate_coordinates_reply(
            m_connection,
            xcb_translate_coordinates(m_connection, window, m_root, int16_t(geometry->width / 2),
                                      int16_t(geometry->height / 2)),
            nullptr);
        const QPoint found = place != nullptr ? QPoint(place->dst_x, place->dst_y) : QPoint();
        free(place);
        free(geometry);
        return found;
    }

    // What a window manager's close button sends.
    void close(xcb_window_t window) const {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(m_connection);
    }

  private:
    xcb_atom_t atom(const char* name) const {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t value = reply != nullptr ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    }

    xcb_get_property_reply_t* property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) const {
        return xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, name, type, 0, 1024), nullptr);
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
};

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
        if (!number || executableOf(pid) != runtime) continue;
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
    AgentKeychainStore store(QString::fromLatin1(AgentViewModel::kSecretService));
    std::optional<QString> token;
    bool answered = false;
    store.read(QString::fromLatin1(AgentViewModel::kTokenAccount),
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

bool isWebHelper(pid_t pid) {
    return executableOf(pid).endsWith(QLatin1String("/QtWebEngineProcess"));
}

int webHelpersUnder(pid_t pid) {
    const std::vector<pid_t> all = descendants(pid);
    return int(std::count_if(all.begin(), all.end(), isWebHelper));
}

// The QR code in a grab of `window`, decoded, or empty.
QString decodedQR(xcb_window_t window, const QString& picture) {
    QProcess grab;
    grab.start(QStringLiteral("import"),
               {QStringLiteral("-window"), QString::number(window), QStringLiteral("png:") + picture});
    if (!grab.waitForFinished(20000) || grab.exitCode() != 0) return {};
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {"--raw", "-q", "--nodbus", picture});
    zbar.waitForFinished(20000);
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
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
        settings.setValue(AgentViewModel::kConfigurationKey, configuration.toJson());
    }

    QString home() const { return m_folder.path(); }
    QString runFolder() const { return home() + "/run"; }
    QString settingsPath() const { return home() + "/config/brantel/kestro Agent.conf"; }
    uint16_t port() const { return m_port; }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home());
        environment.insert("XDG_CONFIG_HOME", home() + "/config");
        environment.insert("XDG_RUNTIME_DIR", runFolder());
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("KESTRO_AGENT_RUNTIME", KESTRO_AGENT_BINARY);
        environment.remove("QT_QPA_PLATFORM"); // the X server, as a desktop gives it
        return environment;
    }

    // Starts the built companion in this world.
    std::unique_ptr<QProcess> launch(const QStringList& arguments = {}) const {
        auto companion = std::make_unique<QProcess>();
        companion->setProcessEnvironment(environment());
        companion->setWorkingDirectory(home());
        companion->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        companion->start(QStringLiteral(KESTRO_COMPANION_BINARY), arguments);
        return companion;
    }

    // The runtime the companion `owner` started, once it answers with its token; else 0.
    pid_t servingRuntime(qint64 owner) const {
        for (const pid_t child : childProcesses(pid_t(owner)))
            if (executableOf(child) == QFileInfo(QStringLiteral(KESTRO_AGENT_BINARY)).canonicalFilePath() &&
                statusWith(m_port, storedToken()) == 200)
                return child;
        return 0;
    }

  private:
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
    bool ready() { return m_process.waitForStarted() && QTest::qWaitFor(isServing, 20000); }

    // The host has claimed the tray: its manager selection has an owner.
    static bool isServing() {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* connection = x11->connection();
        const char* name = "_NET_SYSTEM_TRAY_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr);
        if (atom == nullptr) return false;
        xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
        const bool owned = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
        free(owner);
        free(atom);
        return owned;
    }

  private:
    QProcess m_process;
};

// A process that has ended may linger as a zombie until its parent reaps it.
bool processAlive(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    return status.open(QIODevice::ReadOnly) && !status.readAll().contains(") Z ");
}

// Ends a companion that a failed check left running, and the runtime under it.
void endCompanion(QProcess& companion) {
    if (companion.state() == QProcess::NotRunning) return;
    const std::vector<pid_t> under = descendants(pid_t(companion.processId()));
    companion.kill();
    companion.waitForFinished(10000);
    for (const pid_t pid : under)
        ::kill(pid, SIGKILL);
}

// The main window of the companion `pid` once its runtime serves; none if either does not come.
xcb_window_t servedWindow(const World& world, const X11& x11, qint64 pid) {
    if (!QTest::qWaitFor([&] { return world.servingRuntime(pid) != 0; }, 60000) ||
        !QTest::qWaitFor([&] { return x11.mainWindow(pid) != XCB_WINDOW_NONE; }, 20000))
        return XCB_WINDOW_NONE;
    return x11.mainWindow(pid);
}

} // namespace

class AgentDesktopLifeTests : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "run this under an X server");
    }

    // A second launch shows the first one's window, in front, and ends; it neither writes the
    // settings nor starts a runtime.
    void aSecondLaunchShowsTheFirstInstanceAndEnds() {
        X11 x11;
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
        QCOMPARE(first->state(), QProcess::Running);
    }

    // A companion killed outright leaves its lock and socket behind; the next launch takes them
    // over and runs as the one instance.
    void aCrashedInstanceLeavesNothingThatCounts() {
        World world;
        auto crashed = world.launch();
        auto cleanupCrashed = qScopeGuard([&] { endCompanion(*crashed); });
        QVERIFY(crashed->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(crashed->processId()) != 0, 60000);
        const pid_t orphan = world.servingRuntime(crashed->processId());
        const QString socket = world.runFolder() + "/kestro-agent-companion.socket";
        QVERIFY(QFileInfo::exists(socket));
        crashed->kill();
        QVERIFY(crashed->waitForFinished(10000));
        // The runtime outlives a killed companion; it is ended here so the port is free again.
        ::kill(orphan, SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(runtimesOn(world.port()).empty(), 10000);
        QVERIFY(QFileInfo::exists(socket));

        auto next = world.launch();
        auto cleanupNext = qScopeGuard([&] { endCompanion(*next); });
        QVERIFY(next->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(world.servingRuntime(next->processId()) != 0, 60000);
        QCOMPARE(next->state(), QProcess::Running);
        // And it answers a later launch as the one instance.
        auto later = world.launch();
        QVERIFY(later->waitForFinished(10000));
        QCOMPARE(later->exitCode(), 0);
        QCOMPARE(runtimesOn(world.port()).size(), size_t(1));
    }

    // With a tray: the icon is there, a closed window leaves the runtime serving, and "Quit" in
    // the tray's menu ends both.
    void withATrayClosingHidesAndTheTrayQuits() {
        X11 x11;
        World world;
        TrayHost tray;
        QVERIFY(tray.ready());
        auto companion = world.launch();
        auto cleanup = qScopeGuard([&] { endCompanion(*companion); });
        QVERIFY(companion->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(x11.hasEmbeddedWindow(companion->processId()), 30000);
        const xcb_window_t window = servedWindow(world, x11, companion->processId());
        QVERIFY(window != XCB_WINDOW_NONE);
        QTRY_VERIFY_WITH_TIMEOUT(x11.viewable(window), 20000);

        x11.close(window);
        QTRY_VERIFY_WITH_TIMEOUT(!x11.viewable(window), 10000);
        const pid_t runtime = world.servingRuntime(companion->processId());
        QVERIFY(runtime != 0);
        QCOMPARE(companion->state(), QProcess::Running);
        QVERIFY(QSettings(world.settingsPath(), QSettings::IniFormat)
                    .value(KestroAgentApp::kCloseNoticeKey)
                    .toBool());

        // "Quit" is the menu's last entry: open the menu on the icon, go up once, and choose it.
        QVERIFY(quitFromTrayMenu(x11, companion->processId()));
        QVERIFY(companion->waitForFinished(20000));
        QCOMPARE(companion->exitStatus(), QProcess::NormalExit);
        QCOMPARE(companion->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(runtime, 0) != 0, 20000);
    }

    // Without a tray nothing could bring a closed window back: closing quits, runtime and all.
    void withoutATrayClosingQuits() {
        X11 x11;
        QVERIFY(!TrayHost::isServing());
        World world;
        auto companion = world.launch();
        auto cleanup = qScopeGuard([&] { endCompanion(*companion); });
        QVERIFY(companion->waitForStarted());
        const xcb_window_t window = servedWindow(world, x11, companion->processId());
        QVERIFY(window != XCB_WINDOW_NONE);
        const pid_t runtime = world.servingRuntime(companion->processId());
        x11.close(window);
        QVERIFY(companion->waitForFinished(20000));
        QCOMPARE(companion->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(runtime, 0) != 0, 20000);
        QVERIFY(runtimesOn(world.port()).empty());
    }

    // The switch writes an entry the desktop's tools accept; the desktop's launcher starts it
    // hidden (tray icon and runtime, no window); turned off, the entry is gone.
    void theAutostartEntryStartsHiddenAndGoesWhenSwitchedOff() {
        X11 x11;
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
        AgentViewModel model(
            {.settings = std::make_unique<QSettings>(world.home() + "/probe.conf", QSettings::IniFormat),
             .secretStore = std::make_unique<MemorySecretStore>(),
             .runtimeSearch = {},
             .environment = {},
             .openURL = {},
             .defaults = {},
             .loginItem = systemLoginItem(program)});
        // A path that no entry can hold is refused, and nothing is written.
        QVERIFY(!systemLoginItem(folder + "/bell\a")->setEnabled(true).isEmpty());
        QVERIFY(!QFileInfo::exists(entry));
        QVERIFY(!model.startsAtLogin());
        model.setStartsAtLogin(true);
        QVERIFY(model.startsAtLogin());
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
        const xcb_window_t window = x11.mainWindow(companion);
        QVERIFY(window == XCB_WINDOW_NONE || !x11.viewable(window));
        QCOMPARE(webHelpersUnder(pid_t(companion)), 0);
        ::kill(pid_t(companion), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(companion), 20000);

        model.setStartsAtLogin(false);
        QVERIFY(!model.startsAtLogin());
        QVERIFY(!QFileInfo::exists(entry));
    }

    // Hidden, the web preview and the web engine's helper processes are gone; shown again, the
    // pairing QR code is back and decodes from a grab of the window.
    void hiddenTheWebHelpersGoAndShownTheQRComesBack() {
        X11 x11;
        World world;
        TrayHost tray;
        QVERIFY(tray.ready());
        auto companion = world.launch();
        auto cleanup = qScopeGuard([&] { endCompanion(*companion); });
        QVERIFY(companion->waitForStarted());
        const pid_t pid = pid_t(companion->processId());
        const xcb_window_t window = servedWindow(world, x11, pid);
        QVERIFY(window != XCB_WINDOW_NONE);
        const QString picture = world.home() + "/grab.png";
        const QString link = QStringLiteral("kestro://pair");
        QTRY_VERIFY_WITH_TIMEOUT(decodedQR(window, picture).startsWith(link), 60000);
        QVERIFY(webHelpersUnder(pid) > 0);

        x11.close(window);
        QTRY_VERIFY_WITH_TIMEOUT(!x11.viewable(window), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(webHelpersUnder(pid), 0, 30000);
        QVERIFY(world.servingRuntime(pid) != 0);

        auto second = world.launch();
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(x11.viewable(window), 10000);
        QString decoded;
        QTRY_VERIFY_WITH_TIMEOUT((decoded = decodedQR(window, picture)).startsWith(link), 60000);
        // The same runtime, the same token, as before the window was hidden.
        QVERIFY(decoded.contains(QString::fromStdString("token=" + storedToken())));
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
    static bool quitFromTrayMenu(const X11& x11, qint64 owner) {
        const QPoint icon = x11.middle(x11.embeddedWindow(owner));
        // Other windows may show meanwhile (the notice of a closed window, a tooltip): the menu
        // is the one that opens at the pointer.
        const auto menuShown = [&] {
            for (const xcb_window_t window : x11.children(x11.root()))
                if (x11.pid(window) == owner && x11.viewable(window) && x11.middle(window) != icon &&
                    x11.corner(window) == icon)
                    return true;
            return false;
        };
        for (int attempt = 0; attempt < 10; ++attempt) {
            QProcess::execute(QStringLiteral("xdotool"), {"mousemove", QString::number(icon.x()),
                                                          QString::number(icon.y()), "click", "3"});
            if (!QTest::qWaitFor(menuShown, 3000)) continue;
            QProcess::execute(QStringLiteral("xdotool"), {"key", "--delay", "100", "Up", "Return"});
            return QTest::qWaitFor([&] { return !processAlive(owner); }, 20000);
        }
        return false;
    }
};

QTEST_MAIN(AgentDesktopLifeTests)
#include "AgentDesktopLifeTests.moc"
