#pragma once
// The window as an application: the link to the keeper and the QML window over it (where the
// person left it, else at its default size within the screen's free area), shown once the keeper's snapshot
// is in and brought to the front when the keeper asks. Closing the window ends the program. Create it after
// the QGuiApplication, and after QtWebEngineQuick::initialize() (which comes before the application object).

#include "AgentKeeperLink.h"
#include "AgentWindowPlacement.h"

#include <QObject>
#include <QQmlApplicationEngine>
#include <QSettings>
#include <memory>

class QQuickWindow;

namespace kestro::companion {

class AgentWindowApp : public QObject {
    Q_OBJECT

  public:
    // How long the keeper may take to send its snapshot.
    static constexpr int kSnapshotMilliseconds = 10000;

    // Sets the application's names and icon.
    static void describeApplication();
    // Before QtWebEngineQuick::initialize() and the application object. The window draws with
    // Qt Quick's software renderer unless QT_QUICK_BACKEND says otherwise: a few still cards need
    // no GPU, and a GL context (with its driver) costs some 60 MB and time before the first frame.
    // Without the web engine's sandbox (as root) its zygote process, which would outlive every
    // page, serves no purpose and is left out.
    static void prepareProcess();

    explicit AgentWindowApp(QObject* parent = nullptr);
    ~AgentWindowApp() override;

    // Connects to the keeper's channel at `channelPath` and loads the window, which shows once
    // the keeper's snapshot is in. `finished` follows when the keeper goes or never comes.
    void open(const QString& channelPath);

    AgentKeeperLink& link() { return m_link; }
    QQmlApplicationEngine& engine() { return m_engine; }
    // The window, once loaded; null when the QML could not be loaded.
    QQuickWindow* window() const;

  signals:
    // The program should end with `exitCode`.
    void finished(int exitCode);

  private:
    void show();

    AgentKeeperLink m_link;
    QSettings m_settings;
    QQmlApplicationEngine m_engine;
    // Made once the window is loaded; goes before it.
    std::unique_ptr<AgentWindowPlacement> m_placement;
};

} // namespace kestro::companion
