#include "AgentPlatformTexts.h"

namespace kestro::companion {

const AgentPlatformTexts& platformTexts() {
    static const AgentPlatformTexts texts{
        .tagline =
            QStringLiteral("Starts your local Codex runtime, publishes a private pairing page, and keeps "
                           "your phone connected to the Mac that already owns the work."),
        .configurationTitle = QStringLiteral("Set the Mac-side defaults once."),
        .workspacePlaceholder = QStringLiteral("/Users/you/Projects/Repo"),
        .defaultMachineName = QStringLiteral("kestro Mac"),
        .machineNameHelp = QStringLiteral("What your phone should call this Mac."),
        .tokenStored = QStringLiteral("Stored in Keychain and reused across launches."),
        .tokenPending = QStringLiteral("Looking for the pair token in Keychain…"),
        .previewNote =
            QStringLiteral("The iPhone app does not need a terminal tutorial. It just needs a QR to scan "
                           "and a Mac that stays reachable."),
        .notConnected = QStringLiteral("Mac not connected yet"),
        .workspaceMissing = QStringLiteral("The selected workspace does not exist on this Mac yet."),
        .machineNameMissing =
            QStringLiteral("Give this Mac a machine name so the QR pairing page reads clearly."),
        .pairPageUnavailable = QStringLiteral("The pairing page could not be generated on this Mac."),
        .saveFailed = QStringLiteral("kestro Agent could not save a secret to Keychain (status %1)."),
        .loadFailed = QStringLiteral("kestro Agent could not read a secret from Keychain (status %1)."),
        .deleteFailed = QStringLiteral("kestro Agent could not delete a secret from Keychain (status %1)."),
    };
    return texts;
}

// The Keychain's descriptions give the status alone.
QString secretStoreStatus(int32_t status, const QString&) {
    return QString::number(status);
}

QString secretStoreAdvice(int32_t) {
    return QStringLiteral("Check that your login keychain is unlocked (in Keychain Access), then press Try "
                          "again.");
}

// The runtime is part of the application bundle: missing, the bundle itself is incomplete.
QString missingRuntimeMessage(const QStringList&) {
    return QStringLiteral(
        "The bundled kestro runtime is missing. Rebuild the Mac companion before packaging it.");
}

} // namespace kestro::companion
