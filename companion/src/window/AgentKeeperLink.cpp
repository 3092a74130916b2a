#include "AgentKeeperLink.h"

#include "AgentChannel.h"
#include "AgentPrivateFolder.h"

#include <QFileInfo>

namespace kestro::companion {

AgentKeeperLink::AgentKeeperLink(int answerMilliseconds, QObject* parent)
    : QObject(parent), m_settings(*this), m_token(*this), m_runtime(*this), m_desktop(*this),
      m_answerMilliseconds(answerMilliseconds) {
    m_ownBannerTime.setSingleShot(true);
    m_ownBannerTime.setInterval(kBannerMilliseconds);
    connect(&m_ownBannerTime, &QTimer::timeout, this, [this] { showOwnBanner(QString()); });
}

AgentKeeperLink::~AgentKeeperLink() {
    if (m_peer) m_peer->disconnect(this);
}

void AgentKeeperLink::connectTo(const QString& path) {
    // Only a socket in a folder nobody else can enter is the keeper's: anyone else's would show
    // their pairing code here, or read what the window sends.
    if (const QString problem = privateFolderProblem(QFileInfo(path).path()); !problem.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, problem] { end(problem); }, Qt::QueuedConnection);
        return;
    }
    auto socket = std::make_unique<QLocalSocket>();
    QLocalSocket& connecting = *socket;
    m_peer = std::make_unique<AgentChannelPeer>(std::move(socket));
    connect(m_peer.get(), &AgentChannelPeer::received, this, &AgentKeeperLink::handle);
    connect(m_peer.get(), &AgentChannelPeer::closed, this, [this](const QString& reason) { end(reason); });
    connecting.connectToServer(path);
}

quint64 AgentKeeperLink::request(const char* name, QJsonObject fields) {
    const quint64 id = ++m_lastRequest;
    fields.insert(QStringLiteral("id"), double(id));
    fields.insert(QStringLiteral("request"), QLatin1String(name));
    m_unanswered.insert(id);
    if (m_peer) m_peer->send(fields);
    QTimer::singleShot(m_answerMilliseconds, this, [this, id] {
        if (!m_unanswered.remove(id)) return;
        showOwnBanner(QStringLiteral("kestro Agent does not answer"));
        emit answered(id, QStringLiteral("no answer"));
    });
    return id;
}

void AgentKeeperLink::handle(const QJsonObject& message) {
    if (m_ended) return;
    if (message.value(QStringLiteral("seq")).toInteger() != m_sequence + 1) {
        end(QStringLiteral("a message out of order"));
        return;
    }
    ++m_sequence;
    const QString type = message.value(QStringLiteral("type")).toString();
    if (!m_greeted) {
        if (type != QLatin1String(channel::kHello)) {
            end(QStringLiteral("no greeting"));
        } else if (message.value(QStringLiteral("version")).toInt() != channel::kVersion) {
            end(QStringLiteral("the keeper speaks another version"), true);
        } else {
            m_greeted = true;
        }
        return;
    }
    const QJsonObject values = message.value(QStringLiteral("values")).toObject();
    if (type == QLatin1String(channel::kSettings)) {
        m_settings.apply(values);
    } else if (type == QLatin1String(channel::kToken)) {
        m_token.apply(values);
    } else if (type == QLatin1String(channel::kRuntime)) {
        m_runtime.apply(values);
    } else if (type == QLatin1String(channel::kDesktop)) {
        m_desktop.apply(values);
    } else if (type == QLatin1String(channel::kBanner)) {
        const QString banner = message.value(QStringLiteral("message")).toString();
        if (banner == m_keeperBanner) return;
        m_keeperBanner = banner;
        emit bannerMessageChanged();
    } else if (type == QLatin1String(channel::kLogReset)) {
        m_log.log().clear();
    } else if (type == QLatin1String(channel::kLogLine)) {
        m_log.log().append(message.value(QStringLiteral("line")).toString());
    } else if (type == QLatin1String(channel::kReady)) {
        if (!std::exchange(m_ready, true)) emit ready();
    } else if (type == QLatin1String(channel::kRaise)) {
        emit raiseRequested();
    } else if (type == QLatin1String(channel::kReply)) {
        const auto id = quint64(message.value(QStringLiteral("id")).toInteger());
        if (m_unanswered.remove(id)) emit answered(id, message.value(QStringLiteral("error")).toString());
    }
}

void AgentKeeperLink::end(const QString& reason, bool otherVersion) {
    if (std::exchange(m_ended, true)) return;
    if (m_peer) m_peer->close(reason);
    emit lost(reason, otherVersion);
}

void AgentKeeperLink::showOwnBanner(const QString& message) {
    const QString before = bannerMessage();
    m_ownBanner = message;
    if (!message.isEmpty()) m_ownBannerTime.start();
    if (bannerMessage() != before) emit bannerMessageChanged();
}

} // namespace kestro::companion
