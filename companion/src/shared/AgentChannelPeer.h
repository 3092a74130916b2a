#pragma once
// One end of the channel between the keeper and its window (AgentChannel.h): JSON objects, one
// per line. Both sides bound what the other can make them hold: a line longer than
// kMaximumLineBytes, or one that is not a JSON object, ends the connection (whoever sends it is
// not the program at the other end), and so does a peer that lets more than kMaximumBacklogBytes
// of unread messages pile up. GUI thread only.

#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <memory>

namespace kestro::companion {

class AgentChannelPeer : public QObject {
    Q_OBJECT

  public:
    // The longest message: a log line is at most 64 KiB, and JSON may write each byte as six.
    static constexpr qint64 kMaximumLineBytes = 1024 * 1024;
    static constexpr qint64 kMaximumBacklogBytes = 16 * 1024 * 1024;
    // The reason `closed` gives when the other end ended the connection.
    static constexpr char kClosedByPeer[] = "the other end closed the connection";

    // Takes over `socket` (connected, or connecting).
    explicit AgentChannelPeer(std::unique_ptr<QLocalSocket> socket, QObject* parent = nullptr);
    ~AgentChannelPeer() override;

    bool isConnected() const { return m_socket->state() == QLocalSocket::ConnectedState; }
    // Queues one message; a peer that reads too little to keep up is let go.
    void send(const QJsonObject& message);
    // Ends the connection; `closed` follows unless it was already closed.
    void close(const QString& reason);

  signals:
    void connected();
    void received(const QJsonObject& message);
    // Once, when the connection has ended or could not be made; `reason` says why.
    void closed(const QString& reason);

  private:
    void read();

    std::unique_ptr<QLocalSocket> m_socket;
    bool m_closed = false;
};

} // namespace kestro::companion
