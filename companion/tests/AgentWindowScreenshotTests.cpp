// The real application under a real X server (Xvfb, a 1400 × 1000 screen): its own settings and
// secret store, the runtime built by this repository in a throwaway home on a free port, with the
// pinned Codex CLI on its search path. The window, at its default size, is grabbed once the
// pairing page shows, and the QR code in the picture is decoded.

#include "KestroAgentApp.h"
#include "support/LoopbackHTTP.h"
#include "support/PinnedCodex.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

using namespace kestro::companion;

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
            settings.setValue(AgentViewModel::kConfigurationKey, configuration.toJson());
        }
        AgentViewModelServices services = AgentViewModel::systemServices();
        // This build's runtime, whatever else is installed on this computer.
        services.runtimeSearch = [] {
            return RuntimeSearch{.runtimeVariable = QStringLiteral(KESTRO_AGENT_BINARY)};
        };
        const QString codexFolder = QFileInfo(QString::fromStdString(kestro::testing::kPinnedCodex)).path();
        services.environment.insert("PATH", codexFolder + ":" + services.environment.value("PATH"));
        KestroAgentApp app(std::move(services));
        QQuickWindow* window = app.window();
        QVERIFY(window != nullptr);
        // The size a new user meets: the default, which fits this screen.
        QCOMPARE(window->size(), QSize(1180, 860));
        AgentViewModel& model = app.viewModel();

        QTRY_COMPARE_WITH_TIMEOUT(model.runtimeState(), AgentViewModel::RuntimeState::Running, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(model.hasPairPage(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QObject*>("pairPagePreview") != nullptr, 30000);
        QObject* preview = window->findChild<QObject*>("pairPagePreview");
        QTRY_VERIFY_WITH_TIMEOUT(preview->property("loaded").toBool(), 30000);
        QCOMPARE(model.codexVersion(), QStringLiteral("codex-cli 0.169.0"));
        // The token came from the real secret store and reached the runtime.
        QVERIFY(model.pairLink().contains("token=" + model.currentToken()));
        QCOMPARE(model.pairLink(),
                 model.logLines().filter(QRegularExpression("^Pair Link: ")).value(0).mid(11));

        // The page paints a moment after it has loaded: grab until the QR decodes, all of it on
        // screen without scrolling. (Each try takes a while: the deadline is in time, not tries.)
        const QString picture = QStringLiteral(KESTRO_SCREENSHOT_PATH);
        QString decoded;
        for (const QDeadlineTimer deadline(30000); decoded.isEmpty() && !deadline.hasExpired();) {
            QTest::qWait(200);
            QVERIFY(window->grabWindow().save(picture));
            QProcess zbar;
            zbar.start("zbarimg", {"--raw", "-q", "--nodbus", picture});
            QVERIFY(zbar.waitForFinished(20000));
            decoded = QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
        }
        QCOMPARE(decoded, model.pairLink());
        model.stop();
        QTRY_COMPARE_WITH_TIMEOUT(model.runtimeState(), AgentViewModel::RuntimeState::Stopped, 20000);
    }
};

int main(int argc, char** argv) {
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    KestroAgentApp::describeApplication();
    AgentWindowScreenshotTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "AgentWindowScreenshotTests.moc"
