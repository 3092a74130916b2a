// The real window (offscreen) over a real keeper, in one process and over the real channel, the
// keeper driven through its states by fake runtimes; checked through the window's object tree.

#include "AgentKeychainStore.h"
#include "AgentPlatformTexts.h"
#include "support/FakeRuntime.h"
#include "support/KeeperAndWindow.h"

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
    KeeperAndWindow m_world;

    QString path(const QString& relative) const { return m_folder->filePath(relative); }
    FakeRuntime runtime() const { return FakeRuntime(m_folder->path()); }

    // The keeper over the test's settings, runtime and secret store (a settled one in memory
    // unless the test brings its own), which starts the runtime, and the window over it.
    void launchApp(std::unique_ptr<AgentSecretStore> store = nullptr) {
        const QString failed = m_world.open(
            QDir(m_folder->path()), runtime().executable(), [](const QUrl&) {}, std::move(store));
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QTRY_VERIFY_WITH_TIMEOUT(m_world.app->window()->isVisible(), kDeadline);
    }

    void closeApp() { m_world.close(); }

    AgentRuntimeSupervisor& supervisor() { return m_world.keeper->runtime(); }

    QObject* item(const char* name) const {
        QObject* found = m_world.app->window()->findChild<QObject*>(QLatin1String(name));
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
    QString validationText() const { return item("validationWarning")->property("text").toString(); }

    // Whether all of `shown` is within what the window's scrolling area shows.
    bool inView(const QQuickItem* shown) const {
        const auto* flickable = item("windowScroller")->property("contentItem").value<QQuickItem*>();
        const QRectF area = shown->mapRectToItem(flickable, shown->boundingRect());
        return area.top() >= 0 && area.bottom() <= flickable->height();
    }

    // Turns the mouse wheel over the middle of `item` by `notches` (positive: up, towards the top).
    void turnWheel(QQuickItem* item, int notches) const {
        const QPointF at = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QWheelEvent wheel(at, m_world.app->window()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        // Each turn a moment after the last, as a hand turns it.
        static quint64 timestamp = 0;
        timestamp += 1000;
        wheel.setTimestamp(timestamp);
        QGuiApplication::sendEvent(m_world.app->window(), &wheel);
    }

    // The text item of the log's row `row`, while the view has built it.
    static QQuickItem* logLine(QObject* view, int row) {
        QQuickItem* delegate = nullptr;
        QMetaObject::invokeMethod(view, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, delegate), Q_ARG(int, row));
        return delegate != nullptr ? delegate->findChild<QQuickItem*>("line") : nullptr;
    }

    // Whether every word of a text item that fits on a line sits on one line.
    static bool wrapsBetweenWords(QQuickItem* text) {
        const QString value = text->property("text").toString();
        const auto top = [text](qsizetype position) {
            QRectF rectangle;
            QMetaObject::invokeMethod(text, "positionToRectangle", Q_RETURN_ARG(QRectF, rectangle),
                                      Q_ARG(int, int(position)));
            return rectangle.top();
        };
        static const QRegularExpression word(QStringLiteral("\\S+"));
        for (const QRegularExpressionMatch& match : word.globalMatch(value))
            if (match.capturedLength() < 30 && top(match.capturedStart()) != top(match.capturedEnd() - 1))
                return false;
        return true;
    }

    // The text and placeholder of every item in the window, shown or not.
    QStringList textsShown() const {
        QStringList texts;
        for (const QObject* object : m_world.app->window()->findChildren<QObject*>())
            for (const char* property : {"text", "placeholderText"})
                if (const QVariant value = object->property(property); value.typeId() == QMetaType::QString)
                    texts << value.toString();
        return texts;
    }

    // A page the preview can show, with a marker the test can look for, `height` pixels tall
    // when given.
    QString writePage(const QString& name, int height = 0) const {
        QFile page(path(name));
        if (page.open(QIODevice::WriteOnly))
            page.write(QStringLiteral("<html><body style='color:white;%1'>pairing page</body></html>")
                           .arg(height > 0 ? QStringLiteral("height:%1px").arg(height) : QString())
                           .toUtf8());
        return page.fileName();
    }

  private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(collectQmlWarnings); }

    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        // Each window opens as a first one would, wherever an earlier one was left.
        QSettings().remove(AgentWindowPlacement::kGeometryKey);
        QSettings().remove(AgentWindowPlacement::kMaximizedKey);
        qputenv("XDG_CONFIG_HOME", path("config").toUtf8());
    }

    void cleanup() {
        if (m_world.keeper) supervisor().stop();
        closeApp();
    }

    void theWindowFollowsTheRuntimeThroughItsStates() {
        const QString page = writePage("page.html");
        // Starting until the test says go; then the banner; then running until stopped.
        QVERIFY(runtime().write(QStringLiteral("while [ ! -f '%1' ]; do sleep 0.05; done\n").arg(path("go")) +
                                FakeRuntime::banner(page) + "exec sleep 60\n"));
        launchApp();
        // The default size (1180 × 860) within the free area of this small screen (Qt's offscreen
        // one), where the cards stand in one column.
        const QSize available = m_world.app->window()->screen()->availableGeometry().size();
        QVERIFY(available.width() < 910 && available.height() < 860);
        QCOMPARE(m_world.app->window()->minimumWidth(), 468);
        QCOMPARE(m_world.app->window()->size(), available);

        // Every setting's row ends at the same right edge: its field's, or its last button's.
        for (QQuickItem* setting : m_world.app->window()->findChildren<QQuickItem*>()) {
            auto* field = setting->property("field").value<QQuickItem*>();
            if (field == nullptr) continue;
            QList<QQuickItem*> controls{field};
            for (QQuickItem* row : field->parentItem()->childItems())
                controls << row->childItems();
            qreal right = 0;
            for (const QQuickItem* control : controls)
                if (control->isVisible())
                    right = std::max(right, control->mapToItem(setting, QPointF(control->width(), 0)).x());
            QCOMPARE(right, setting->width());
        }

        // The keeper started the runtime.
        QTRY_COMPARE_WITH_TIMEOUT(runtime().launches(), 1, kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Starting"), kDeadline);
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

        QVERIFY(!visible("bridgeDown"));

        // The stop button asks the keeper. The code shown is dimmed: it leads nowhere now.
        QMetaObject::invokeMethod(item("stopButton"), "clicked");
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Stopped"), kDeadline);
        QVERIFY(visible("startButton"));
        QVERIFY(enabled("startButton"));
        QVERIFY(!visible("validationWarning"));
        QVERIFY(visible("bridgeDown"));
        QCOMPARE(item("downReason")->property("text").toString(), QStringLiteral("The bridge stopped."));
        QCOMPARE(item("nextStep")->property("text").toString(),
                 QStringLiteral("Press Start to serve it again."));

        // Typing into the field edits and saves the settings.
        QObject* nameField = item("machineNameField")->property("field").value<QObject*>();
        QVERIFY(nameField != nullptr);
        nameField->setProperty("text", "");
        QMetaObject::invokeMethod(item("machineNameField"), "edited", Q_ARG(QString, QString()));
        QTRY_COMPARE_WITH_TIMEOUT(m_world.keeper->settings().field("machineName"), QString(), kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(visible("validationWarning"), kDeadline);
        QCOMPARE(validationText(), platformTexts().machineNameMissing);
        QVERIFY(!enabled("startButton"));
        // Its control brings the keyboard to the field, in view.
        auto* fix = item("validationWarning")->findChild<QQuickItem*>("noticeAction");
        QCOMPARE(fix->property("text").toString(), QStringLiteral("Change the machine name"));
        QMetaObject::invokeMethod(fix, "clicked");
        QVERIFY(nameField->property("activeFocus").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(inView(qobject_cast<QQuickItem*>(nameField)), kDeadline);
        supervisor().start();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Needs attention"), kDeadline);
    }

    // Until the web view has the page, the card shows the QR image the runtime wrote beside it.
    void untilTheWebViewHasThePageTheQRImageShows() {
        // A page the web view cannot load, and its image.
        QVERIFY(QImage(64, 64, QImage::Format_RGB32).save(path("page.png")));
        QVERIFY(runtime().write(FakeRuntime::banner(path("page.html")) + "exec sleep 60\n"));
        launchApp();
        QTRY_VERIFY_WITH_TIMEOUT(m_world.app->window()->findChild<QObject*>("pairPagePreview") != nullptr,
                                 kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(item("pairPagePreview")->property("loadCount").toInt() == 1, kDeadline);
        const QQuickItem* image = item("pairImage")->findChild<QQuickItem*>();
        QCOMPARE(image->property("source").toUrl(), QUrl::fromLocalFile(path("page.png")));
        QTRY_COMPARE_WITH_TIMEOUT(image->property("status").toInt(), 1, kDeadline); // Image.Ready
        QVERIFY(visible("pairImage"));
        QVERIFY(!visible("previewPlaceholder"));
    }

    // A runtime that ended on its own: the code shown is dimmed, and the card says why and when
    // it starts again.
    void whileTheBridgeIsDownThePairingCardSaysSo() {
        QVERIFY(QImage(64, 64, QImage::Format_RGB32).save(path("page.png")));
        QVERIFY(runtime().write(FakeRuntime::banner(path("page.html")) + "sleep 0.3\nexit 4\n"));
        launchApp();
        QTRY_VERIFY_WITH_TIMEOUT(visible("bridgeDown"), kDeadline);
        QCOMPARE(item("downReason")->property("text").toString(),
                 QStringLiteral("The bridge stopped unexpectedly with exit code 4."));
        QCOMPARE(item("nextStep")->property("text").toString(), QStringLiteral("Starting it again in 1 s."));
        QCOMPARE(badge(), QStringLiteral("Needs attention"));
        // Stop calls the start that was to come off.
        QVERIFY(visible("stopButton"));
        QMetaObject::invokeMethod(item("stopButton"), "clicked");
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Stopped"), kDeadline);
        QCOMPARE(item("nextStep")->property("text").toString(),
                 QStringLiteral("Press Start to serve it again."));
    }

    void validationIsCheckedAgainAtEachStartAndWhenTheWindowTurnsActive() {
        QVERIFY(runtime().write("exec sleep 60\n"));
        launchApp();
        QTRY_COMPARE_WITH_TIMEOUT(runtime().launches(), 1, kDeadline);
        // The workspace goes away behind the companion's back.
        QVERIFY(QDir(path("work")).removeRecursively());
        supervisor().stop();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Stopped"), kDeadline);
        QMetaObject::invokeMethod(item("startButton"), "clicked");
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Needs attention"), kDeadline);
        QVERIFY(visible("validationWarning"));
        QCOMPARE(validationText(), platformTexts().workspaceMissing);
        QVERIFY(!enabled("startButton"));
        // Start at login is on; then its entry is removed by hand.
        QObject* login = item("startAtLoginSwitch");
        QMetaObject::invokeMethod(login, "toggle");
        QMetaObject::invokeMethod(login, "toggled");
        QTRY_VERIFY_WITH_TIMEOUT(
            m_world.keeper->desktop().startsAtLogin() && login->property("checked").toBool(), kDeadline);
        QVERIFY(QFile::remove(path("config/autostart/com.brantel.kestro.agent.desktop")));
        // The workspace is back, and the user returns to the window, which shows both as they are.
        QVERIFY(QDir().mkpath(path("work")));
        QWindow elsewhere;
        elsewhere.show();
        elsewhere.requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(!m_world.app->window()->isActive(), kDeadline);
        m_world.app->window()->requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(m_world.app->window()->isActive(), kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(enabled("startButton"), kDeadline);
        QVERIFY(!visible("validationWarning"));
        QTRY_VERIFY_WITH_TIMEOUT(!login->property("checked").toBool(), kDeadline);
    }

    void theLogAndTheRuntimeRowsCanBeReadWhileLinesArrive() {
        QVERIFY(
            runtime().write("echo 'kestro-agent: Could not listen on port 8787: Address already in use' >&2\n"
                            "exit 1\n"));
        launchApp();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Needs attention"), kDeadline);
        // Where the pairing code would be: which port, and what to do.
        QTRY_VERIFY_WITH_TIMEOUT(visible("placeholderNextStep"), kDeadline);
        QVERIFY(item("placeholderNextStep")->property("text").toString().startsWith("Port 8787 is taken"));
        // With the control to change it, which brings the keyboard to the Port field, in view.
        QVERIFY(visible("placeholderFix"));
        QCOMPARE(item("placeholderFix")->property("text").toString(), QStringLiteral("Change the port"));
        QMetaObject::invokeMethod(item("placeholderFix"), "clicked");
        auto* port = item("portField")->property("field").value<QQuickItem*>();
        QVERIFY(port->hasActiveFocus());
        QTRY_VERIFY_WITH_TIMEOUT(inView(port), kDeadline);
        QVERIFY(item("windowScroller")
                    ->property("contentItem")
                    .value<QQuickItem*>()
                    ->property("contentY")
                    .toReal() > 0);
        // Long values wrap between words, where there are any.
        QQuickItem* lastEvent = item("lastEventRow")->findChild<QQuickItem*>("value");
        QVERIFY(lastEvent->property("lineCount").toInt() > 1);
        QVERIFY2(wrapsBetweenWords(lastEvent), qPrintable(lastEvent->property("text").toString()));

        // Tall enough that the log is in view.
        m_world.app->window()->resize(1180, 1600);
        AgentSessionLog& log = m_world.keeper->log();
        for (int i = 1; i <= 60; ++i)
            log.append(QStringLiteral("line %1 ").arg(i).repeated(i % 7 == 0 ? 30 : 1));
        QObject* view = item("logView");
        const int lastRow = int(log.lines().size()) - 1;
        QTRY_VERIFY_WITH_TIMEOUT(logLine(view, lastRow) != nullptr && view->property("atYEnd").toBool(),
                                 kDeadline);
        QQuickItem* last = logLine(view, lastRow);
        const QFont font = last->property("font").value<QFont>();
        QCOMPARE(qRound(font.pointSizeF() * m_world.app->window()->screen()->logicalDotsPerInchY() / 72 * 10),
                 125);
        QQuickItem* wrapped = logLine(view, lastRow - 4); // "line 56 line 56 …"
        QVERIFY(wrapped != nullptr && wrapped->property("lineCount").toInt() > 1);
        QVERIFY2(wrapsBetweenWords(wrapped), qPrintable(wrapped->property("text").toString()));

        // A reader who scrolled up with the wheel and selected a word keeps both while lines arrive.
        QQuickItem* logView = qobject_cast<QQuickItem*>(view);
        turnWheel(logView, 40);
        QTRY_VERIFY_WITH_TIMEOUT(!view->property("moving").toBool() && !view->property("atYEnd").toBool(),
                                 kDeadline);
        const qreal readingAt = view->property("contentY").toReal();
        int shownRow = -1;
        QMetaObject::invokeMethod(view, "indexAt", Q_RETURN_ARG(int, shownRow), Q_ARG(qreal, 20),
                                  Q_ARG(qreal, readingAt + 20));
        QQuickItem* first = logLine(view, shownRow);
        QVERIFY(first != nullptr);
        QMetaObject::invokeMethod(first, "select", Q_ARG(int, 0), Q_ARG(int, 4));
        QCOMPARE(first->property("selectedText").toString(), QStringLiteral("line"));
        for (int i = 61; i <= 80; ++i)
            log.append(QStringLiteral("line %1").arg(i));
        QTRY_COMPARE_WITH_TIMEOUT(view->property("count").toInt(), int(log.lines().size()), kDeadline);
        QCOMPARE(view->property("contentY").toReal(), readingAt);
        QCOMPARE(logLine(view, shownRow), first);
        QCOMPARE(first->property("selectedText").toString(), QStringLiteral("line"));
        // Back at the end, the log follows the newest line again.
        for (int turn = 0; turn < 20 && !view->property("atYEnd").toBool(); ++turn) {
            turnWheel(logView, -40);
            QTRY_VERIFY_WITH_TIMEOUT(!view->property("moving").toBool(), kDeadline);
        }
        QVERIFY(view->property("atYEnd").toBool());
        log.append(QStringLiteral("line 81"));
        QTRY_VERIFY_WITH_TIMEOUT(logLine(view, int(log.lines().size()) - 1) != nullptr &&
                                     view->property("atYEnd").toBool(),
                                 kDeadline);
    }

    // The window opens where it was left, brought back within the screen's free area.
    void theWindowOpensWhereItWasLeft() {
        const QRect screen(0, 0, 800, 600);
        QCOMPARE(AgentWindowPlacement::fitted({-50, 900, 700, 400}, screen, {468, 400}),
                 QRect(0, 200, 700, 400));
        QCOMPARE(AgentWindowPlacement::fitted({100, 50, 2000, 300}, screen, {468, 400}),
                 QRect(0, 50, 800, 400));
        launchApp();
        m_world.app->window()->setGeometry(40, 30, 600, 500);
        QTRY_COMPARE_WITH_TIMEOUT(QSettings().value(AgentWindowPlacement::kGeometryKey).toRect(),
                                  QRect(40, 30, 600, 500), kDeadline);
        closeApp();
        launchApp();
        QCOMPARE(m_world.app->window()->geometry(), QRect(40, 30, 600, 500));
    }

    void theLogShowsTheLatest220Lines() {
        QVERIFY(runtime().write(
            "i=1; while [ $i -le 221 ]; do echo \"line $i\"; i=$((i+1)); done\nexec sleep 60\n"));
        launchApp();
        QTRY_COMPARE_WITH_TIMEOUT(m_world.keeper->log().lines().value(219), QStringLiteral("line 221"),
                                  kDeadline);
        QObject* log = item("logView");
        QTRY_COMPARE_WITH_TIMEOUT(log->property("count").toInt(), 220, kDeadline);
        QCOMPARE(m_world.keeper->log().lines().first(), QStringLiteral("line 2"));
    }

    void theSamePageIsNotLoadedTwice() {
        const QString page = writePage("page.html");
        QVERIFY(runtime().write(FakeRuntime::banner(page) + "exec sleep 60\n"));
        launchApp();
        QTRY_VERIFY_WITH_TIMEOUT(m_world.app->window()->findChild<QObject*>("pairPagePreview") != nullptr,
                                 kDeadline);
        QObject* preview = item("pairPagePreview");
        QTRY_VERIFY_WITH_TIMEOUT(preview->property("loaded").toBool(), kDeadline);
        QCOMPARE(preview->property("loadCount").toInt(), 1);
        QCOMPARE(preview->property("loadedURL").toUrl(), QUrl::fromLocalFile(page));
        // The web view has the page: the QR image beneath it goes.
        QVERIFY(!visible("pairImage"));

        QMetaObject::invokeMethod(preview, "show", Q_ARG(QUrl, QUrl::fromLocalFile(page)));
        QTest::qWait(300);
        QCOMPARE(preview->property("loadCount").toInt(), 1);
        // Another location is loaded, which shows the count does move.
        const QString other = writePage("other.html");
        QMetaObject::invokeMethod(preview, "show", Q_ARG(QUrl, QUrl::fromLocalFile(other)));
        QTRY_COMPARE_WITH_TIMEOUT(preview->property("loadCount").toInt(), 2, kDeadline);
    }

    void theWheelOverThePreviewScrollsTheWindowNotThePage() {
        // A page taller than its preview, which could scroll by itself.
        QVERIFY(runtime().write(FakeRuntime::banner(writePage("page.html", 3000)) + "exec sleep 60\n"));
        launchApp();
        m_world.app->window()->resize(1180, 860);
        QTRY_VERIFY_WITH_TIMEOUT(m_world.app->window()->findChild<QObject*>("pairPagePreview") != nullptr,
                                 kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(item("pairPagePreview")->property("loaded").toBool(), kDeadline);
        QObject* page = item("pairPageWeb");
        const QPointF pageAt = page->property("scrollPosition").toPointF();
        auto* window = item("windowScroller")->property("contentItem").value<QQuickItem*>();
        QCOMPARE(window->property("contentY").toReal(), 0.0);

        auto* preview = qobject_cast<QQuickItem*>(item("previewWheel"));
        turnWheel(preview, -2);
        QTRY_VERIFY_WITH_TIMEOUT(window->property("contentY").toReal() > 0, kDeadline);
        // Never beyond either end of the window's content.
        turnWheel(preview, 100);
        QCOMPARE(window->property("contentY").toReal(), 0.0);
        turnWheel(preview, -100);
        QCOMPARE(window->property("contentY").toReal(),
                 window->property("contentHeight").toReal() - window->height());
        QCOMPARE(page->property("scrollPosition").toPointF(), pageAt);
    }

    void onLinuxNoTextSpeaksOfTheMacOrItsKeychain() {
        // No runtime to start yet: the start says where it looked.
        launchApp();
        QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Needs attention"), kDeadline);
        const QString missing = supervisor().lastEvent();
        QVERIFY2(missing.contains(runtime().executable()) && missing.contains("KESTRO_AGENT_RUNTIME"),
                 qPrintable(missing));
        QStringList shown = textsShown();
        // Every validation message, then a runtime whose page could not be written.
        m_world.keeper->settings().setField("machineName", " ");
        QTRY_VERIFY_WITH_TIMEOUT(visible("validationWarning"), kDeadline);
        shown << textsShown();
        m_world.keeper->settings().setField("workingDirectory", path("nowhere"));
        QTRY_COMPARE_WITH_TIMEOUT(validationText(), platformTexts().workspaceMissing, kDeadline);
        shown << textsShown();
        m_world.keeper->settings().setField("workingDirectory", path("work"));
        m_world.keeper->settings().setField("machineName", "Studio");
        QVERIFY(runtime().write("echo 'Pair Page: unavailable'\nexec sleep 60\n"));
        supervisor().start();
        QTRY_COMPARE_WITH_TIMEOUT(
            item("lastEventRow")->findChild<QObject*>("value")->property("text").toString(),
            platformTexts().pairPageUnavailable, kDeadline);
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
            launchApp(std::make_unique<AgentKeychainStore>(QString::fromLatin1(AgentKeeper::kSecretService)));
            QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Running"), kDeadline);
            QCOMPARE(runtime().launchFile("launch", launch).mid(4, 2),
                     (QStringList{"--token", m_world.keeper->token().token()}));
            QTRY_VERIFY_WITH_TIMEOUT(tokenHelp().startsWith(sessionOnly), kDeadline);
            const QString note = tokenHelp();
            // Which store, what to install, and a way to ask again.
            const QString advice = item("secretStoreNotice")->property("text").toString();
            QVERIFY2(visible("secretStoreNotice") && advice.contains("Secret Service") &&
                         advice.contains("gnome-keyring"),
                     qPrintable(advice));
            QCOMPARE(
                item("secretStoreNotice")->findChild<QObject*>("noticeAction")->property("text").toString(),
                QStringLiteral("Try again"));
            // With the Secret Service's own words for why.
            QVERIFY2(note.startsWith(sessionOnly + readFailure) && note.contains("D-Bus"), qPrintable(note));
            QVERIFY(m_world.keeper->log().lines().contains("token: " + note.mid(sessionOnly.size())));
            supervisor().stop();
            QTRY_COMPARE_WITH_TIMEOUT(badge(), QStringLiteral("Stopped"), kDeadline);
            closeApp();
        }
    }

    void cleanupTestCase() {
        qInstallMessageHandler(g_previousHandler);
        QVERIFY2(g_qmlWarnings.isEmpty(), qPrintable(g_qmlWarnings.join('\n')));
    }
};

int main(int argc, char** argv) {
    AgentWindowApp::prepareProcess();
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    AgentWindowTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "AgentWindowTests.moc"
