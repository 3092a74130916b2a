#include "AgentPlatformTexts.h"

namespace kestro::companion {

const AgentPlatformTexts& platformTexts() {
    static const AgentPlatformTexts texts{
        .tagline =
            QStringLiteral("Starts your local Codex runtime, publishes a private pairing page, and keeps "
                           "your phone connected to the computer that already owns the work."),
        .configurationTitle = QStringLiteral("Set the computer-side defaults once."),
        .workspacePlaceholder = QStringLiteral("/home/you/Projects/Repo"),
        .defaultMachineName = QStringLiteral("kestro Computer"),
        .machineNameHelp = QStringLiteral("What your phone should call this computer."),
        .tokenStored = QStringLiteral("Stored in the login keyring and reused across launches."),
        .tokenPending = QStringLiteral("Looking for the pair token in the login keyring…"),
        .previewNote =
            QStringLiteral("The iPhone app does not need a terminal tutorial. It just needs a QR to scan "
                           "and a computer that stays reachable."),
        .notConnected = QStringLiteral("Computer not connected yet"),
        .workspaceMissing = QStringLiteral("The selected workspace does not exist on this computer yet."),
        .machineNameMissing =
            QStringLiteral("Give this computer a machine name so the QR pairing page reads clearly."),
        .pairPageUnavailable = QStringLiteral("The pairing page could not be generated on this computer."),
        .saveFailed =
            QStringLiteral("kestro Agent could not save a secret to the login keyring (status %1)."),
        .loadFailed =
            QStringLiteral("kestro Agent could not read a secret from the login keyring (status %1)."),
        .deleteFailed =
            QStringLiteral("kestro Agent could not delete a secret from the login keyring (status %1)."),
    };
    return texts;
}

// The Secret Service's statuses are few and vague ("7"); its own words say what went wrong (no
// D-Bus session, a locked collection).
QString secretStoreStatus(int32_t status, const QString& detail) {
    const QString words = detail.trimmed();
    return words.isEmpty() ? QString::number(status) : QStringLiteral("%1: %2").arg(status).arg(words);
}

// QtKeychain's statuses over the Secret Service: 3 and 4 are a refusal (a locked collection, a
// prompt dismissed); 5 and 7 mean nothing answered (no D-Bus session, no Secret Service on it).
QString secretStoreAdvice(int32_t status) {
    if (status == 3 || status == 4)
        return QStringLiteral("The login keyring is locked or refused kestro Agent. Unlock it (for example "
                              "in Passwords and Keys), then press Try again.");
    if (status == 5 || status == 7)
        return QStringLiteral("kestro Agent keeps the pair token in a Secret Service keyring on your desktop "
                              "session, and none answered. Install one (for example gnome-keyring: sudo apt "
                              "install gnome-keyring), log out and in again, then press Try again.");
    return QStringLiteral("Check that the login keyring (a Secret Service such as gnome-keyring) is running "
                          "and unlocked, then press Try again.");
}

// The runtime is a program of its own here (a package, a build folder): say where it was looked
// for, and how to point at it.
QString missingRuntimeMessage(const QStringList& searched) {
    return QStringLiteral("The bridge (kestro-agent) was not found. Looked in: %1. Install it, or set "
                          "KESTRO_AGENT_RUNTIME to its path.")
        .arg(searched.join(QStringLiteral(", ")));
}

} // namespace kestro::companion
