// kestro Agent: the desktop companion that starts and supervises the runtime.

#include "AgentQuitSignals.h"
#include "KestroAgentApp.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

using namespace kestro::companion;

int main(int argc, char** argv) {
    // Before the application object, as the web view requires.
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    KestroAgentApp::describeApplication();
    KestroAgentApp app(AgentViewModel::systemServices());
    if (app.window() == nullptr) return 1;
    // The Dock (macOS) or the launcher activating an already running application shows it again.
    QObject::connect(
        &application, &QGuiApplication::applicationStateChanged, &app, [&app](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive && app.window() != nullptr && !app.window()->isVisible())
                app.showWindow();
        });
    quitOnTerminationSignals(application);
    return application.exec();
}
