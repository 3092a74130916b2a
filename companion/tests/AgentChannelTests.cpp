// The channel between the keeper and its window, both ends real (AgentWindowChannel serving an
// AgentKeeper, AgentKeeperLink with its mirrors) and raw sockets standing in for a window or a
// keeper that misbehaves.

#include "AgentChannel.h"
#include "AgentKeeper.h"
#include "AgentKeeperLink.h"
#include "AgentPlatformTexts.h"
#include "AgentPrivateFolder.h"
#include "AgentWindowChannel.h"
#include "support/FakeRuntime.h"
#include "support/MemorySecretStore.h"

#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

constexpr int kDeadline = 15000;

// A raw client of the keeper's channel: what it sent and every message it got.
class RawPeer {
  public:
    explicit RawPeer(const QString& path) {
        m_socket.connectToServer(path);
        m_socket.waitForConnected(kDeadline);
    }
    QLocalSocket& socket() { return m_socket; }
    void send(const QByteArray& line) {
        m_socket.write(line);
        m_socket.flush();
    }
    // The messages received so far.
    QList<QJsonObject> messages() {
        while (m_socket.canReadLine())
            m_received << QJsonDocument::fromJson(m_socket.readLine()).object();
        return m_received;
    }
    bool hasMessageOf(const char* type) {
        for (const QJsonObject& message : messages())
            if (message.value("type").toString() == QLatin1String(type)) return true;
        return false;
    }
    bool isConnected() const { return m_socket.state() == QLocalSocket::ConnectedState; }

  private:
    QLocalSocket m_socket;
    QList<QJsonObject> m_received;
};

} // namespace

class AgentChannelTests : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<AgentKeeper> m_keeper;
    std::unique_ptr<AgentWindowChannel> m_channel;

    QString path(const QString& relative) const { return m_folder->filePath(relative); }
    QString channelPath() const { return path("private/window.socket"); }
    FakeRuntime runtime() const { return FakeRuntime(m_folder->path()); }

    void serve() {
        QDir().mkpath(path("work"));
        QVERIFY(preparePrivateFolder({path("private")}).has_value());
        m_keeper = std::make_unique<AgentKeeper>(AgentKeeperServices{
            .settings = std::make_unique<QSettings>(path("settings.ini"), QSettings::IniFormat),
            .secretStore = std::make_unique<MemorySecretStore>(),
            .runtimeSearch = [this] { return RuntimeSearch{.runtimeVariable = runtime().executable()}; },
            .environment = {},
            .openURL = [](const QUrl&) {},
            .defaults = {.machineName = "Studio",
                         .host = "0.0.0.0",
                         .port = "8787",
                         .advertisedHost = "",
                         .workingDirectory = path("work")}});
        m_channel = std::make_unique<AgentWindowChannel>(*m_keeper);
        QCOMPARE(m_channel->listen(channelPath()), QString());
        QTRY_VERIFY_WITH_TIMEOUT(m_keeper->token().isReady(), kDeadline);
    }

  private slots:
    void init() { m_folder = std::make_unique<QTemporaryDir>(); }
    void cleanup() {
        m_channel.reset();
        m_keeper.reset();
    }

    // A window gets the snapshot, numbered from 1, then each change; what it asks is done.
    void theWindowFollowsTheKeeperAndItsRequestsAreDone() {
        QVERIFY(runtime().write(FakeRuntime::banner(path("page.html")) + "exec sleep 60\n"));
        QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(path("page.png")));
        serve();
        m_keeper->log().append("before the window");
        AgentKeeperLink link;
        QSignalSpy ready(&link, &AgentKeeperLink::ready);
        link.connectTo(channelPath());
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, kDeadline);
        QCOMPARE(link.settings()->machineName(), QStringLiteral("Studio"));
        QCOMPARE(link.token()->maskedToken(), m_keeper->token().masked());
        QCOMPARE(link.runtime()->statusText(), QStringLiteral("Stopped"));
        QCOMPARE(link.runtime()->pairLinkText(),
                 QStringLiteral("Waiting for the bridge to publish a pair link."));
        QCOMPARE(qobject_cast<AgentSessionLog*>(link.log()->lines())->lines(),
                 QStringList{"before the window"});

        RawPeer raw(channelPath());
        QTRY_VERIFY_WITH_TIMEOUT(raw.hasMessageOf(channel::kReady), kDeadline);
        const QList<QJsonObject> snapshot = raw.messages();
        QCOMPARE(snapshot.first().value("type").toString(), QLatin1String(channel::kHello));
        QCOMPARE(snapshot.first().value("version").toInt(), channel::kVersion);
        for (int i = 0; i < snapshot.size(); ++i)
            QCOMPARE(snapshot[i].value("seq").toInteger(), i + 1);

        link.runtime()->start();
        QTRY_COMPARE_WITH_TIMEOUT(link.runtime()->statusText(), QStringLiteral("Running"), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(link.runtime()->pairLink(), QStringLiteral("kestro://pair?name=Studio"),
                                  kDeadline);
        QCOMPARE(link.runtime()->pairImageURL(), QUrl::fromLocalFile(path("page.png")));
        QCOMPARE(link.runtime()->stateColor(), stateColor(AgentRuntimeState::running));
        QTRY_COMPARE_WITH_TIMEOUT(qobject_cast<AgentSessionLog*>(link.log()->lines())->lines(),
                                  m_keeper->log().lines(), kDeadline);
        link.runtime()->copyPairLink();
        QTRY_COMPARE_WITH_TIMEOUT(link.bannerMessage(), QStringLiteral("Pair link copied"), kDeadline);
        link.runtime()->stop();
        QTRY_VERIFY_WITH_TIMEOUT(link.runtime()->down(), kDeadline);
        QCOMPARE(link.runtime()->nextStep(), QStringLiteral("Press Start to serve it again."));
        // Ctrl+Q in the window quits the keeper.
        QSignalSpy quit(m_channel.get(), &AgentWindowChannel::quitRequested);
        link.quit();
        QTRY_COMPARE_WITH_TIMEOUT(quit.count(), 1, kDeadline);
        // The raw peer saw the same, every message numbered in turn.
        const QList<QJsonObject> all = raw.messages();
        for (int i = 0; i < all.size(); ++i)
            QCOMPARE(all[i].value("seq").toInteger(), i + 1);
    }

    // Typing is shown at once and saved; an older echo never takes a character back.
    void editsAreSavedAndNeverUndoneByAnOlderEcho() {
        serve();
        AgentKeeperLink link;
        link.connectTo(channelPath());
        QTRY_VERIFY_WITH_TIMEOUT(link.isReady(), kDeadline);
        AgentSettingsMirror& settings = *link.settings();
        QStringList shown;
        connect(&settings, &AgentSettingsMirror::changed, this, [&] { shown << settings.machineName(); });
        for (const char* typed : {"S", "St", "Stu", "Stud"}) {
            settings.setMachineName(typed);
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_keeper->settings().field("machineName"), QStringLiteral("Stud"),
                                  kDeadline);
        QTest::qWait(200);
        QCOMPARE(shown, (QStringList{"S", "St", "Stu", "Stud"}));
        // A blank name is the keeper's to judge.
        settings.setMachineName(" ");
        QTRY_COMPARE_WITH_TIMEOUT(settings.validationMessage(), platformTexts().machineNameMissing,
                                  kDeadline);
        settings.chooseWorkspace(QUrl("https://example.com/"));
        settings.chooseWorkspace(QUrl::fromLocalFile(path("work")));
        QTRY_COMPARE_WITH_TIMEOUT(m_keeper->settings().field("workingDirectory"), path("work"), kDeadline);
    }

    // A peer that breaks the protocol is let go; the keeper serves on, and a request it does not
    // know is refused with a reason.
    void aPeerThatBreaksTheProtocolIsLetGo() {
        QVERIFY(runtime().write("exec sleep 60\n"));
        serve();
        RawPeer endless(channelPath());
        endless.send(QByteArray(AgentChannelPeer::kMaximumLineBytes + 10, 'x'));
        RawPeer garbled(channelPath());
        garbled.send("not json\n");
        RawPeer nameless(channelPath());
        nameless.send(R"({"request":"start"})"
                      "\n");
        RawPeer asking(channelPath());
        asking.send(R"({"id":7,"request":"sing"})"
                    "\n");
        for (RawPeer* dropped : {&endless, &garbled, &nameless})
            QTRY_VERIFY_WITH_TIMEOUT(!dropped->isConnected(), kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(asking.hasMessageOf(channel::kReply), kDeadline);
        QCOMPARE(asking.messages().last().value("error").toString(),
                 QStringLiteral("There is no such request."));
        QVERIFY(asking.isConnected());
        QCOMPARE(m_keeper->runtime().state(), AgentRuntimeState::stopped);

        // One that stops reading is let go once its unread messages pass the bound.
        RawPeer deaf(channelPath());
        // This process takes in no more than a byte for it: the rest waits in the system, then in
        // the keeper.
        deaf.socket().setReadBufferSize(1);
        QTRY_VERIFY_WITH_TIMEOUT(m_channel->windowCount() == 2, kDeadline);
        const QString longLine(60 * 1024, QLatin1Char('L'));
        for (int i = 0; i < 300 && deaf.isConnected(); ++i) {
            m_keeper->log().append(longLine);
            QCoreApplication::processEvents();
            asking.messages();
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_channel->windowCount() == 1, kDeadline);
        // The keeper still serves: the reading peer asks and is answered.
        asking.send(R"({"id":8,"request":"start"})"
                    "\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_keeper->runtime().hasProcess(), true, kDeadline);
        m_keeper->runtime().stop();
    }

    // The window's side: a keeper that is not private, speaks out of order or of another version,
    // or does not answer, ends the link or is said not to answer.
    void theWindowTrustsOnlyItsOwnKeeper() {
        QTemporaryDir open;
        ::chmod(QFile::encodeName(open.path()).constData(), 0755);
        AgentKeeperLink exposed;
        QSignalSpy exposedLost(&exposed, &AgentKeeperLink::lost);
        exposed.connectTo(open.filePath("window.socket"));
        QTRY_COMPARE_WITH_TIMEOUT(exposedLost.count(), 1, kDeadline);
        QVERIFY(exposedLost.first().first().toString().contains("may be entered by other users"));

        QVERIFY(preparePrivateFolder({path("private")}).has_value());
        QLocalServer fake;
        QVERIFY(fake.listen(channelPath()));
        const auto keeperSays = [&](AgentKeeperLink& link, const QList<QByteArray>& lines) {
            link.connectTo(channelPath());
            QVERIFY(fake.waitForNewConnection(kDeadline));
            QLocalSocket* window = fake.nextPendingConnection();
            for (const QByteArray& line : lines)
                window->write(line + '\n');
            window->flush();
        };
        const QByteArray hello =
            QStringLiteral(R"({"seq":1,"type":"hello","version":%1})").arg(channel::kVersion).toUtf8();
        AgentKeeperLink skipped;
        QSignalSpy skippedLost(&skipped, &AgentKeeperLink::lost);
        keeperSays(skipped, {hello, R"({"seq":3,"type":"ready"})"});
        QTRY_COMPARE_WITH_TIMEOUT(skippedLost.count(), 1, kDeadline);
        QCOMPARE(skippedLost.first().first().toString(), QStringLiteral("a message out of order"));

        AgentKeeperLink older;
        QSignalSpy olderLost(&older, &AgentKeeperLink::lost);
        keeperSays(older, {R"({"seq":1,"type":"hello","version":0})"});
        QTRY_COMPARE_WITH_TIMEOUT(olderLost.count(), 1, kDeadline);
        QCOMPARE(olderLost.first().at(1).toBool(), true);

        AgentKeeperLink waiting(300);
        keeperSays(waiting, {hello, R"({"seq":2,"type":"ready"})"});
        QTRY_VERIFY_WITH_TIMEOUT(waiting.isReady(), kDeadline);
        QSignalSpy answered(&waiting, &AgentKeeperLink::answered);
        waiting.runtime()->start();
        QTRY_COMPARE_WITH_TIMEOUT(answered.count(), 1, kDeadline);
        QCOMPARE(answered.first().at(1).toString(), QStringLiteral("no answer"));
        QCOMPARE(waiting.bannerMessage(), QStringLiteral("kestro Agent does not answer"));
    }
};

QTEST_MAIN(AgentChannelTests)
#include "AgentChannelTests.moc"
