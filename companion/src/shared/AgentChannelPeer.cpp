#include "AgentChannelPeer.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace kestro::companion {

AgentChannelPeer::AgentChannelPeer(std::unique_ptr<QLocalSocket> socket, QObject* parent)
    : QObject(parent), m_socket(std::move(socket)) {
    // Qt stops taking bytes from the system once this much waits unread: what a peer sends
    // without a line feed can never grow past it.
    m_socket->setReadBufferSize(kMaximumLineBytes + 1);
    connect(m_socket.get(), &QLocalSocket::connected, this, &AgentChannelPeer::connected);
    connect(m_socket.get(), &QLocalSocket::readyRead, this, &AgentChannelPeer::read);
    connect(m_socket.get(), &QLocalSocket::disconnected, this,
            [this] { close(QLatin1String(kClosedByPeer)); });
    connect(m_socket.get(), &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError error) {
        // The end of the other side comes as an error too; its own signal says so.
        if (error != QLocalSocket::PeerClosedError) close(m_socket->errorString());
    });
}

AgentChannelPeer::~AgentChannelPeer() {
    m_socket->disconnect(this);
    m_socket->abort();
}

void AgentChannelPeer::send(const QJsonObject& message) {
    if (m_closed) return;
    if (m_socket->bytesToWrite() > kMaximumBacklogBytes) {
        close(QStringLiteral("the other end stopped reading"));
        return;
    }
    m_socket->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

void AgentChannelPeer::close(const QString& reason) {
    if (m_closed) return;
    m_closed = true;
    m_socket->abort();
    emit closed(reason);
}

void AgentChannelPeer::read() {
    while (!m_closed && m_socket->canReadLine()) {
        const QByteArray line = m_socket->readLine(kMaximumLineBytes + 1);
        if (!line.endsWith('\n')) {
            close(QStringLiteral("a message longer than the channel allows"));
            return;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            close(QStringLiteral("a message that is not a JSON object"));
            return;
        }
        emit received(document.object());
    }
    if (!m_closed && m_socket->bytesAvailable() > kMaximumLineBytes)
        close(QStringLiteral("a message longer than the channel allows"));
}

} // namespace kestro::companion
