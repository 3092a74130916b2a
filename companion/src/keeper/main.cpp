// kestro Agent's keeper: the program the desktop starts. It holds the settings, the token and the
// runtime's supervision, lives in the tray, and starts the window on demand. One runs per user:
// a second launch shows the first one's window and ends.

#include "AgentKeeper.h"
#include "AgentLoginItem.h"
#include "AgentPrivateFolder.h"
#include "AgentQuitSignals.h"
#include "AgentSingleInstance.h"
#include "KestroAgentApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdio>

using namespace kestro::companion;

int main(int argc, char** argv) {
    // A QApplication: the tray icon and its menu are widgets.
    QApplication application(argc, argv);
    KestroAgentApp::describeApplication();
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Starts the kestro Agent runtime, keeps it running in the tray, and shows how to pair."));
    options.addHelpOption();
    options.addOption({QLatin1String(kHiddenSwitch),
                       QStringLiteral("Start the runtime without showing the window (the tray icon shows it; "
                                      "without a tray the window shows anyway).")});
    options.process(application);
    const bool hidden = options.isSet(QLatin1String(kHiddenSwitch));

    QStringList problems;
    const std::optional<QString> folder = preparePrivateFolder(systemPrivateFolderCandidates(), &problems);
    if (!folder) {
        std::fprintf(stderr, "kestro Agent: no private folder for its lock and sockets: %s\n",
                     qPrintable(problems.join(QStringLiteral(" "))));
        return 1;
    }
    AgentSingleInstance instance(*folder);
    switch (instance.claim(!hidden)) {
    case AgentSingleInstance::Claim::handedOver:
        return 0;
    case AgentSingleInstance::Claim::failed:
        std::fprintf(stderr, "kestro Agent: %s\n", qPrintable(instance.problem()));
        return 1;
    case AgentSingleInstance::Claim::first:
        break;
    }

    KestroAgentApp app(
        AgentKeeper::systemServices(),
        {.hidden = hidden, .trayIcon = true, .channelPath = QDir(*folder).filePath("window.socket")});
    if (!app.problem().isEmpty()) {
        std::fprintf(stderr, "kestro Agent: %s\n", qPrintable(app.problem()));
        // Without a window and without a tray nothing could show or stop the runtime.
        if (!app.keeper().desktop().hasTray()) return 1;
    }
    QObject::connect(&instance, &AgentSingleInstance::showRequested, &app, &KestroAgentApp::showWindow);
    // The Dock activating the running application shows its window (macOS). Elsewhere a launcher
    // starts the program again, and the second launch asks the first.
    if (showsTheWindowWhenActivated())
        QObject::connect(&application, &QGuiApplication::applicationStateChanged, &app,
                         [&app](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive) app.showWindow();
                         });
    quitOnTerminationSignals(application);
    return application.exec();
}
