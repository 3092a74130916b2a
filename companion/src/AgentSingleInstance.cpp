#include "AgentSingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace kestro::companion {

namespace {

const QString kName = QStringLiteral("kestro-agent-companion");
// An instance that is starting listens within moments; one that is ending lets go as quickly.
constexpr int kSettleMilliseconds = 5000;
constexpr int kAnswerMilliseconds = 2000;
// The longest request a peer may send, and how long it may take to send it.
constexpr qint64 kRequestLimit = 16;
constexpr int kPeerMilliseconds = 5000;
const QByteArray kDone = QByteArrayLiteral("ok\n");

} // namespace

AgentSingleInstance::AgentSingleInstance(QString folder, QObject* parent)
    : QObject(parent), m_folder(std::move(folder)) {
    connect(&m_server, &QLocalServer::newConnection, this, &AgentSingleInstance::serve);
}

AgentSingleInstance::~AgentSingleInstance() {
    m_server.close();
}

QString AgentSingleInstance::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString AgentSingleInstance::socketPath() const {
    return QDir(m_folder).filePath(kName + QStringLiteral(".socket"));
}

AgentSingleInstance::Claim AgentSingleInstance::claim(bool showWindow) {
    if (!QDir().mkpath(m_folder)) return Claim::failed;
    m_lock = std::make_unique<QLockFile>(QDir(m_folder).filePath(kName + QStringLiteral(".lock")));
    // Only a living holder counts: the lock of a process that is gone is taken over at once.
    m_lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(kSettleMilliseconds);
    do {
        if (handOver(showWindow)) return Claim::handedOver;
        if (m_lock->tryLock(0)) {
            // Holding the lock, no living instance can be listening: whatever socket is there was
            // left by one that crashed.
            QLocalServer::removeServer(socketPath());
            m_server.setSocketOptions(QLocalServer::UserAccessOption);
            return m_server.listen(socketPath()) ? Claim::first : Claim::failed;
        }
        // Another instance holds the lock but does not answer yet: it is starting or ending.
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return Claim::failed;
}

bool AgentSingleInstance::handOver(bool showWindow) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kAnswerMilliseconds)) return false;
    socket.write(showWindow ? kShow : kKeepRunning);
    if (!socket.waitForBytesWritten(kAnswerMilliseconds)) return false;
    // The answer says the request was handled; an instance that hangs still owns the runtime,
    // so a request it took counts as handed over either way.
    socket.waitForReadyRead(kAnswerMilliseconds);
    return true;
}

void AgentSingleInstance::serve() {
    while (QLocalSocket* peer = m_server.nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        QTimer::singleShot(kPeerMilliseconds, peer, [peer] { peer->abort(); });
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
            if (!peer->canReadLine()) {
                if (peer->bytesAvailable() > kRequestLimit) peer->abort();
                return;
            }
            const QByteArray request = peer->readLine(kRequestLimit + 1);
            if (request == kShow) emit showRequested();
            peer->write(kDone);
            peer->disconnectFromServer();
        });
    }
}

} // namespace kestro::companion
