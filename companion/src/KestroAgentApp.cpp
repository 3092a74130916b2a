#include "KestroAgentApp.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQuickWindow>
#include <QScreen>
#include <QtQml/qqmlextensionplugin.h>

// The window's QML module, linked in statically.
Q_IMPORT_QML_PLUGIN(KestroAgentPlugin)

namespace kestro::companion {

namespace {

const QUrl kWindowView(QStringLiteral("qrc:/KestroAgent/AgentWindowView.qml"));

} // namespace

void KestroAgentApp::describeApplication() {
    QGuiApplication::setOrganizationName(QStringLiteral("brantel"));
    QGuiApplication::setOrganizationDomain(QStringLiteral("brantel.com"));
    QGuiApplication::setApplicationName(QStringLiteral("kestro Agent"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("kestro Agent"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brantel.kestro.agent"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/KestroAgent/KestroMark.png")));
    QGuiApplication::setQuitOnLastWindowClosed(quitsWhenTheWindowCloses());
}

KestroAgentApp::KestroAgentApp(AgentViewModelServices services, QObject* parent)
    : QObject(parent), m_viewModel(std::make_unique<AgentViewModel>(std::move(services))) {
    // The runtime has no way of its own to stop: the quit hook asks it to.
    connect(qApp, &QCoreApplication::aboutToQuit, m_viewModel.get(), &AgentViewModel::shutdown);
    // The module lives in the resources, where the window's files import it from.
    m_engine.addImportPath(QStringLiteral("qrc:/"));
    m_engine.setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(m_viewModel.get())}});
    m_engine.load(kWindowView);
    if (QQuickWindow* shown = window()) followWindow(*shown);
}

void KestroAgentApp::followWindow(QQuickWindow& shown) {
    // The default size, within the free area of the screen it opens on: on a small screen the
    // window is smaller and its content scrolls. (Never below its minimum size.)
    if (const QScreen* screen = shown.screen())
        shown.resize(
            shown.size().boundedTo(screen->availableGeometry().size()).expandedTo(shown.minimumSize()));
    // The appearance hook: whenever the window is shown, the runtime starts if none runs.
    connect(&shown, &QWindow::visibleChanged, this, [this](bool visible) {
        if (visible) m_viewModel->startIfNeeded();
    });
    // Back in the window, the user sees the settings checked against the computer as it is now.
    connect(&shown, &QWindow::activeChanged, this, [this, &shown] {
        if (shown.isActive()) m_viewModel->revalidate();
    });
    if (shown.isVisible()) m_viewModel->startIfNeeded();
}

KestroAgentApp::~KestroAgentApp() = default;

QQuickWindow* KestroAgentApp::window() const {
    const auto roots = m_engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
}

void KestroAgentApp::showWindow() {
    if (QQuickWindow* shown = window()) {
        shown->show();
        shown->raise();
        shown->requestActivate();
    }
    m_viewModel->startIfNeeded();
}

} // namespace kestro::companion
