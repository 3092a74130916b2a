// The macOS texts, compiled on every system (this test links the macOS file alone), so that a
// build elsewhere keeps them compiling and word for word what the Mac companion says.

#include "AgentPlatformTexts.h"

#include <QtTest>

using namespace kestro::companion;

class AgentMacTextsTests : public QObject {
    Q_OBJECT

  private slots:
    void theMacCompanionSpeaksOfTheMacAndItsKeychain() {
        const AgentPlatformTexts& texts = platformTexts();
        QCOMPARE(texts.tagline,
                 QStringLiteral("Starts your local Codex runtime, publishes a private pairing page, "
                                "and keeps your phone connected to the Mac that already owns the "
                                "work."));
        QCOMPARE(texts.configurationTitle, QStringLiteral("Set the Mac-side defaults once."));
        QCOMPARE(texts.workspacePlaceholder, QStringLiteral("/Users/you/Projects/Repo"));
        QCOMPARE(texts.defaultMachineName, QStringLiteral("kestro Mac"));
        QCOMPARE(texts.machineNameHelp, QStringLiteral("What your phone should call this Mac."));
        QCOMPARE(texts.tokenStored, QStringLiteral("Stored in Keychain and reused across launches."));
        QCOMPARE(texts.previewNote,
                 QStringLiteral("The iPhone app does not need a terminal tutorial. It just "
                                "needs a QR to scan and a Mac that stays reachable."));
        QCOMPARE(texts.notConnected, QStringLiteral("Mac not connected yet"));
        QCOMPARE(texts.workspaceMissing,
                 QStringLiteral("The selected workspace does not exist on this Mac yet."));
        QCOMPARE(texts.machineNameMissing,
                 QStringLiteral("Give this Mac a machine name so the QR pairing page reads clearly."));
        QCOMPARE(texts.pairPageUnavailable,
                 QStringLiteral("The pairing page could not be generated on this Mac."));
        QCOMPARE(texts.saveFailed.arg(-25299),
                 QStringLiteral("kestro Agent could not save a secret to Keychain (status -25299)."));
        QCOMPARE(texts.loadFailed.arg(7),
                 QStringLiteral("kestro Agent could not read a secret from Keychain (status 7)."));
        QCOMPARE(texts.deleteFailed.arg(2),
                 QStringLiteral("kestro Agent could not delete a secret from Keychain (status 2)."));
        QCOMPARE(secretStoreAdvice(-25308),
                 QStringLiteral("Check that your login keychain is unlocked (in Keychain Access), then press "
                                "Try again."));
        QCOMPARE(
            missingRuntimeMessage(
                {QStringLiteral("/Applications/kestro Agent.app/Contents/Resources/Runtime")}),
            QStringLiteral(
                "The bundled kestro runtime is missing. Rebuild the Mac companion before packaging it."));
    }
};

QTEST_GUILESS_MAIN(AgentMacTextsTests)
#include "AgentMacTextsTests.moc"
