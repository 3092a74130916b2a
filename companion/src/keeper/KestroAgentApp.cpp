#include "KestroAgentApp.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QSettings>

namespace kestro::companion {

void KestroAgentApp::describeApplication() {
    QGuiApplication::setOrganizationName(QStringLiteral("brantel"));
    QGuiApplication::setOrganizationDomain(QStringLiteral("brantel.com"));
    QGuiApplication::setApplicationName(QStringLiteral("kestro Agent"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("kestro Agent"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brantel.kestro.agent"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/keeper/kestro-mark-64.png")));
    // The keeper has no window of its own: only the tray's menu and notifications.
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

KestroAgentApp::KestroAgentApp(AgentKeeperServices services, KestroAgentAppOptions options, QObject* parent)
    : QObject(parent), m_keeper(std::move(services)), m_channel(m_keeper) {
    // The runtime starts at once, while the secret store and the window get ready.
    m_keeper.runtime().startIfNeeded();
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        // The runtime has no way of its own to stop: it is asked to; the window ends with the channel.
        m_keeper.runtime().shutdown();
        if (m_window) m_window->stop();
    });
    const auto log = [this](const QString& line) {
        m_keeper.log().append(QStringLiteral("window: ") + line);
    };
    connect(&m_channel, &AgentWindowChannel::quitRequested, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);
    m_problem = m_channel.listen(options.channelPath);
    if (!m_problem.isEmpty()) {
        log(QStringLiteral("cannot offer the window a channel: ") + m_problem);
    } else {
        if (const auto program = AgentWindowProcess::locateProgram(QCoreApplication::applicationDirPath())) {
            m_window = std::make_unique<AgentWindowProcess>(*program, options.channelPath,
                                                            QProcessEnvironment::systemEnvironment());
            connect(m_window.get(), &AgentWindowProcess::note, this, log);
            connect(m_window.get(), &AgentWindowProcess::ended, this, &KestroAgentApp::windowEnded);
        } else {
            m_problem = QStringLiteral("The window program (%1) was not found. Looked in: %2.")
                            .arg(QLatin1String(AgentWindowProcess::kProgramName),
                                 AgentWindowProcess::programCandidates(QCoreApplication::applicationDirPath())
                                     .join(QStringLiteral(", ")));
            log(m_problem);
        }
    }
    // Hidden only where something else can show the window again. The window starts before the
    // tray is set up: it is what the person waits for.
    const bool tray = options.trayIcon && AgentTrayIcon::isAvailable();
    m_keeper.desktop().setHasTray(tray);
    if (!options.hidden || !tray) showWindow();
    if (options.trayIcon) {
        m_tray = std::make_unique<AgentTrayIcon>(m_keeper);
        connect(m_tray.get(), &AgentTrayIcon::showRequested, this, &KestroAgentApp::showWindow);
        connect(m_tray.get(), &AgentTrayIcon::quitRequested, qApp, &QCoreApplication::quit,
                Qt::QueuedConnection);
    }
    connect(&m_keeper.runtime(), &AgentRuntimeSupervisor::endedUnexpectedly, this,
            [this](const QString& message, const QString& next) {
                notifyWhileHidden(QStringLiteral("The bridge stopped unexpectedly"),
                                  message + QLatin1Char(' ') + next);
            });
    connect(&m_keeper.runtime(), &AgentRuntimeSupervisor::servingAgain, this, [this] {
        notifyWhileHidden(QStringLiteral("The bridge is serving again"),
                          QStringLiteral("Your phone can reach this computer again."));
    });
}

KestroAgentApp::~KestroAgentApp() = default;

void KestroAgentApp::showWindow() {
    m_keeper.runtime().startIfNeeded();
    if (!m_window) {
        if (m_tray) m_tray->notify(QStringLiteral("kestro Agent cannot show its window"), m_problem);
        return;
    }
    if (m_window->isRunning())
        m_channel.raiseWindows();
    else
        m_window->start();
}

void KestroAgentApp::windowEnded(bool closed) {
    // A window that crashed changes nothing: the runtime serves on, and the tray or a launch
    // brings a new window.
    if (!closed) return;
    m_keeper.desktop().setHasTray(m_tray && AgentTrayIcon::isAvailable());
    if (!m_keeper.desktop().hasTray()) {
        // Nothing could bring a closed window back.
        if (quitsWhenTheWindowCloses()) QCoreApplication::quit();
        return;
    }
    QSettings settings;
    if (!settings.value(QLatin1String(kCloseNoticeKey)).toBool()) {
        m_tray->notify(
            QStringLiteral("kestro Agent is still running"),
            QStringLiteral("Your phone can still reach this computer. Quit from the tray icon's menu."));
        settings.setValue(QLatin1String(kCloseNoticeKey), true);
    }
}

void KestroAgentApp::notifyWhileHidden(const QString& title, const QString& message) {
    // A shown window says it itself.
    if (windowShown() || !m_tray || !AgentTrayIcon::isAvailable()) return;
    m_tray->notify(title, message);
}

} // namespace kestro::companion
