// The real keeper and window under a real X server (Xvfb, a 1400 × 1000 screen), in one process
// over the real channel: the keeper's own settings and secret store, the runtime built by this
// repository in a throwaway home on a free port, with the pinned Codex CLI on its search path.
// The window, at its default size, is grabbed the moment the runtime's page is known (the QR
// image the runtime wrote shows then, before the web view has the page) and once the web view
// shows it; the QR code in each picture decodes to the printed link. A Codex program chosen in the
// window then reaches the runtime.

#include "AgentKeeper.h"
#include "AgentPrivateFolder.h"
#include "AgentWindowApp.h"
#include "AgentWindowChannel.h"
#include "support/LoopbackHTTP.h"
#include "support/PinnedCodex.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

using namespace kestro::companion;

namespace {

// The QR code in `picture`, decoded; empty when there is none.
QString decoded(const QImage& picture, const QString& path) {
    if (!picture.save(path)) return {};
    QProcess zbar;
    zbar.start("zbarimg", {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", path});
    zbar.waitForFinished(20000);
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

} // namespace

class AgentWindowScreenshotTests : public QObject {
    Q_OBJECT

  private slots:
    void theWindowShowsAPairingQRThatDecodesToThePrintedLink() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "run this under an X server");
        // The settings the user would have chosen: this free port, the home as workspace.
        const QString home = QDir::homePath();
        const uint16_t port = kestro::testing::freePort();
        {
            QSettings settings;
            const AgentLaunchConfiguration configuration{.machineName = "Screenshot Studio",
                                                         .host = "0.0.0.0",
                                                         .port = QString::number(port),
                                                         .advertisedHost = "127.0.0.1",
                                                         .workingDirectory = home};
            settings.setValue(AgentLaunchSettings::kConfigurationKey, configuration.toJson());
        }
        AgentKeeperServices services = AgentKeeper::systemServices();
        // This build's runtime, whatever else is installed on this computer.
        services.runtimeSearch = [] {
            return RuntimeSearch{.runtimeVariable = QStringLiteral(KESTRO_AGENT_BINARY)};
        };
        const QString codexFolder = QFileInfo(QString::fromStdString(kestro::testing::kPinnedCodex)).path();
        services.environment.insert("PATH", codexFolder + ":" + services.environment.value("PATH"));
        AgentKeeper keeper(std::move(services));
        AgentWindowChannel channel(keeper);
        const std::optional<QString> folder = preparePrivateFolder(systemPrivateFolderCandidates());
        QVERIFY(folder.has_value());
        QCOMPARE(channel.listen(*folder + "/window.socket"), QString());
        keeper.runtime().startIfNeeded();
        AgentWindowApp app;
        // The first frame once the keeper has told the window of the page.
        QImage first;
        AgentRuntimeMirror& mirror = *app.link().runtime();
        app.open(*folder + "/window.socket");
        QQuickWindow* window = app.window();
        QVERIFY(window != nullptr);
        connect(window, &QQuickWindow::frameSwapped, this, [&] {
            if (first.isNull() && mirror.hasPairPage() && mirror.pairLink() != QString())
                first = window->grabWindow();
        });
        // The size a new user meets: the default, which fits this screen.
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 20000);
        QCOMPARE(window->size(), QSize(1180, 860));
        AgentRuntimeSupervisor& runtime = keeper.runtime();

        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), AgentRuntimeState::running, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!first.isNull(), 30000);
        QCOMPARE(runtime.codexVersion(), QStringLiteral("codex-cli 0.169.0"));
        // The token came from the real secret store and reached the runtime.
        QVERIFY(runtime.pairLink().contains("token=" + keeper.token().token()));
        QCOMPARE(runtime.pairLink(),
                 keeper.log().lines().filter(QRegularExpression("^Pair Link: ")).value(0).mid(11));
        const QString picture = QStringLiteral(KESTRO_SCREENSHOT_PATH);
        // Before the web view has the page: the runtime's QR image.
        QCOMPARE(decoded(first, picture), runtime.pairLink());

        // The page paints a moment after it has loaded: grab until the QR decodes, all of it on
        // screen without scrolling. (Each try takes a while: the deadline is in time, not tries.)
        QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QObject*>("pairPagePreview") != nullptr, 30000);
        QObject* preview = window->findChild<QObject*>("pairPagePreview");
        QTRY_VERIFY_WITH_TIMEOUT(preview->property("loaded").toBool(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!window->findChild<QObject*>("pairImage")->property("visible").toBool(),
                                 30000);
        QString shown;
        for (const QDeadlineTimer deadline(30000); shown.isEmpty() && !deadline.hasExpired();) {
            QTest::qWait(200);
            shown = decoded(window->grabWindow(), picture);
        }
        QCOMPARE(shown, runtime.pairLink());

        // A Codex program chosen in the window (as its file dialog gives it) reaches the runtime
        // when it starts again: its banner names that program's version, and the window shows it.
        const QString chosen = home + "/chosen-codex";
        QFile program(chosen);
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\n[ \"$1\" = --version ] && echo 'codex-cli 9.9.9-chosen'\nexit 0\n");
        program.close();
        QVERIFY(program.setPermissions(program.permissions() | QFileDevice::ExeOwner));
        app.link().settings()->chooseCodexProgram(QUrl::fromLocalFile(chosen));
        QTRY_COMPARE_WITH_TIMEOUT(keeper.settings().configuration().codexPath, chosen, 20000);
        app.link().runtime()->restart();
        QTRY_COMPARE_WITH_TIMEOUT(mirror.codexVersion(), QStringLiteral("codex-cli 9.9.9-chosen"), 60000);
        QCOMPARE(keeper.log().lines().filter("Codex: ").last(),
                 QStringLiteral("Codex: codex-cli 9.9.9-chosen"));
        runtime.stop();
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), AgentRuntimeState::stopped, 20000);
    }
};

int main(int argc, char** argv) {
    AgentWindowApp::prepareProcess();
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    AgentWindowApp::describeApplication();
    AgentWindowScreenshotTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "AgentWindowScreenshotTests.moc"
