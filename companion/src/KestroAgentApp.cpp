#include "KestroAgentApp.h"

#include "AgentTrayIcon.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
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

void KestroAgentApp::prepareWebEngine() {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const bool sandboxOff = qEnvironmentVariableIntValue("QTWEBENGINE_DISABLE_SANDBOX") == 1 ||
                            flags.split(' ').contains("--no-sandbox");
    if (!sandboxOff || flags.split(' ').contains("--no-zygote")) return;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-zygote").trimmed());
}

KestroAgentApp::KestroAgentApp(AgentViewModelServices services, KestroAgentAppOptions options,
                               QObject* parent)
    : QObject(parent), m_viewModel(std::make_unique<AgentViewModel>(std::move(services))) {
    // The runtime has no way of its own to stop: the quit hook asks it to.
    connect(qApp, &QCoreApplication::aboutToQuit, m_viewModel.get(), &AgentViewModel::shutdown);
    // Nothing of the web preview is made before the window is shown.
    m_viewModel->setWindowShown(false);
    // The module lives in the resources, where the window's files import it from.
    m_engine.addImportPath(QStringLiteral("qrc:/"));
    m_engine.setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(m_viewModel.get())}});
    m_engine.load(kWindowView);
    QQuickWindow* shown = window();
    if (shown == nullptr) return;
    followWindow(*shown);
    if (options.trayIcon) {
        m_tray =
            std::make_unique<AgentTrayIcon>(*m_viewModel, [this](int state) { return stateColor(state); });
        connect(m_tray.get(), &AgentTrayIcon::showRequested, this, &KestroAgentApp::showWindow);
        connect(m_tray.get(), &AgentTrayIcon::quitRequested, qApp, &QCoreApplication::quit,
                Qt::QueuedConnection);
    }
    // Hidden only where something else can show the window again.
    if (options.hidden && m_tray && AgentTrayIcon::isAvailable())
        m_viewModel->startIfNeeded();
    else
        showWindow();
}

void KestroAgentApp::followWindow(QQuickWindow& shown) {
    // The default size, within the free area of the screen it opens on: on a small screen the
    // window is smaller and its content scrolls. (Never below its minimum size.)
    if (const QScreen* screen = shown.screen())
        shown.resize(
            shown.size().boundedTo(screen->availableGeometry().size()).expandedTo(shown.minimumSize()));
    // The appearance hook: whenever the window is shown, the runtime starts if none runs.
    connect(&shown, &QWindow::visibleChanged, this, [this](bool visible) {
        m_viewModel->setWindowShown(visible);
        if (visible) m_viewModel->startIfNeeded();
    });
    // Back in the window, the user sees the settings checked against the computer as it is now.
    connect(&shown, &QWindow::activeChanged, this, [this, &shown] {
        if (shown.isActive()) m_viewModel->revalidate();
    });
    shown.installEventFilter(this);
}

bool KestroAgentApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Close || !m_tray || !AgentTrayIcon::isAvailable() || watched != window())
        return QObject::eventFilter(watched, event);
    window()->hide();
    QSettings settings;
    if (!settings.value(QLatin1String(kCloseNoticeKey)).toBool()) {
        m_tray->notifyStillRunning();
        settings.setValue(QLatin1String(kCloseNoticeKey), true);
    }
    return true;
}

QColor KestroAgentApp::stateColor(int state) {
    QVariant color;
    if (QObject* theme = m_engine.singletonInstance<QObject*>(qmlTypeId("KestroAgent", 1, 0, "Theme")))
        QMetaObject::invokeMethod(theme, "stateColor", Q_RETURN_ARG(QVariant, color), Q_ARG(QVariant, state));
    return color.value<QColor>();
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
