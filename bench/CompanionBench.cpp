// The companion's launch: from starting the program to its first window frame, to the runtime
// it starts reporting that it listens (with the native Codex binary), against the runtime alone
// started the same way, and to a grab of its window in which the pairing QR code decodes; and
// the resident memory of the companion, the web view's helper processes and the runtime
// together: with the window shown, after it was hidden, and when launched hidden. Needs a
// display: bench/run-benchmarks runs it under Xvfb, and this program starts a tray host there
// for the hidden figures.
//
//   kestro_companion_bench [RUNS]

#include "Figures.h"
#include "KestroAgentApp.h"
#include "platform/ChildProcess.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QQuickWindow>
#include <QSettings>
#include <QTimer>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace kestro;
using namespace kestro::companion;
using namespace kestro::testing;

namespace {

const std::string kNativeCodex = std::string(KESTRO_FIXTURES_DIR) +
                                 "/codex-cli/node_modules/@openai/codex-linux-x64/vendor/"
                                 "x86_64-unknown-linux-musl/bin/codex";

long long nowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// This process and every descendant (the runtime and the web view's helpers).
long totalKilobytes(pid_t root) {
    long total = residentKilobytes(root);
    for (const pid_t child : childProcesses(root))
        total += totalKilobytes(child);
    return total;
}

// Processes under `root` that are the web view's helpers.
int webHelpers(pid_t root) {
    int count = 0;
    for (const pid_t child : childProcesses(root)) {
        char target[4096] = {};
        const std::string link = "/proc/" + std::to_string(child) + "/exe";
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target).ends_with("/QtWebEngineProcess")) ++count;
        count += webHelpers(child);
    }
    return count;
}

// One launch, in this process: prints the steady-clock times (µs) of the first frame, the
// running state and the grab in which the QR code first decoded, then the total resident
// memory shown and, once the window is hidden and the web helpers are gone, hidden.
int measureOnce(int argc, char** argv) {
    KestroAgentApp::prepareWebEngine();
    QtWebEngineQuick::initialize();
    QApplication application(argc, argv);
    KestroAgentApp::describeApplication();
    long long firstFrame = 0, running = 0, decoded = 0;
    KestroAgentApp app(AgentViewModel::systemServices(), {.hidden = false, .trayIcon = true});
    QQuickWindow* window = app.window();
    if (window == nullptr) return 1;
    QObject::connect(window, &QQuickWindow::frameSwapped, [&] {
        if (firstFrame == 0) firstFrame = nowMicroseconds();
    });
    AgentViewModel& model = app.viewModel();
    QObject::connect(&model, &AgentViewModel::runtimeStateChanged, [&] {
        if (running == 0 && model.runtimeState() == AgentViewModel::RuntimeState::Running)
            running = nowMicroseconds();
    });
    const QString picture = QDir::temp().filePath(QStringLiteral("kestro-bench-%1.png").arg(getpid()));
    long shownKilobytes = 0;
    // The decoder runs beside the window, which keeps painting meanwhile; the time that counts
    // is that of the grab it decoded.
    QProcess zbar;
    long long grabbed = 0;
    QObject::connect(&zbar, &QProcess::finished, [&] {
        if (zbar.readAllStandardOutput().startsWith("kestro://pair")) decoded = grabbed;
    });
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (decoded == 0) {
            QObject* preview = window->findChild<QObject*>("pairPagePreview");
            if (zbar.state() != QProcess::NotRunning || preview == nullptr) return;
            grabbed = nowMicroseconds();
            if (window->grabWindow().save(picture))
                zbar.start(QStringLiteral("zbarimg"), {"--raw", "-q", "--nodbus", picture});
            return;
        }
        if (shownKilobytes == 0) {
            poll.stop();
            // Let the page settle, weigh everything, then hide the window.
            QTimer::singleShot(1000, [&] {
                shownKilobytes = totalKilobytes(getpid());
                window->close();
                poll.start();
            });
            return;
        }
        if (webHelpers(getpid()) != 0) return;
        poll.stop();
        QTimer::singleShot(1000, [&] {
            std::printf("%lld %lld %lld %ld %ld\n", firstFrame, running, decoded, shownKilobytes,
                        totalKilobytes(getpid()));
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    });
    poll.start();
    QTimer::singleShot(60000, [] { QCoreApplication::exit(2); });
    const int status = application.exec();
    zbar.waitForFinished(20000);
    QFile::remove(picture);
    return status;
}

// Launched hidden (as at login): prints the total resident memory once the runtime runs.
int measureHidden(int argc, char** argv) {
    KestroAgentApp::prepareWebEngine();
    QtWebEngineQuick::initialize();
    QApplication application(argc, argv);
    KestroAgentApp::describeApplication();
    KestroAgentApp app(AgentViewModel::systemServices(), {.hidden = true, .trayIcon = true});
    if (app.window() == nullptr || app.window()->isVisible()) return 3; // no tray host
    AgentViewModel& model = app.viewModel();
    QObject::connect(&model, &AgentViewModel::runtimeStateChanged, [&] {
        if (model.runtimeState() != AgentViewModel::RuntimeState::Running) return;
        QTimer::singleShot(1500, [] {
            std::printf("%ld\n", totalKilobytes(getpid()));
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(2); });
    return application.exec();
}

struct Figures {
    std::vector<double> firstFrame, running, decoded, runtimeAlone, shownKilobytes, hiddenKilobytes,
        launchedHiddenKilobytes;
};

std::string range(std::vector<double> values, const char* unit) {
    if (values.empty()) return "no samples";
    std::sort(values.begin(), values.end());
    char text[128];
    std::snprintf(text, sizeof text, "median %.0f %s (%.0f–%.0f)", values[values.size() / 2], unit,
                  values.front(), values.back());
    return text;
}

std::vector<std::string> environmentFor(const std::string& home) {
    std::vector<std::string> environment{"HOME=" + home,
                                         "XDG_CONFIG_HOME=" + home + "/config",
                                         "XDG_RUNTIME_DIR=" + home + "/run",
                                         "PATH=/usr/bin:/bin",
                                         "KESTRO_AGENT_RUNTIME=" + kAgentBinary,
                                         "KESTRO_CODEX_PATH=" + kNativeCodex,
                                         "QTWEBENGINE_DISABLE_SANDBOX=1",
                                         "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu",
                                         "QT_LOGGING_RULES=qt.webenginecontext.info=false;*.warning=false"};
    for (const char* name : {"DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
    return environment;
}

// The output of `self` started with `mode` in a fresh home.
std::string companionOutput(const std::string& self, const std::string& mode, long long& started) {
    TemporaryFolder home;
    const std::string config = home.folder("config/brantel");
    ::chmod(home.folder("run").c_str(), 0700);
    const uint16_t port = freePort();
    {
        QSettings settings(QString::fromStdString(config + "/kestro Agent.conf"), QSettings::IniFormat);
        const AgentLaunchConfiguration configuration{.machineName = "Bench",
                                                     .host = "0.0.0.0",
                                                     .port = QString::number(port),
                                                     .advertisedHost = "127.0.0.1",
                                                     .workingDirectory = QString::fromStdString(home.path())};
        settings.setValue(AgentViewModel::kConfigurationKey, configuration.toJson());
    }
    started = nowMicroseconds();
    SpawnResult spawned = ChildProcess::spawn(
        {.executable = self, .arguments = {mode}, .environment = environmentFor(home.path())});
    if (!spawned.child) return {};
    std::string output;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(spawned.child->standardOutput().get(), chunk, sizeof chunk)) > 0)
        output.append(chunk, static_cast<size_t>(got));
    spawned.child->wait();
    return output;
}

void companionRun(const std::string& self, Figures& figures) {
    long long started = 0;
    const std::string output = companionOutput(self, "--once", started);
    long long frame = 0, running = 0, decoded = 0;
    long shown = 0, hidden = 0;
    if (std::sscanf(output.c_str(), "%lld %lld %lld %ld %ld", &frame, &running, &decoded, &shown, &hidden) !=
        5) {
        std::fprintf(stderr, "a companion run gave no figures\n");
        return;
    }
    figures.firstFrame.push_back(double(frame - started) / 1000.0);
    figures.running.push_back(double(running - started) / 1000.0);
    figures.decoded.push_back(double(decoded - started) / 1000.0);
    figures.shownKilobytes.push_back(double(shown));
    figures.hiddenKilobytes.push_back(double(hidden));
}

void hiddenRun(const std::string& self, Figures& figures) {
    long long started = 0;
    const std::string output = companionOutput(self, "--once-hidden", started);
    long kilobytes = 0;
    if (std::sscanf(output.c_str(), "%ld", &kilobytes) != 1) {
        std::fprintf(stderr, "a hidden companion run gave no figures\n");
        return;
    }
    figures.launchedHiddenKilobytes.push_back(double(kilobytes));
}

void runtimeRun(Figures& figures) {
    TemporaryFolder home;
    std::map<std::string, std::string> environment{{"HOME", home.path()},
                                                   {"XDG_RUNTIME_DIR", home.path()},
                                                   {"PATH", "/usr/bin:/bin"},
                                                   {"KESTRO_CODEX_PATH", kNativeCodex}};
    const long long started = nowMicroseconds();
    AgentProcess agent({"--host", "0.0.0.0", "--port", std::to_string(freePort()), "--token", "t", "--name",
                        "Bench", "--working-dir", home.path(), "--no-open-pair-page", "--advertise-host",
                        "127.0.0.1"},
                       environment, home.path());
    if (agent.waitForLines(1).empty()) return;
    figures.runtimeAlone.push_back(double(nowMicroseconds() - started) / 1000.0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--once") return measureOnce(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--once-hidden") return measureHidden(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QCoreApplication application(argc, argv); // for QSettings
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    // A tray host, so that the window can be hidden and the companion launched hidden.
    QProcess tray;
    tray.start(QStringLiteral("trayer"), {"--edge", "bottom", "--widthtype", "request"});
    tray.waitForStarted();
    Figures figures;
    Figures warmUp;
    companionRun(self, warmUp); // file caches, the web view's first start
    runtimeRun(warmUp);
    for (int i = 0; i < runs; ++i) {
        companionRun(self, figures);
        runtimeRun(figures);
        hiddenRun(self, figures);
    }
    tray.terminate();
    tray.waitForFinished(5000);
    std::vector<double> ratios;
    for (size_t i = 0; i < std::min(figures.running.size(), figures.runtimeAlone.size()); ++i)
        ratios.push_back(figures.running[i] / figures.runtimeAlone[i] * 100.0);
    std::printf("companion launch to first window frame:   %s\n", range(figures.firstFrame, "ms").c_str());
    std::printf("companion launch to runtime running:      %s\n", range(figures.running, "ms").c_str());
    std::printf("runtime alone, launch to listening line:  %s\n", range(figures.runtimeAlone, "ms").c_str());
    std::printf("companion to running / runtime alone:     %s\n", range(ratios, "%").c_str());
    std::printf("companion launch to QR decodable in grab: %s\n", range(figures.decoded, "ms").c_str());
    std::printf("resident memory, all, window shown:       %s\n",
                range(figures.shownKilobytes, "KiB").c_str());
    std::printf("resident memory, all, window hidden:      %s\n",
                range(figures.hiddenKilobytes, "KiB").c_str());
    std::printf("resident memory, all, launched hidden:    %s\n",
                range(figures.launchedHiddenKilobytes, "KiB").c_str());
    reportFigure("companion launch to first window frame", range(figures.firstFrame, "ms").c_str());
    reportFigure("companion launch to runtime listening / runtime alone", range(ratios, "%").c_str());
    reportFigure("companion launch to pairing QR decodable from a window grab",
                 range(figures.decoded, "ms").c_str(), "under 1000 ms");
    reportFigure("resident memory, companion + web helpers + runtime, window shown",
                 range(figures.shownKilobytes, "KiB").c_str(), "under 400 MB");
    reportFigure("resident memory, companion + web helpers + runtime, window hidden after being shown",
                 range(figures.hiddenKilobytes, "KiB").c_str(), "under 100 MB");
    reportFigure("resident memory, companion + runtime, launched hidden (start at login)",
                 range(figures.launchedHiddenKilobytes, "KiB").c_str(), "under 100 MB");
    return 0;
}
