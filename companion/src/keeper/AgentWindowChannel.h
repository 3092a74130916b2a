#pragma once
// The keeper's end of the channel to its window (AgentChannel.h): listens on a socket in the
// keeper's private folder, gives each window that connects a snapshot of every published object,
// then each object again whenever it changes (changes made in one turn of the event loop go out
// together), and performs the window's requests on the keeper. A peer that breaks the protocol is
// let go; the keeper keeps serving. GUI thread only.

#include "AgentChannelPeer.h"
#include "AgentKeeper.h"

#include <QJsonObject>
#include <QLocalServer>
#include <QObject>
#include <memory>
#include <vector>

namespace kestro::companion {

class AgentWindowChannel : public QObject {
    Q_OBJECT

  public:
    // More at once are turned away.
    static constexpr int kMaximumWindows = 4;

    // The keeper must outlive the channel.
    explicit AgentWindowChannel(AgentKeeper& keeper, QObject* parent = nullptr);
    ~AgentWindowChannel() override;

    // Listens at `path`, whose folder must be private (AgentPrivateFolder). The caller holds the
    // single-instance lock: whatever socket is there was left by an instance that is gone. Empty
    // text, or why not.
    QString listen(const QString& path);
    QString path() const { return m_server.fullServerName(); }
    int windowCount() const { return int(m_windows.size()); }
    // Asks every connected window to come to the front.
    void raiseWindows();

  signals:
    void windowCountChanged();
    // A window asked to quit the companion (keeper and runtime).
    void quitRequested();

  private:
    enum Area : unsigned {
        settingsArea = 1,
        tokenArea = 2,
        runtimeArea = 4,
        desktopArea = 8,
        bannerArea = 16
    };
    struct Window;

    void accept();
    void send(Window& window, const char* type, QJsonObject message = {});
    void broadcast(const char* type, const QJsonObject& message = {});
    void sendArea(Window& window, Area area);
    void sendSnapshot(Window& window);
    void markChanged(Area area);
    void flush();
    void perform(Window& window, const QJsonObject& request);
    QString performAction(const QJsonObject& request);
    void drop(Window& window);

    AgentKeeper& m_keeper;
    QLocalServer m_server;
    std::vector<std::unique_ptr<Window>> m_windows;
    unsigned m_changed = 0;
};

} // namespace kestro::companion
