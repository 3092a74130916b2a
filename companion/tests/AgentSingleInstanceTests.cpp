// The keeper's private folder and its one-instance claim, against what a crash, a damaged disk or
// another user may have left where they live.

#include "AgentPrivateFolder.h"
#include "AgentSingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestro::companion;

namespace {

constexpr uid_t kSomeoneElse = 65534; // nobody

QString makePrivate(const QString& path) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 0700);
    return path;
}

} // namespace

class AgentSingleInstanceTests : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_root;

  private slots:
    // Only a real folder of this user that nobody else may enter counts; the keeper makes one,
    // closes its own that others could enter, and passes over the rest to the next candidate.
    void onlyAFolderOfTheUsersOwnIsPrivate() {
        const QString open = m_root.filePath("open");
        QDir().mkpath(open);
        ::chmod(QFile::encodeName(open).constData(), 0755);
        QVERIFY(privateFolderProblem(open).contains("may be entered by other users (mode 0755)"));
        const QString link = m_root.filePath("link");
        QVERIFY(QFile::link(makePrivate(m_root.filePath("target")), link));
        QVERIFY(privateFolderProblem(link).contains("is not a folder"));
        QVERIFY(privateFolderProblem("relative/folder").contains("is not an absolute path"));
        QVERIFY(privateFolderProblem(m_root.filePath("missing")).contains("No such file"));
        QCOMPARE(privateFolderProblem(m_root.filePath("target")), QString());

        QCOMPARE(privateFolderCandidates("", "/home/me/.cache"),
                 QStringList{"/home/me/.cache/kestro-agent-companion"});
        QCOMPARE(privateFolderCandidates("/run/user/7", "relative"),
                 QStringList{"/run/user/7/kestro-agent-companion"});

        // Another user's folder, and a link, come first; the keeper ends up in the third place.
        const QString taken = m_root.filePath("taken/kestro-agent-companion");
        QDir().mkpath(taken);
        const bool asRoot = ::geteuid() == 0;
        if (asRoot) QCOMPARE(::chown(QFile::encodeName(taken).constData(), kSomeoneElse, kSomeoneElse), 0);
        QDir().mkpath(m_root.filePath("linked"));
        QVERIFY(QFile::link(m_root.filePath("target"), m_root.filePath("linked/kestro-agent-companion")));
        const QString mine = m_root.filePath("mine/kestro-agent-companion");
        QDir().mkpath(mine);
        ::chmod(QFile::encodeName(mine).constData(), 0750);
        QStringList problems;
        const auto chosen = preparePrivateFolder(
            {m_root.filePath("linked/kestro-agent-companion"), asRoot ? taken : link, mine}, &problems);
        QCOMPARE(chosen, std::optional(mine));
        QCOMPARE(problems.size(), 2);
        if (asRoot) QVERIFY(problems[1].contains("belongs to another user (65534)"));
        QCOMPARE(QFileInfo(mine).permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(preparePrivateFolder({m_root.filePath(QString(100, 'x'))}, &problems), std::nullopt);
        QVERIFY(problems.last().contains("too long for a socket path"));
    }

    // Whatever sits where the lock goes (an empty or garbled file, a folder, a dangling link, a
    // pipe) does not keep the keeper from starting: the lock goes with the process that held it.
    void aDamagedLockIsTakenOver() {
        const QString folder = makePrivate(m_root.filePath("damaged"));
        const QString lock = folder + "/instance.lock";
        const QList<std::function<void()>> damages{
            [&] { QFile(lock).open(QIODevice::WriteOnly); },
            [&] {
                QFile file(lock);
                file.open(QIODevice::WriteOnly);
                file.write("\x01\xff garbage that is no process id\n");
            },
            [&] {
                QDir().mkpath(lock + "/inside");
                QFile(lock + "/inside/file").open(QIODevice::WriteOnly);
            },
            [&] { QFile::link(folder + "/nowhere", lock); },
            [&] { ::mkfifo(QFile::encodeName(lock).constData(), 0600); },
        };
        for (const auto& damage : damages) {
            QFile::remove(lock);
            QDir(lock).removeRecursively();
            damage();
            AgentSingleInstance instance(folder);
            QCOMPARE(instance.claim(true), AgentSingleInstance::Claim::first);
            QVERIFY(QFileInfo(lock).isFile() && !QFileInfo(lock).isSymLink());
            QVERIFY(QFileInfo(instance.socketPath()).exists());
        }
        // A folder that is not private is never used.
        const QString open = m_root.filePath("open-instance");
        QDir().mkpath(open);
        ::chmod(QFile::encodeName(open).constData(), 0755);
        AgentSingleInstance refused(open);
        QCOMPARE(refused.claim(true), AgentSingleInstance::Claim::failed);
        QVERIFY(refused.problem().contains("may be entered by other users"));
    }

    // A living holder of the lock is asked, never replaced.
    void aLivingInstanceIsAskedNotReplaced() {
        const QString folder = makePrivate(m_root.filePath("living"));
        AgentSingleInstance first(folder);
        QCOMPARE(first.claim(true), AgentSingleInstance::Claim::first);
        // The second does not wait for an answer this thread cannot give while it asks: taken is
        // handed over.
        AgentSingleInstance second(folder);
        QCOMPARE(second.claim(false), AgentSingleInstance::Claim::handedOver);
        QSignalSpy shown(&first, &AgentSingleInstance::showRequested);
        QLocalSocket asking;
        asking.connectToServer(first.socketPath());
        QVERIFY(asking.waitForConnected(5000));
        asking.write(AgentSingleInstance::kShow);
        QTRY_COMPARE(shown.count(), 1);
    }
};

QTEST_GUILESS_MAIN(AgentSingleInstanceTests)
#include "AgentSingleInstanceTests.moc"
