// kestro Agent: the desktop companion that starts and supervises the runtime. One runs per user:
// a second launch shows the first one's window and ends.

#include "AgentLoginItem.h"
#include "AgentQuitSignals.h"
#include "AgentSingleInstance.h"
#include "KestroAgentApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QQuickWindow>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>
#include <cstdio>

using namespace kestro::companion;

int main(int argc, char** argv) {
    // Before the application object, as the web view requires.
    KestroAgentApp::prepareWebEngine();
    QtWebEngineQuick::initialize();
    // A QApplication: the tray icon and its menu are widgets.
    QApplication application(argc, argv);
    KestroAgentApp::describeApplication();
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Starts the kestro Agent runtime and shows how to pair."));
    options.addHelpOption();
    options.addOption(
        {QLatin1String(kHiddenSwitch),
         QStringLiteral("Start the runtime without showing the window (the tray icon shows it).")});
    options.process(application);
    const bool hidden = options.isSet(QLatin1String(kHiddenSwitch));

    AgentSingleInstance instance;
    switch (instance.claim(!hidden)) {
    case AgentSingleInstance::Claim::handedOver:
        return 0;
    case AgentSingleInstance::Claim::failed:
        std::fprintf(stderr, "kestro Agent: another instance holds %s but does not answer.\n",
                     qPrintable(instance.socketPath()));
        return 1;
    case AgentSingleInstance::Claim::first:
        break;
    }

    KestroAgentApp app(AgentViewModel::systemServices(), {.hidden = hidden, .trayIcon = true});
    if (app.window() == nullptr) return 1;
    QObject::connect(&instance, &AgentSingleInstance::showRequested, &app, &KestroAgentApp::showWindow);
    // The Dock activating the running application shows its window again (macOS). Elsewhere a
    // launcher starts the program again, and the second launch asks the first.
    if (showsTheWindowWhenActivated())
        QObject::connect(&application, &QGuiApplication::applicationStateChanged, &app,
                         [&app](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive && !app.window()->isVisible())
                                 app.showWindow();
                         });
    quitOnTerminationSignals(application);
    return application.exec();
}
