// The companion's launch: from starting the program to its first window frame and to the
// runtime it starts reporting that it listens (with the native Codex binary), against the
// runtime alone started the same way; and the companion's resident memory (itself and the web
// view's helper processes, not the runtime) with the pairing page shown. Needs a display:
// bench/run-benchmarks runs it under Xvfb.
//
//   kestro_companion_bench [RUNS]

#include "Figures.h"
#include "KestroAgentApp.h"
#include "platform/ChildProcess.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <QGuiApplication>
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

// This process and every descendant but the runtime.
long companionKilobytes(pid_t root, pid_t runtime) {
    long total = residentKilobytes(root);
    for (const pid_t child : childProcesses(root))
        if (child != runtime) total += companionKilobytes(child, runtime);
    return total;
}

// One launch, in this process: prints the steady-clock times (µs) of the first frame, the
// running state and the page shown, and the resident memory.
int measureOnce(int argc, char** argv) {
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    KestroAgentApp::describeApplication();
    long long firstFrame = 0, running = 0, shown = 0;
    KestroAgentApp app(AgentViewModel::systemServices());
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
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QObject* preview = window->findChild<QObject*>("pairPagePreview");
        if (shown == 0 && preview != nullptr && preview->property("loaded").toBool())
            shown = nowMicroseconds();
        if (firstFrame != 0 && running != 0 && shown != 0) {
            poll.stop();
            // Let the page settle, then weigh the companion.
            QTimer::singleShot(1000, [&] {
                const auto runtime =
                    model.hasProcess() ? pid_t(model.runtimeProcess().processId()) : pid_t(-1);
                std::printf("%lld %lld %lld %ld %ld\n", firstFrame, running, shown,
                            companionKilobytes(getpid(), runtime), residentKilobytes(getpid()));
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
    });
    poll.start();
    QTimer::singleShot(60000, [] { QCoreApplication::exit(2); });
    return application.exec();
}

struct Figures {
    std::vector<double> firstFrame, running, shown, runtimeAlone, kilobytes, ownKilobytes;
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
    for (const char* name : {"DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
    return environment;
}

void companionRun(const std::string& self, Figures& figures) {
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
    const long long started = nowMicroseconds();
    SpawnResult spawned = ChildProcess::spawn(
        {.executable = self, .arguments = {"--once"}, .environment = environmentFor(home.path())});
    if (!spawned.child) return;
    std::string output;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(spawned.child->standardOutput().get(), chunk, sizeof chunk)) > 0)
        output.append(chunk, static_cast<size_t>(got));
    spawned.child->wait();
    long long frame = 0, running = 0, shown = 0;
    long kilobytes = 0, ownKilobytes = 0;
    if (std::sscanf(output.c_str(), "%lld %lld %lld %ld %ld", &frame, &running, &shown, &kilobytes,
                    &ownKilobytes) != 5) {
        std::fprintf(stderr, "a companion run gave no figures\n");
        return;
    }
    figures.firstFrame.push_back(double(frame - started) / 1000.0);
    figures.running.push_back(double(running - started) / 1000.0);
    figures.shown.push_back(double(shown - started) / 1000.0);
    figures.kilobytes.push_back(double(kilobytes));
    figures.ownKilobytes.push_back(double(ownKilobytes));
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
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QCoreApplication application(argc, argv); // for QSettings
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    Figures figures;
    Figures warmUp;
    companionRun(self, warmUp); // file caches, the web view's first start
    runtimeRun(warmUp);
    for (int i = 0; i < runs; ++i) {
        companionRun(self, figures);
        runtimeRun(figures);
    }
    std::vector<double> ratios;
    for (size_t i = 0; i < std::min(figures.running.size(), figures.runtimeAlone.size()); ++i)
        ratios.push_back(figures.running[i] / figures.runtimeAlone[i] * 100.0);
    std::printf("companion launch to first window frame:   %s\n", range(figures.firstFrame, "ms").c_str());
    std::printf("companion launch to runtime running:      %s\n", range(figures.running, "ms").c_str());
    std::printf("runtime alone, launch to listening line:  %s\n", range(figures.runtimeAlone, "ms").c_str());
    std::printf("companion to running / runtime alone:     %s\n", range(ratios, "%").c_str());
    std::printf("companion launch to pairing page shown:   %s\n", range(figures.shown, "ms").c_str());
    std::printf("companion resident memory, page shown:    %s\n", range(figures.kilobytes, "KiB").c_str());
    std::printf("  of which the companion process itself:  %s\n", range(figures.ownKilobytes, "KiB").c_str());
    reportFigure("companion launch to first window frame", range(figures.firstFrame, "ms").c_str());
    reportFigure("companion launch to runtime listening / runtime alone", range(ratios, "%").c_str());
    reportFigure("companion resident memory with the pairing page shown",
                 range(figures.kilobytes, "KiB").c_str());
    return 0;
}
