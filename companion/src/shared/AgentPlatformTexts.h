#pragma once
// The companion's texts that speak of the computer or of its secret store ("this Mac",
// "Keychain"), one implementation file per operating system; every other text is the same
// everywhere. Fixed for the life of the process; any thread.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace kestro::companion {

struct AgentPlatformTexts {
    // The window's header line under the title.
    QString tagline;
    // The configuration card's title.
    QString configurationTitle;
    // The workspace field's placeholder.
    QString workspacePlaceholder;
    // The machine name when the system gives none; also the field's placeholder.
    QString defaultMachineName;
    // The machine name field's help line.
    QString machineNameHelp;
    // The pair token's help line while the store holds it, and while it has not answered yet.
    QString tokenStored;
    QString tokenPending;
    // The pairing placeholder's second line.
    QString previewNote;
    // The machine summary before any runtime reported.
    QString notConnected;
    // Validation: the workspace is not a folder; the machine name is blank.
    QString workspaceMissing;
    QString machineNameMissing;
    // The last event after "Pair Page: unavailable".
    QString pairPageUnavailable;
    // Secret-store failures; %1 is the store's status.
    QString saveFailed;
    QString loadFailed;
    QString deleteFailed;
};

const AgentPlatformTexts& platformTexts();

// The status in a secret-store failure's description, with the store's own words for it where
// the system's descriptions carry them.
QString secretStoreStatus(int32_t status, const QString& detail);

// What to do when the secret store failed with `status` (its own status code): which store it is
// and what to install or unlock, ending with the "Try again" the token row offers.
QString secretStoreAdvice(int32_t status);

// What a start says when no runtime is found at any of the places `searched`, in their order.
QString missingRuntimeMessage(const QStringList& searched);

} // namespace kestro::companion
