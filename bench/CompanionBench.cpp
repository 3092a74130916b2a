// The companion's launch and weight, driven from outside as a desktop starts it: the keeper
// program started (under Xvfb, a tray host running), its window program found and its window
// grabbed through X until the pairing QR code in the grab decodes; the runtime it starts
// answering, against the runtime alone started the same way; and the resident memory of the
// whole tree (keeper, window, the web view's helpers, runtime) with the window shown, after it was
// closed, and launched hidden. Then a second launch while hidden, to a decodable QR again.
//
//   kestro_companion_bench [RUNS]

#include "AgentLaunchSettings.h"
#include "Figures.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "support/X11Desktop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <vector>

using namespace kestro;
using namespace kestro::companion;
using namespace kestro::testing;

namespace {

const std::string kNativeCodex = std::string(KESTRO_FIXTURES_DIR) +
                                 "/codex-cli/node_modules/@openai/codex-linux-x64/vendor/"
                                 "x86_64-unknown-linux-musl/bin/codex";
constexpr int kDeadline = 60000;

// Now on the monotonic clock, in nanoseconds.
qint64 now() {
    return QDeadlineTimer::current().deadlineNSecs();
}

// Milliseconds since `started` (nanoseconds).
double since(qint64 started) {
    return double(now() - started) / 1e6;
}

// This process and every descendant.
long totalKilobytes(pid_t root) {
    long total = residentKilobytes(root);
    for (const pid_t child : childProcesses(root))
        total += totalKilobytes(child);
    return total;
}

QString executableOf(pid_t pid) {
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
}

pid_t childRunning(pid_t parent, const char* program) {
    const QString path = QFileInfo(QString::fromLatin1(program)).canonicalFilePath();
    for (const pid_t child : childProcesses(parent))
        if (executableOf(child) == path && isRunning(child)) return child;
    return 0;
}

// Waits for `condition`, giving the event loop its turns; false at the deadline.
template <typename Condition> bool waitFor(Condition condition, int milliseconds = kDeadline) {
    for (const QDeadlineTimer deadline(milliseconds); !deadline.hasExpired(); QThread::msleep(20)) {
        QCoreApplication::processEvents();
        if (condition()) return true;
    }
    return false;
}

// The time (ns, monotonic) of the first grab of the keeper's window whose QR code decodes: the
// window is grabbed as often as the decoder keeps up, and the time that counts is the grab's.
qint64 firstDecodableGrab(const X11Desktop& x11, pid_t keeper, const QString& picture) {
    for (const QDeadlineTimer deadline(kDeadline); !deadline.hasExpired(); QThread::msleep(5)) {
        const pid_t window = childRunning(keeper, KESTRO_WINDOW_BINARY);
        const xcb_window_t shown = window != 0 ? x11.mainWindow(window) : xcb_window_t(XCB_WINDOW_NONE);
        if (shown == XCB_WINDOW_NONE || !x11.viewable(shown)) continue;
        const qint64 grabbed = now();
        // A picture format that takes no compressing.
        if (!x11.grab(shown).save(picture, "PPM")) continue;
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"),
                   {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", picture});
        zbar.waitForFinished(20000);
        if (zbar.readAllStandardOutput().startsWith("kestro://pair")) return grabbed;
    }
    return 0;
}

// Something listens on the runtime's port (a connection is all it takes: lighter on the machine
// than a request while the companion starts).
bool answers(uint16_t port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(100);
}

// One user's world for one launch: a home with the companion's settings on a free port.
struct World {
    World() : port(freePort()) {
        QDir().mkpath(QString::fromStdString(home.path()) + "/config/brantel");
        const std::string run = home.folder("run");
        ::chmod(run.c_str(), 0700);
        QSettings settings(QString::fromStdString(home.path()) + "/config/brantel/kestro Agent.conf",
                           QSettings::IniFormat);
        const AgentLaunchConfiguration configuration{.machineName = "Bench",
                                                     .host = "0.0.0.0",
                                                     .port = QString::number(port),
                                                     .advertisedHost = "127.0.0.1",
                                                     .workingDirectory = QString::fromStdString(home.path())};
        settings.setValue(AgentLaunchSettings::kConfigurationKey, configuration.toJson());
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment;
        const QString root = QString::fromStdString(home.path());
        environment.insert("HOME", root);
        environment.insert("XDG_CONFIG_HOME", root + "/config");
        environment.insert("XDG_CACHE_HOME", root + "/cache");
        environment.insert("XDG_RUNTIME_DIR", root + "/run");
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("KESTRO_AGENT_RUNTIME", KESTRO_AGENT_BINARY);
        environment.insert("KESTRO_CODEX_PATH", QString::fromStdString(kNativeCodex));
        environment.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
        environment.insert("QT_LOGGING_RULES", "qt.webenginecontext.info=false;*.warning=false");
        for (const char* name : {"DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS"})
            if (qEnvironmentVariableIsSet(name)) environment.insert(name, qEnvironmentVariable(name));
        return environment;
    }

    std::unique_ptr<QProcess> launch(const QStringList& arguments = {}) const {
        auto keeper = std::make_unique<QProcess>();
        keeper->setProcessEnvironment(environment());
        keeper->setWorkingDirectory(QString::fromStdString(home.path()));
        keeper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        keeper->start(QStringLiteral(KESTRO_COMPANION_BINARY), arguments);
        keeper->waitForStarted();
        return keeper;
    }

    TemporaryFolder home;
    uint16_t port;
};

void end(QProcess& keeper) {
    keeper.terminate();
    if (!keeper.waitForFinished(10000)) keeper.kill();
    keeper.waitForFinished(10000);
}

struct Figures {
    std::vector<double> shown, running, decoded, runtimeAlone, shownKilobytes, hiddenKilobytes,
        launchedHiddenKilobytes, secondLaunchDecoded;
};

// Launched to be shown: the times to its window shown, its runtime answering and its QR decoding
// in a grab, the memory shown and after the window was closed, then a second launch to a QR again.
void shownRun(const X11Desktop& x11, Figures& figures) {
    World world;
    const QString picture = QString::fromStdString(world.home.path()) + "/grab.ppm";
    const qint64 started = now();
    auto keeper = world.launch();
    const pid_t pid = pid_t(keeper->processId());
    double running = 0, shown = 0;
    const bool up = waitFor([&] {
        if (running == 0 && answers(world.port)) running = since(started);
        const pid_t window = childRunning(pid, KESTRO_WINDOW_BINARY);
        if (shown == 0 && window != 0 && x11.mainWindow(window) != XCB_WINDOW_NONE &&
            x11.viewable(x11.mainWindow(window)))
            shown = since(started);
        return running != 0 && shown != 0;
    });
    const qint64 decoded = up ? firstDecodableGrab(x11, pid, picture) : 0;
    if (decoded == 0) {
        std::fprintf(stderr, "a companion run gave no figures\n");
        end(*keeper);
        return;
    }
    figures.running.push_back(running);
    figures.shown.push_back(shown);
    figures.decoded.push_back(double(decoded - started) / 1e6);
    // Let the page settle, weigh everything, then close the window as a window manager would.
    QThread::msleep(1000);
    figures.shownKilobytes.push_back(double(totalKilobytes(pid)));
    const pid_t window = childRunning(pid, KESTRO_WINDOW_BINARY);
    x11.close(x11.mainWindow(window));
    waitFor([&] { return !isRunning(window); });
    QThread::msleep(1000);
    figures.hiddenKilobytes.push_back(double(totalKilobytes(pid)));

    const qint64 again = now();
    auto second = world.launch();
    second->waitForFinished(10000);
    if (const qint64 decodedAgain = firstDecodableGrab(x11, pid, picture); decodedAgain != 0)
        figures.secondLaunchDecoded.push_back(double(decodedAgain - again) / 1e6);
    end(*keeper);
}

// Launched hidden (as at login): the memory once the runtime answers.
void hiddenRun(Figures& figures) {
    World world;
    auto keeper = world.launch({"--hidden"});
    if (!waitFor([&] { return answers(world.port); })) {
        std::fprintf(stderr, "a hidden companion run gave no figures\n");
        end(*keeper);
        return;
    }
    QThread::msleep(1500);
    figures.launchedHiddenKilobytes.push_back(double(totalKilobytes(pid_t(keeper->processId()))));
    end(*keeper);
}

void runtimeRun(Figures& figures) {
    TemporaryFolder home;
    std::map<std::string, std::string> environment{{"HOME", home.path()},
                                                   {"XDG_RUNTIME_DIR", home.path()},
                                                   {"PATH", "/usr/bin:/bin"},
                                                   {"KESTRO_CODEX_PATH", kNativeCodex}};
    const qint64 started = now();
    AgentProcess agent({"--host", "0.0.0.0", "--port", std::to_string(freePort()), "--token", "t", "--name",
                        "Bench", "--working-dir", home.path(), "--no-open-pair-page", "--advertise-host",
                        "127.0.0.1"},
                       environment, home.path());
    if (agent.waitForLines(1).empty()) return;
    figures.runtimeAlone.push_back(double(now() - started) / 1e6);
}

std::string range(std::vector<double> values, const char* unit) {
    if (values.empty()) return "no samples";
    std::sort(values.begin(), values.end());
    char text[128];
    std::snprintf(text, sizeof text, "median %.0f %s (%.0f–%.0f)", values[values.size() / 2], unit,
                  values.front(), values.back());
    return text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    X11Desktop x11;
    if (!x11.isConnected()) {
        std::fprintf(stderr, "no X server ($DISPLAY): run this under Xvfb\n");
        return 1;
    }
    // A tray host, so that the window can be closed and the companion launched hidden.
    QProcess tray;
    tray.start(QStringLiteral("trayer"), {"--edge", "bottom", "--widthtype", "request"});
    tray.waitForStarted();
    waitFor([&] { return x11.hasTray(); });
    Figures figures;
    Figures warmUp;
    shownRun(x11, warmUp); // file caches, the web view's first start
    runtimeRun(warmUp);
    for (int i = 0; i < runs; ++i) {
        shownRun(x11, figures);
        runtimeRun(figures);
        hiddenRun(figures);
    }
    tray.terminate();
    tray.waitForFinished(5000);
    std::vector<double> ratios;
    for (size_t i = 0; i < std::min(figures.running.size(), figures.runtimeAlone.size()); ++i)
        ratios.push_back(figures.running[i] / figures.runtimeAlone[i] * 100.0);
    std::printf("companion launch to its window shown:       %s\n", range(figures.shown, "ms").c_str());
    std::printf("companion launch to runtime answering:      %s\n", range(figures.running, "ms").c_str());
    std::printf("runtime alone, launch to listening line:    %s\n",
                range(figures.runtimeAlone, "ms").c_str());
    std::printf("companion to runtime / runtime alone:       %s\n", range(ratios, "%").c_str());
    std::printf("companion launch to QR decodable in grab:   %s\n", range(figures.decoded, "ms").c_str());
    std::printf("second launch while hidden to QR decodable: %s\n",
                range(figures.secondLaunchDecoded, "ms").c_str());
    std::printf("resident memory, all, window shown:         %s\n",
                range(figures.shownKilobytes, "KiB").c_str());
    std::printf("resident memory, all, window closed:        %s\n",
                range(figures.hiddenKilobytes, "KiB").c_str());
    std::printf("resident memory, all, launched hidden:      %s\n",
                range(figures.launchedHiddenKilobytes, "KiB").c_str());
    reportFigure("companion launch to its window shown", range(figures.shown, "ms").c_str());
    reportFigure("companion launch to runtime answering / runtime alone", range(ratios, "%").c_str());
    reportFigure("companion launch to pairing QR decodable from a window grab",
                 range(figures.decoded, "ms").c_str(), "under 1000 ms");
    reportFigure("second launch while hidden to pairing QR decodable from a window grab",
                 range(figures.secondLaunchDecoded, "ms").c_str(), "under 1500 ms");
    reportFigure("resident memory, keeper + window + web helpers + runtime, window shown",
                 range(figures.shownKilobytes, "KiB").c_str(), "under 400 MB");
    reportFigure("resident memory, keeper + runtime, window closed after being shown",
                 range(figures.hiddenKilobytes, "KiB").c_str(), "under 60 MB");
    reportFigure("resident memory, keeper + runtime, launched hidden (start at login)",
                 range(figures.launchedHiddenKilobytes, "KiB").c_str(), "under 60 MB");
    return 0;
}
