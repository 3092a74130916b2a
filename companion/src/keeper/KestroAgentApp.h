#pragma once
// The keeper as an application: the keeper's parts (AgentKeeper), the channel its window connects
// to, the tray icon, and the window program started on demand. The runtime starts at once and
// stops when the application quits; with a tray, the window may be closed (its process ends)
// while the runtime keeps serving. Create it after the QApplication (the tray icon is a widget).

#include "AgentKeeper.h"
#include "AgentTrayIcon.h"
#include "AgentWindowChannel.h"
#include "AgentWindowProcess.h"

#include <QObject>
#include <memory>

namespace kestro::companion {

struct KestroAgentAppOptions {
    // Starts the runtime without showing the window, when a tray can show it later.
    bool hidden = false;
    // A presence in the desktop's tray.
    bool trayIcon = false;
    // Where the window connects: a socket path in the keeper's private folder.
    QString channelPath;
};

class KestroAgentApp : public QObject {
    Q_OBJECT

  public:
    // Sets the application's names and icon (settings and the desktop find it by them).
    static void describeApplication();

    KestroAgentApp(AgentKeeperServices services, KestroAgentAppOptions options, QObject* parent = nullptr);
    ~KestroAgentApp() override;

    // Empty when the channel listens, else why not (the application cannot show a window then).
    QString problem() const { return m_problem; }
    AgentKeeper& keeper() { return m_keeper; }
    AgentWindowChannel& channel() { return m_channel; }
    // The tray icon, when asked for.
    AgentTrayIcon* trayIcon() const { return m_tray.get(); }
    // The window program, when it was found.
    AgentWindowProcess* window() const { return m_window.get(); }

    // Shows the window (starting its program, or bringing it to the front) and starts the runtime
    // when none runs.
    void showWindow();

    // Settings key: the user has been told once that a closed window leaves the bridge running.
    static constexpr const char* kCloseNoticeKey = "com.brantel.kestro.agent.closeNoticeShown";

  private:
    void windowEnded(bool closed);
    bool windowShown() const { return m_window && m_window->isRunning(); }
    void notifyWhileHidden(const QString& title, const QString& message);

    AgentKeeper m_keeper;
    AgentWindowChannel m_channel;
    std::unique_ptr<AgentWindowProcess> m_window;
    std::unique_ptr<AgentTrayIcon> m_tray;
    QString m_problem;
};

// Whether closing the window ends the application where it has no tray (one implementation file
// per system: on macOS the application stays, as Mac applications do; elsewhere it ends).
bool quitsWhenTheWindowCloses();
// Whether the application turning active shows the window (the Dock on macOS; on Linux a launcher
// starts a second instance instead).
bool showsTheWindowWhenActivated();

} // namespace kestro::companion
