// The real window (offscreen) over a view model driven through its states by fake runtimes,
// checked through the object tree.

#include "AgentKeychainStore.h"
#include "KestroAgentApp.h"
#include "support/FakeRuntime.h"
#include "support/MemorySecretStore.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

constexpr int kDeadline = 20000;

// Every warning that names the window's QML, collected for the whole run.
QStringList g_qmlWarnings;
QtMessageHandler g_previousHandler = nullptr;

void collectQmlWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtDebugMsg && type != QtInfoMsg && message.contains(QLatin1String("qrc:/KestroAgent")))
        g_qmlWarnings << message;
    g_previousHandler(type, context, message);
}

} // namespace

class AgentWindowTests : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<KestroAgentApp> m_app;

    QString path(const QString& relative) const { return m_folder->filePath(relative); }
    FakeRuntime runtime() const { return FakeRuntime(m_folder->path()); }

    // The application over the test's settings, runtime and secret store (a settled one in memory
    // unless the test brings its own).
    void launchApp(std::unique_ptr<AgentSecretStore> store = nullptr) {
        QDir().mkpath(path("work"));
        AgentViewModelServices services{
            .settings = std::make_unique<QSettings>(path("settings.ini"), QSettings::IniFormat),
            .secretStore = store ? std::move(store) : std::make_unique<MemorySecretStore>(),
            .runtimeSearch = [this] { return RuntimeSearch{.runtimeVariable = runtime().executable()}; },
            .environment = QProcessEnvironment::systemEnvironment(),
            .openURL = [](const QUrl&) {},
            .defaults = {.machineName = "Studio",
                         .host = "0.0.0.0",
                         .port = "8787",
                         .advertisedHost = "",
                         .workingDirectory = path("work")}};
        m_app = std::make_unique<KestroAgentApp>(std::move(services));
        QVERIFY(m_app->window() != nullptr);
    }

    AgentViewModel& model() { return m_app->viewModel(); }

    QObject* item(const char* name) const {
        QObject* found = m_app->window()->findChild<QObject*>(QLatin1String(name));
        if (found == nullptr) qWarning("no item named %s", name);
        return found;
    }
    QString tokenHelp() const {
        return item("tokenField")->findChild<QObject*>("help")->property("text").toString();
    }
    bool enabled(const char* name) const { return item(name)->property("enabled").toBool(); }
    bool visible(const char* name) const { return item(name)->property("visible").toBool(); }
    QString badge() const { return item("statusBadge")->property("text").toString(); }
    QString pairLinkShown() const {
        return item("pairLinkRow")->findChild<QObject*>("value")->property("text").toString();
    }

    // The text and placeholder of every item in the window, shown or not.
    QStringList textsShown() const {
        QStringList texts;
        for (const QObject* object : m_app->window()->findChildren<QObject*>())
            for (const char* property : {"text", "placeholderText"})
                if (const QVariant value = object->property(property); value.typeId() == QMetaType::QString)
                    texts << value.toString();
        return texts;
    }

    // A page the preview can show, with a marker the test can look for.
    QString writePage(const QString& name) const {
        QFile page(path(name));
        if (page.open(QIODevice::WriteOnly))
            page.write("<html><body style='color:white'>pairing page</body></html>");
        return page.fileName();
    }

  private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(collectQmlWarnings); }

    void init() { m_folder = std::make_unique<QTemporaryDir>(); }

    void cleanup() {
        if (m_app) model().stop();
        m_app.reset();
    }

    void theWindowFollowsTheRuntimeThroughItsStates() {
        const QString page = writePage("page.html");
        // Starting until the test says go; then the banner; then running until stopped.
        QVERIFY(runtime().write(QStringLiteral("while [ ! -f '%1' ]; do sleep 0.05; done\n").arg(path("go")) +
                                FakeRuntime::banner(page) + "exec sleep 60\n"));
        launchApp();
        QCOMPARE(m_app->window()->width(), 1180);
        QCOMPARE(m_app->window()->height(), 860);
        QCOMPARE(m_app->window()->minimumWidth(), 910);

        // The window's appearance started the runtime.
        QTRY_COMPARE_WITH_TIMEOUT(runtime().launches(), 1, kDeadline);
        QCOMPARE(badge(), QStringLiteral("Starting"));
        QCOMPARE(item("statusBadge")->property("tint").value<QColor>(), QColor::fromRgbF(0.56f, 0.71f, 1.0f));
        QVERIFY(!enabled("restartButton"));
        // A runtime still starting can be stopped.
        QVERIFY(!visible("startButton"));
        QVERIFY(visible("stopButton"));
        QCOMPARE(pairLinkShown(), QStringLiteral("Waiting for the bridge to publish a pair link."));
        QVERIFY(!enabled("copyPairLinkButton"));
        QVERIFY(!enabled("openPairingPageButton"));
        QVERIFY(visible("previewPlaceholder"));

        QFile go(path("go"));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Running"), kDeadline);
        QVERIFY(visible("stopButton"));
        QVERIFY(!visible("startButton"));
        QVERIFY(enabled("restartButton"));
        QTRY_COMPARE_WITH_TIMEOUT(pairLinkShown(), QStringLiteral("kestro://pair?name=Studio"), kDeadline);
        QVERIFY(enabled("copyPairLinkButton"));
        QVERIFY(enabled("openInBrowserButton"));
        QCOMPARE(item("machineSummary")->property("text").toString(),
                 QStringLiteral("Studio · IP: 10.0.0.2"));
        QTRY_VERIFY_WITH_TIMEOUT(!visible("previewPlaceholder"), kDeadline);

        model().stop();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Stopped"), kDeadline);
        QVERIFY(visible("startButton"));
        QVERIFY(enabled("startButton"));
        QVERIFY(!visible("validationWarning"));

        // Typing into the field edits and saves the settings.
        QObject* nameField = item("machineNameField")->property("field").value<QObject*>();
        QVERIFY(nameField != nullptr);
        nameField->setProperty("text", "");
        QMetaObject::invokeMethod(item("machineNameField"), "edited", Q_ARG(QString, QString()));
        QCOMPARE(model().machineName(), QString());
        QVERIFY(visible("validationWarning"));
        QCOMPARE(item("validationText")->property("text").toString(), platformTexts().machineNameMissing);
        QVERIFY(!enabled("startButton"));
        model().start();
        QCOMPARE(badge(), QStringLiteral("Needs attention"));
    }

    void validationIsCheckedAgainAtEachStartAndWhenTheWindowTurnsActive() {
        QVERIFY(runtime().write("exec sleep 60\n"));
        launchApp();
        QTRY_COMPARE_WITH_TIMEOUT(runtime().launches(), 1, kDeadline);
        // The workspace goes away behind the companion's back.
        QVERIFY(QDir(path("work")).removeRecursively());
        model().stop();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Stopped"), kDeadline);
        model().start();
        QCOMPARE(badge(), QStringLiteral("Needs attention"));
        QVERIFY(visible("validationWarning"));
        QCOMPARE(item("validationText")->property("text").toString(), platformTexts().workspaceMissing);
        QVERIFY(!enabled("startButton"));
        // It is back, and the user returns to the window.
        QVERIFY(QDir().mkpath(path("work")));
        QWindow elsewhere;
        elsewhere.show();
        elsewhere.requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(!m_app->window()->isActive(), kDeadline);
        m_app->window()->requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(m_app->window()->isActive(), kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(enabled("startButton"), kDeadline);
        QVERIFY(!visible("validationWarning"));
    }

    void theLogShowsTheLatest220Lines() {
        QVERIFY(runtime().write(
            "i=1; while [ $i -le 221 ]; do echo \"line $i\"; i=$((i+1)); done\nexec sleep 60\n"));
        launchApp();
        QTRY_COMPARE_WITH_TIMEOUT(model().logLines().value(219), QStringLiteral("line 221"), kDeadline);
        QObject* log = item("logView");
        QCOMPARE(log->property("count").toInt(), 220);
        QCOMPARE(log->property("model").toStringList().first(), QStringLiteral("line 2"));
    }

    void theSamePageIsNotLoadedTwice() {
        const QString page = writePage("page.html");
        QVERIFY(runtime().write(FakeRuntime::banner(page) + "exec sleep 60\n"));
        launchApp();
        QTRY_VERIFY_WITH_TIMEOUT(m_app->window()->findChild<QObject*>("pairPagePreview") != nullptr,
                                 kDeadline);
        QObject* preview = item("pairPagePreview");
        QTRY_VERIFY_WITH_TIMEOUT(preview->property("loaded").toBool(), kDeadline);
        QCOMPARE(preview->property("loadCount").toInt(), 1);
        QCOMPARE(preview->property("loadedURL").toUrl(), QUrl::fromLocalFile(page));

        QMetaObject::invokeMethod(preview, "show", Q_ARG(QUrl, QUrl::fromLocalFile(page)));
        QTest::qWait(300);
        QCOMPARE(preview->property("loadCount").toInt(), 1);
        // Another location is loaded, which shows the count does move.
        const QString other = writePage("other.html");
        QMetaObject::invokeMethod(preview, "show", Q_ARG(QUrl, QUrl::fromLocalFile(other)));
        QTRY_COMPARE_WITH_TIMEOUT(preview->property("loadCount").toInt(), 2, kDeadline);
    }

    void onLinuxNoTextSpeaksOfTheMacOrItsKeychain() {
        // No runtime to start yet: the start says where it looked.
        launchApp();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Needs attention"), kDeadline);
        const QString missing = model().lastEvent();
        QVERIFY2(missing.contains(runtime().executable()) && missing.contains("KESTRO_AGENT_RUNTIME"),
                 qPrintable(missing));
        QStringList shown = textsShown();
        // Every validation message, then a runtime whose page could not be written.
        model().setMachineName(" ");
        shown << textsShown();
        model().setWorkingDirectory(path("nowhere"));
        shown << textsShown();
        model().setWorkingDirectory(path("work"));
        model().setMachineName("Studio");
        QVERIFY(runtime().write("echo 'Pair Page: unavailable'\nexec sleep 60\n"));
        model().start();
        QTRY_VERIFY_WITH_TIMEOUT(model().logLines().contains("Pair Page: unavailable"), kDeadline);
        shown << textsShown();
        shown << AgentSecretStoreError(AgentSecretStoreError::Case::saveFailed, 7).description()
              << AgentSecretStoreError(AgentSecretStoreError::Case::loadFailed, 7).description()
              << AgentSecretStoreError(AgentSecretStoreError::Case::deleteFailed, 7).description();
        static const QRegularExpression macWords(QStringLiteral("\\bMac\\b|Mac-|Keychain|/Users/"));
        for (const QString& text : shown)
            QVERIFY2(!text.contains(macWords), qPrintable(text));
        QVERIFY(shown.contains("Give this computer a machine name so the QR pairing page reads clearly."));
        QVERIFY(shown.contains("The pairing page could not be generated on this computer."));
        QVERIFY(shown.contains("Stored in the login keyring and reused across launches."));
    }

    void withoutASecretServiceTheTokenIsKeptForTheSessionAndSaidToBe() {
        // No D-Bus session here: the real store fails. The runtime starts all the same, and no
        // launch claims the token was stored.
        QVERIFY(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"));
        QVERIFY(runtime().write(FakeRuntime::banner(writePage("page.html")) + "exec sleep 60\n"));
        const QString sessionOnly = QStringLiteral("Kept for this session only. ");
        const QString readFailure = platformTexts().loadFailed.left(platformTexts().loadFailed.indexOf("%1"));
        for (int launch = 0; launch < 2; ++launch) {
            launchApp(
                std::make_unique<AgentKeychainStore>(QString::fromLatin1(AgentViewModel::kSecretService)));
            QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Running"), kDeadline);
            QCOMPARE(runtime().launchFile("launch", launch).mid(4, 2),
                     (QStringList{"--token", model().currentToken()}));
            const QString note = tokenHelp();
            // With the Secret Service's own words for why.
            QVERIFY2(note.startsWith(sessionOnly + readFailure) && note.contains("D-Bus"), qPrintable(note));
            QVERIFY(model().logLines().contains("token: " + note.mid(sessionOnly.size())));
            model().stop();
            QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Stopped"), kDeadline);
            m_app.reset();
        }
    }

    void cleanupTestCase() {
        qInstallMessageHandler(g_previousHandler);
        QVERIFY2(g_qmlWarnings.isEmpty(), qPrintable(g_qmlWarnings.join('\n')));
    }
};

int main(int argc, char** argv) {
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    AgentWindowTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "AgentWindowTests.moc"
