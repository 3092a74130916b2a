#pragma once
// The application around the view model: the one window (QML, at its default size within the
// screen's free area), started as the window appears, and the runtime stopped when the
// application quits. Create it after the QGuiApplication, and after
// QtWebEngineQuick::initialize() (which must come before the application object).

#include "AgentViewModel.h"

#include <QObject>
#include <QQmlApplicationEngine>
#include <memory>

class QQuickWindow;

namespace kestro::companion {

class KestroAgentApp : public QObject {
    Q_OBJECT

  public:
    // Sets the application's names and icon (settings and the desktop find it by them).
    static void describeApplication();

    explicit KestroAgentApp(AgentViewModelServices services, QObject* parent = nullptr);
    ~KestroAgentApp() override;

    AgentViewModel& viewModel() { return *m_viewModel; }
    // The window, once loaded; null when the QML could not be loaded.
    QQuickWindow* window() const;
    QQmlApplicationEngine& engine() { return m_engine; }

    // Shows the window (again, after it was closed) and starts the runtime when none runs.
    void showWindow();

  private:
    // What the application does as the window comes and goes.
    void followWindow(QQuickWindow& shown);

    std::unique_ptr<AgentViewModel> m_viewModel;
    QQmlApplicationEngine m_engine;
};

// Whether closing the last window ends the application (one implementation file per system:
// on macOS the application stays, as Mac applications do; elsewhere it ends).
bool quitsWhenTheWindowCloses();

} // namespace kestro::companion
