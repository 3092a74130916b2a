// kestro Agent's window: started by the keeper (kestro-agent-companion) with the path of its
// channel, it shows what the keeper publishes and sends back what the person does. It ends when
// it is closed, or when the keeper goes.

#include "AgentPrivateFolder.h"
#include "AgentWindowApp.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>
#include <cstdio>

using namespace kestro::companion;

int main(int argc, char** argv) {
    // Before the application object, as the web view requires.
    AgentWindowApp::prepareProcess();
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    AgentWindowApp::describeApplication();
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("The window of kestro Agent, started by kestro-agent-companion."));
    options.addHelpOption();
    const QCommandLineOption channel(QStringLiteral("channel"), QStringLiteral("The keeper's socket."),
                                     QStringLiteral("path"));
    options.addOption(channel);
    options.process(application);
    // Only the path it was given, in a folder that is the user's alone.
    const QString path = options.value(channel);
    if (path.isEmpty() || !QFileInfo(path).isAbsolute()) {
        std::fprintf(stderr,
                     "kestro-agent-window: start kestro-agent-companion instead; it starts this window.\n");
        return 2;
    }
    if (const QString problem = privateFolderProblem(QFileInfo(path).path()); !problem.isEmpty()) {
        std::fprintf(stderr, "kestro-agent-window: %s\n", qPrintable(problem));
        return 2;
    }
    AgentWindowApp app;
    QObject::connect(&app, &AgentWindowApp::finished, &application, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    app.open(path);
    return application.exec();
}
