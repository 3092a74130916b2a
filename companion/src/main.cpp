// kestro Agent: the desktop companion that starts and supervises the runtime.

#include "AgentQuitSignals.h"
#include "AgentViewModel.h"

#include <QGuiApplication>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("brantel"));
    QGuiApplication::setOrganizationDomain(QStringLiteral("brantel.com"));
    QGuiApplication::setApplicationName(QStringLiteral("kestro Agent"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("kestro Agent"));

    AgentViewModel viewModel(AgentViewModel::systemServices());
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &viewModel, &AgentViewModel::shutdown);
    quitOnTerminationSignals(application);
    viewModel.startIfNeeded();
    return application.exec();
}
