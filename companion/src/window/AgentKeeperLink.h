#pragma once
// The window's end of the channel to its keeper (AgentChannel.h): connects to the socket path it
// was given once its folder proves private, follows the keeper's snapshot and changes into one
// small mirror per published object, and sends the window's requests, each answered or, after
// kAnswerMilliseconds, given up (the window then says the keeper does not answer). Anything out
// of order, of another version, or a keeper that goes ends the link: the window has nothing left
// to show. GUI thread only.

#include "AgentChannel.h"
#include "AgentChannelPeer.h"
#include "AgentDesktopMirror.h"
#include "AgentLogMirror.h"
#include "AgentRuntimeMirror.h"
#include "AgentSettingsMirror.h"
#include "AgentTokenMirror.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace kestro::companion {

class AgentKeeperLink : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The window is given its link to the keeper.")
    Q_PROPERTY(kestro::companion::AgentSettingsMirror* settings READ settings CONSTANT)
    Q_PROPERTY(kestro::companion::AgentTokenMirror* token READ token CONSTANT)
    Q_PROPERTY(kestro::companion::AgentRuntimeMirror* runtime READ runtime CONSTANT)
    Q_PROPERTY(kestro::companion::AgentDesktopMirror* desktop READ desktop CONSTANT)
    Q_PROPERTY(kestro::companion::AgentLogMirror* log READ log CONSTANT)
    // The keeper's banner, or the window's own word that the keeper did not answer.
    Q_PROPERTY(QString bannerMessage READ bannerMessage NOTIFY bannerMessageChanged)

  public:
    static constexpr int kAnswerMilliseconds = 5000;
    // How long the keeper's own banners stay, for the window's own.
    static constexpr int kBannerMilliseconds = 1800;

    // A request the keeper has not answered within `answerMilliseconds` counts as not answered.
    explicit AgentKeeperLink(int answerMilliseconds = kAnswerMilliseconds, QObject* parent = nullptr);
    ~AgentKeeperLink() override;

    AgentSettingsMirror* settings() { return &m_settings; }
    AgentTokenMirror* token() { return &m_token; }
    AgentRuntimeMirror* runtime() { return &m_runtime; }
    AgentDesktopMirror* desktop() { return &m_desktop; }
    AgentLogMirror* log() { return &m_log; }
    QString bannerMessage() const { return m_ownBanner.isEmpty() ? m_keeperBanner : m_ownBanner; }

    // Connects to the keeper's socket at `path`; `ready` follows once its snapshot is in, or
    // `lost`.
    void connectTo(const QString& path);
    bool isReady() const { return m_ready; }
    // Sends a request; `answered` follows with the id returned here.
    quint64 request(const char* name, QJsonObject fields = {});
    // Asks the keeper to quit, the runtime with it (this window ends with the keeper).
    Q_INVOKABLE void quit() { request(channel::kQuit); }

  signals:
    void ready();
    // The link has ended; `otherVersion` when the keeper speaks another version of the channel.
    void lost(const QString& reason, bool otherVersion);
    void raiseRequested();
    // The keeper answered request `id` (`error` when it refused it), or did not in time.
    void answered(quint64 id, const QString& error);
    void bannerMessageChanged();

  private:
    void handle(const QJsonObject& message);
    void end(const QString& reason, bool otherVersion = false);
    void showOwnBanner(const QString& message);

    AgentSettingsMirror m_settings;
    AgentTokenMirror m_token;
    AgentRuntimeMirror m_runtime;
    AgentDesktopMirror m_desktop;
    AgentLogMirror m_log;
    std::unique_ptr<AgentChannelPeer> m_peer;
    qint64 m_sequence = 0;
    bool m_greeted = false;
    bool m_ready = false;
    bool m_ended = false;
    int m_answerMilliseconds;
    quint64 m_lastRequest = 0;
    QSet<quint64> m_unanswered;
    QString m_keeperBanner;
    QString m_ownBanner;
    QTimer m_ownBannerTime;
};

} // namespace kestro::companion
