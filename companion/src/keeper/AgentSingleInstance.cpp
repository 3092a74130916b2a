#include "AgentSingleInstance.h"

#include "AgentPrivateFolder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::companion {

namespace {

// An instance that is starting listens within moments.
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

QString AgentSingleInstance::socketPath() const {
    return QDir(m_folder).filePath(QStringLiteral("instance.socket"));
}

QString AgentSingleInstance::lockPath() const {
    return QDir(m_folder).filePath(QStringLiteral("instance.lock"));
}

bool AgentSingleInstance::lock() {
    const QByteArray path = QFile::encodeName(lockPath());
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Never through a link, never blocking on a planted pipe; the content means nothing.
        kestro::FileDescriptor file(
            ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
        struct stat status {};
        if (file.isOpen() && ::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode)) {
            if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) {
                m_lock = std::move(file);
                return true;
            }
            if (errno == EWOULDBLOCK) return false; // a living instance holds it
            m_problem = lockPath() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        // Not a plain file (a folder, a link, a pipe): the private folder is this user's alone,
        // so it is damage, not someone else's, and it goes.
        if (QFileInfo(lockPath()).isDir() && !QFileInfo(lockPath()).isSymLink())
            QDir(lockPath()).removeRecursively();
        else
            ::unlink(path.constData());
    }
    m_problem = lockPath() + QStringLiteral(" cannot be made a lock file.");
    return false;
}

AgentSingleInstance::Claim AgentSingleInstance::claim(bool showWindow) {
    m_problem.clear();
    if (const QString problem = privateFolderProblem(m_folder); !problem.isEmpty()) {
        m_problem = problem;
        return Claim::failed;
    }
    const QDeadlineTimer deadline(kSettleMilliseconds);
    do {
        if (lock()) {
            // Holding the lock, no living instance can be listening: a socket there was left by
            // one that is gone.
            QLocalServer::removeServer(socketPath());
            if (m_server.listen(socketPath())) return Claim::first;
            m_problem = m_server.errorString();
            return Claim::failed;
        }
        if (!m_problem.isEmpty()) return Claim::failed;
        if (handOver(showWindow)) return Claim::handedOver;
        // Another instance holds the lock but does not answer yet: it is starting.
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    m_problem = QStringLiteral("Another kestro Agent holds %1 but does not answer.").arg(lockPath());
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
