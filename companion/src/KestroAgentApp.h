#pragma once
// The application around the view model: the one window (QML, at its default size within the
// screen's free area), started as the window appears, and the runtime stopped when the
// application quits; with a tray icon, the window may be closed (hidden) while the runtime keeps
// serving. Create it after the QGuiApplication (a QApplication for the tray icon), and after
// QtWebEngineQuick::initialize() (which must come before the application object).

#include "AgentViewModel.h"

#include <QObject>
#include <QQmlApplicationEngine>
#include <memory>

class QQuickWindow;

namespace kestro::companion {

class AgentTrayIcon;

struct KestroAgentAppOptions {
    // Start the runtime without showing the window, when a tray can show it later.
    bool hidden = false;
    // A presence in the desktop's tray (needs a QApplication).
    bool trayIcon = false;
};

class KestroAgentApp : public QObject {
    Q_OBJECT

  public:
    // Sets the application's names and icon (settings and the desktop find it by them).
    static void describeApplication();
    // Before QtWebEngineQuick::initialize(): the web engine's helper processes are started only
    // for a page and end with it, where the engine's sandbox allows (without the sandbox the
    // engine's zygote, which would outlive every page, serves no purpose).
    static void prepareWebEngine();

    explicit KestroAgentApp(AgentViewModelServices services, KestroAgentAppOptions options = {},
                            QObject* parent = nullptr);
    ~KestroAgentApp() override;

    AgentViewModel& viewModel() { return *m_viewModel; }
    // The window, once loaded; null when the QML could not be loaded.
    QQuickWindow* window() const;
    QQmlApplicationEngine& engine() { return m_engine; }
    // The tray icon, when asked for.
    AgentTrayIcon* trayIcon() const { return m_tray.get(); }

    // Shows the window (again, after it was closed) and starts the runtime when none runs.
    void showWindow();

    // Settings key: the user has been told once that a closed window leaves the bridge running.
    static constexpr const char* kCloseNoticeKey = "com.brantel.kestro.agent.closeNoticeShown";

  protected:
    // A window closed while a tray can bring it back is only hidden.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the application does as the window comes and goes.
    void followWindow(QQuickWindow& shown);
    // The window's colour for a state, from the window's theme.
    QColor stateColor(int state);

    std::unique_ptr<AgentViewModel> m_viewModel;
    QQmlApplicationEngine m_engine;
    std::unique_ptr<AgentTrayIcon> m_tray;
};

// Whether closing the last window ends the application (one implementation file per system:
// on macOS the application stays, as Mac applications do; elsewhere it ends).
bool quitsWhenTheWindowCloses();
// Whether the application turning active shows its hidden window (the Dock on macOS; on Linux
// the tray's own menu turns it active, and a launcher starts a second instance instead).
bool showsTheWindowWhenActivated();

} // namespace kestro::companion
