// The window as a keyboard and a screen reader meet it, under a real X server with the desktop's
// accessibility bus: the real keeper and window in one process over the real channel, a fake
// runtime; keys typed through X with xdotool, the accessibility tree read over AT-SPI as a screen
// reader reads it, the clipboard read by another X client (xclip).

#include "support/FakeRuntime.h"
#include "support/KeeperAndWindow.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

using namespace kestro::companion;
using namespace kestro::testing;

namespace {

constexpr int kDeadline = 20000;

struct AccessibleNode {
    QString role;
    QString name;
    QString description;
    QStringList states;
};

// What an outside program prints, once it has ended; an event loop runs meanwhile, answering at
// once (the accessibility tree and the clipboard are served from this process).
QString outputOf(const QString& program, const QStringList& arguments) {
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(kDeadline, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        qWarning("%s did not end", qPrintable(program));
    }
    if (process.exitCode() != 0) qWarning("%s", process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Keys as a person types them: through the X server, to the window that has its focus.
void type(const QString& keys) {
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
}

// Counts the key presses that the X server repeated, and sees the key let go.
struct KeyRepeats : QObject {
    int seen = 0;
    bool released = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
        const bool repeated = static_cast<QKeyEvent*>(event)->isAutoRepeat();
        if (event->type() == QEvent::KeyPress && repeated) ++seen;
        if (event->type() == QEvent::KeyRelease && !repeated) released = true;
        return false;
    }
};

} // namespace

class AgentWindowAccessibilityTests : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_folder;
    KeeperAndWindow m_world;
    QList<QUrl> m_opened;

    QString path(const QString& relative) const { return m_folder.filePath(relative); }
    QQuickWindow* window() const { return m_world.app->window(); }
    QQuickItem* item(const char* name) const {
        auto* found = window()->findChild<QQuickItem*>(QLatin1String(name));
        if (found == nullptr) qWarning("no item named %s", name);
        return found;
    }

    // The window's tree as AT-SPI gives it to a screen reader.
    QList<AccessibleNode> accessibleTree() const {
        QList<AccessibleNode> nodes;
        const QString lines = outputOf(QStringLiteral(KESTRO_ACCESSIBLE_TREE),
                                       {QString::number(QCoreApplication::applicationPid())});
        for (const QString& line : lines.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject node = QJsonDocument::fromJson(line.toUtf8()).object();
            nodes.append({node.value("role").toString(), node.value("name").toString(),
                          node.value("description").toString(),
                          node.value("states").toVariant().toStringList()});
        }
        return nodes;
    }
    static bool hasShown(const QList<AccessibleNode>& tree, const QString& role, const QString& nameStart) {
        return std::any_of(tree.begin(), tree.end(), [&](const AccessibleNode& node) {
            return node.role == role && node.name.startsWith(nameStart) && node.states.contains("showing");
        });
    }

    // Every control the keyboard should reach: shown, enabled, a stop of Tab's.
    QSet<QQuickItem*> tabStops() const {
        QSet<QQuickItem*> stops;
        for (QQuickItem* each : window()->findChildren<QQuickItem*>())
            if (each->isVisible() && each->isEnabled() && each->activeFocusOnTab()) stops.insert(each);
        return stops;
    }

    bool inView(const QQuickItem* shown) const {
        const auto* flickable = item("windowScroller")->property("contentItem").value<QQuickItem*>();
        const QRectF area = shown->mapRectToItem(flickable, shown->boundingRect());
        return area.top() >= 0 && area.bottom() <= flickable->height();
    }

    // Whether `picture` shows the focus ring just left of `focused`, halfway down it.
    bool ringBeside(const QImage& picture, const QQuickItem* focused) const {
        // The ring is drawn around the control's own box (for the log, the box it scrolls in).
        const QQuickItem* boxed = focused->objectName() == "logView" ? focused->parentItem() : focused;
        const QPointF at = boxed->mapToScene(QPointF(-3, boxed->height() / 2));
        const QColor seen = picture.pixelColor(at.toPoint() * picture.devicePixelRatio());
        const QColor ring = QColor::fromRgbF(0.66f, 0.78f, 1.0f);
        return std::abs(seen.red() - ring.red()) <= 3 && std::abs(seen.green() - ring.green()) <= 3 &&
               std::abs(seen.blue() - ring.blue()) <= 3;
    }

    // Focus on `control`, as Tab would put it there.
    void focusByKeyboard(const char* control) {
        item(control)->forceActiveFocus(Qt::TabFocusReason);
        QTRY_COMPARE_WITH_TIMEOUT(window()->activeFocusItem(), item(control), kDeadline);
    }

  private slots:
    // One keeper and window for every check, running with a pair link and page, as a person
    // finds it.
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "run this under an X server");
        QVERIFY(qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME"));
        QVERIFY(QImage(64, 64, QImage::Format_RGB32).save(path("page.png")));
        QFile page(path("page.html"));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<html><body>pairing page</body></html>");
        page.close();
        FakeRuntime runtime(m_folder.path());
        QVERIFY(runtime.write(FakeRuntime::banner(path("page.html")) + "exec sleep 60\n"));
        const QString failed = m_world.open(QDir(m_folder.path()), runtime.executable(),
                                            [this](const QUrl& location) { m_opened << location; });
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QTRY_VERIFY_WITH_TIMEOUT(window()->isExposed(), kDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(item("statusBadge")->property("text").toString(), QStringLiteral("Running"),
                                  kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(item("copyPairLinkButton")->isEnabled(), kDeadline);
        window()->requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(window()->isActive(), kDeadline);
    }

    void cleanupTestCase() {
        m_world.app.reset();
        if (m_world.keeper) m_world.keeper->runtime().stop();
        QTRY_VERIFY_WITH_TIMEOUT(!m_world.keeper->runtime().hasProcess(), kDeadline);
        m_world.close();
    }

    // Every field is named by its label and described by its help line; the state, the runtime's
    // values, the headings and the log lines are in the tree; the state changes with the runtime,
    // and a bridge that is down is an alert.
    void aScreenReaderFindsEveryFieldTheStateAndTheLog() {
        const QList<AccessibleNode> tree = accessibleTree();
        QVERIFY2(tree.size() > 20, "the window is not on the accessibility bus");
        int fields = 0;
        for (const AccessibleNode& node : tree) {
            if (!node.states.contains("editable")) continue;
            ++fields;
            QVERIFY2(!node.name.isEmpty(), qPrintable(node.role + " without a name: " + node.description));
        }
        QCOMPARE(fields, 7);
        QVERIFY(std::any_of(tree.begin(), tree.end(), [](const AccessibleNode& node) {
            return node.name == "Port" && node.description == "Default: 8787";
        }));
        QVERIFY(hasShown(tree, "label", "Bridge status: Running"));
        QVERIFY(hasShown(tree, "label", "Last event: The local bridge is live."));
        QVERIFY(hasShown(tree, "label", "Pair link: kestro://pair?name=Studio"));
        for (const char* heading : {"kestro Agent", "Pairing", "Configuration", "Runtime", "Session log"})
            QVERIFY2(hasShown(tree, "heading", heading), heading);
        QVERIFY(hasShown(tree, "image", "Pairing QR code"));
        QVERIFY(hasShown(tree, "list", "Session log"));
        QVERIFY(hasShown(tree, "list item", "launch: starting the bridge"));
        m_world.keeper->runtime().stop();
        QTRY_VERIFY_WITH_TIMEOUT(hasShown(accessibleTree(), "label", "Bridge status: Stopped"), kDeadline);
        QVERIFY(hasShown(accessibleTree(), "alert", "The bridge is down: this code does not reach it."));
        m_world.keeper->runtime().start();
        QTRY_VERIFY_WITH_TIMEOUT(hasShown(accessibleTree(), "label", "Bridge status: Running"), kDeadline);
        QTRY_VERIFY_WITH_TIMEOUT(item("copyPairLinkButton")->isEnabled(), kDeadline);

        // The arrows walk the log a line at a time; the line reached is the focused one.
        focusByKeyboard("logView");
        const QStringList lines = m_world.keeper->log().lines();
        // (Each look at the tree takes a while: the deadline is in time, not tries.)
        const auto focusedLineIs = [this](const QString& expected) {
            QString focused;
            for (const QDeadlineTimer deadline(kDeadline); !deadline.hasExpired(); QTest::qWait(100)) {
                const QList<AccessibleNode> now = accessibleTree();
                const auto found = std::find_if(now.begin(), now.end(), [](const AccessibleNode& node) {
                    return node.role == "list item" && node.states.contains("focused");
                });
                focused = found == now.end() ? QString() : found->name;
                if (focused == expected) break;
            }
            QCOMPARE(focused, expected);
        };
        focusedLineIs(lines.last());
        if (QTest::currentTestFailed()) return;
        type("Up");
        focusedLineIs(lines.at(lines.size() - 2));
        if (QTest::currentTestFailed()) return;
        type("Home");
        focusedLineIs(lines.first());
    }

    // Tab visits every control in turn, never the preview, each brought into view with its ring.
    void tabReachesEveryControlWithAVisibleFocusRing() {
        const QSet<QQuickItem*> stops = tabStops();
        QVERIFY2(stops.size() >= 19, qPrintable(QString::number(stops.size())));
        window()->contentItem()->forceActiveFocus();
        QImage before = window()->grabWindow();
        QQuickItem* first = nullptr;
        QSet<QQuickItem*> visited;
        for (int press = 0; press <= stops.size(); ++press) {
            QQuickItem* previous = window()->activeFocusItem();
            type("Tab");
            QTRY_VERIFY_WITH_TIMEOUT(window()->activeFocusItem() != previous, kDeadline);
            QQuickItem* focused = window()->activeFocusItem();
            if (focused == first) break;
            if (first == nullptr) first = focused;
            const QString name = QString::fromLatin1(focused->metaObject()->className()) + " " +
                                 focused->objectName() + " " + focused->property("text").toString();
            QVERIFY2(stops.contains(focused), qPrintable(name + " is not a control"));
            visited.insert(focused);
            QVERIFY2(inView(focused), qPrintable(name + " is out of view"));
            const QImage after = window()->grabWindow();
            QVERIFY2(after != before, qPrintable(name + ": nothing changed on screen"));
            QVERIFY2(ringBeside(after, focused), qPrintable(name + " has no focus ring"));
            before = after;
        }
        QCOMPARE(window()->activeFocusItem(), first);
        QCOMPARE(visited, stops);
    }

    // Return and keypad Enter press buttons and switches; F1 opens the About, Esc closes it.
    void keysPressButtonsAndOpenTheAbout() {
        focusByKeyboard("copyPairLinkButton");
        type("Return");
        QTRY_COMPARE_WITH_TIMEOUT(m_world.app->link().bannerMessage(), QStringLiteral("Pair link copied"),
                                  kDeadline);
        QCOMPARE(outputOf(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"}),
                 QStringLiteral("kestro://pair?name=Studio"));
        focusByKeyboard("openPairingPageButton");
        type("KP_Enter");
        QTRY_COMPARE_WITH_TIMEOUT(m_opened, QList<QUrl>{QUrl::fromLocalFile(path("page.html"))}, kDeadline);
        focusByKeyboard("startAtLoginSwitch");
        type("Return");
        QTRY_VERIFY_WITH_TIMEOUT(m_world.keeper->desktop().startsAtLogin(), kDeadline);
        type("Return");
        QTRY_VERIFY_WITH_TIMEOUT(!m_world.keeper->desktop().startsAtLogin(), kDeadline);

        QObject* about = window()->findChild<QObject*>("aboutDialog");
        type("F1");
        QTRY_VERIFY_WITH_TIMEOUT(about->property("opened").toBool(), kDeadline);
        QCOMPARE(window()->findChild<QObject*>("aboutVersion")->property("text").toString(),
                 "Version " KESTRO_VERSION);
        QVERIFY(window()
                    ->findChild<QObject*>("aboutLicence")
                    ->property("text")
                    .toString()
                    .contains("Apache-2.0"));
        type("Escape");
        QTRY_VERIFY_WITH_TIMEOUT(!about->property("visible").toBool(), kDeadline);
        QVERIFY(window()->isVisible());

        // Held down until the X server repeats it, Return presses once.
        KeyRepeats repeats;
        window()->installEventFilter(&repeats);
        QSignalSpy pressed(item("openPairingPageButton"), SIGNAL(clicked()));
        focusByKeyboard("openPairingPageButton");
        QProcess::execute(QStringLiteral("xdotool"),
                          {"keydown", "Return", "sleep", "1.5", "keyup", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(repeats.released, kDeadline);
        QVERIFY(repeats.seen > 0);
        QCOMPARE(pressed.count(), 1);
        // Esc in a field being typed in leaves the window open.
        auto* port = item("portField")->property("field").value<QQuickItem*>();
        port->forceActiveFocus(Qt::TabFocusReason);
        type("Escape");
        type("Tab");
        QTRY_VERIFY_WITH_TIMEOUT(window()->activeFocusItem() != port, kDeadline);
        QVERIFY(window()->isVisible());
    }

    // On a desktop without a platform theme the window draws the folder and file choosers itself.
    void theChoosersOpenWithoutAPlatformTheme() {
        struct Chooser {
            const char* button;
            const char* dialog;
            const char* drawn;
        };
        for (const Chooser& chooser :
             {Chooser{"chooseFolderButton", "folderDialog", "QQuickFolderDialogImpl"},
              Chooser{"chooseCodexButton", "codexDialog", "QQuickFileDialogImpl"}}) {
            focusByKeyboard(chooser.button);
            type("Return");
            QObject* dialog = window()->findChild<QObject*>(chooser.dialog);
            QTRY_VERIFY_WITH_TIMEOUT(dialog->property("visible").toBool(), kDeadline);
            // Qt's own chooser, a popup in the window, open.
            const auto shownChooser = [&] {
                for (QObject* each : window()->findChildren<QObject*>())
                    if (each->inherits(chooser.drawn) && each->property("opened").toBool()) return true;
                return false;
            };
            QTRY_VERIFY2_WITH_TIMEOUT(shownChooser(), chooser.dialog, kDeadline);
            type("Escape");
            QTRY_VERIFY_WITH_TIMEOUT(!dialog->property("visible").toBool(), kDeadline);
            QVERIFY(window()->isVisible());
        }
    }

    // Ctrl+Q asks the keeper to quit; Ctrl+W closes the window.
    void ctrlQQuitsAndCtrlWClosesTheWindow() {
        QSignalSpy quit(m_world.channel.get(), &AgentWindowChannel::quitRequested);
        type("ctrl+q");
        QTRY_COMPARE_WITH_TIMEOUT(quit.count(), 1, kDeadline);
        type("ctrl+w");
        QTRY_VERIFY_WITH_TIMEOUT(!window()->isVisible(), kDeadline);
    }
};

int main(int argc, char** argv) {
    AgentWindowApp::prepareProcess();
    QtWebEngineQuick::initialize();
    // A desktop without a platform theme: the dialogs are Qt's own.
    qunsetenv("QT_QPA_PLATFORMTHEME");
    QGuiApplication application(argc, argv);
    // The window closed by the test is not the test's end.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    AgentWindowApp::describeApplication();
    AgentWindowAccessibilityTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "AgentWindowAccessibilityTests.moc"
