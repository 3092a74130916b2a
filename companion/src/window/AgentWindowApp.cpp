#include "AgentWindowApp.h"

#include "AgentChannel.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

// The window's QML module, linked in statically.
Q_IMPORT_QML_PLUGIN(KestroAgentPlugin)

namespace kestro::companion {

namespace {

const QUrl kWindowView(QStringLiteral("qrc:/KestroAgent/qml/AgentWindowView.qml"));

} // namespace

void AgentWindowApp::describeApplication() {
    QGuiApplication::setOrganizationName(QStringLiteral("brantel"));
    QGuiApplication::setOrganizationDomain(QStringLiteral("brantel.com"));
    QGuiApplication::setApplicationName(QStringLiteral("kestro Agent"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("kestro Agent"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brantel.kestro.agent"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/KestroAgent/resources/kestro-mark-256.png")));
}

void AgentWindowApp::prepareProcess() {
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const bool sandboxOff = qEnvironmentVariableIntValue("QTWEBENGINE_DISABLE_SANDBOX") == 1 ||
                            flags.split(' ').contains("--no-sandbox");
    if (!sandboxOff || flags.split(' ').contains("--no-zygote")) return;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-zygote").trimmed());
}

AgentWindowApp::AgentWindowApp(QObject* parent) : QObject(parent) {
    connect(&m_link, &AgentKeeperLink::ready, this, &AgentWindowApp::show);
    connect(&m_link, &AgentKeeperLink::raiseRequested, this, &AgentWindowApp::show);
    connect(&m_link, &AgentKeeperLink::lost, this, [this](const QString& reason, bool otherVersion) {
        // The keeper quitting is the usual end; anything else is worth a word where one can read
        // it, and an exit status that does not read as the window closed.
        if (m_link.isReady() && reason == QLatin1String(AgentChannelPeer::kClosedByPeer)) {
            emit finished(0);
            return;
        }
        std::fprintf(stderr, "kestro-agent-window: %s\n", qPrintable(reason));
        emit finished(otherVersion ? channel::kOtherVersionExit : 1);
    });
}

AgentWindowApp::~AgentWindowApp() = default;

void AgentWindowApp::open(const QString& channelPath) {
    // The connection is made while the window loads.
    m_link.connectTo(channelPath);
    // The module lives in the resources, where the window's files import it from.
    m_engine.addImportPath(QStringLiteral("qrc:/"));
    m_engine.setInitialProperties({{QStringLiteral("link"), QVariant::fromValue(&m_link)}});
    m_engine.load(kWindowView);
    QQuickWindow* shown = window();
    if (shown == nullptr) {
        QMetaObject::invokeMethod(
            this, [this] { emit finished(1); }, Qt::QueuedConnection);
        return;
    }
    // Where the person left it, or the default size within the screen.
    m_placement = std::make_unique<AgentWindowPlacement>(*shown, m_settings);
    m_placement->restore();
    // Back in the window, the user sees the settings checked against the computer as it is now.
    connect(shown, &QWindow::activeChanged, this, [this, shown] {
        if (shown->isActive() && m_link.isReady()) m_link.request(channel::kRevalidate);
    });
    if (m_link.isReady()) show();
    QTimer::singleShot(kSnapshotMilliseconds, this, [this] {
        if (m_link.isReady()) return;
        std::fprintf(stderr, "kestro-agent-window: kestro Agent did not answer.\n");
        emit finished(1);
    });
}

QQuickWindow* AgentWindowApp::window() const {
    const auto roots = m_engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
}

void AgentWindowApp::show() {
    QQuickWindow* shown = window();
    if (shown == nullptr) return;
    shown->show();
    shown->raise();
    shown->requestActivate();
}

} // namespace kestro::companion
