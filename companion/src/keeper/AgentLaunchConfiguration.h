#pragma once
// The launch settings the companion starts the runtime with: the record, its stored JSON form,
// the defaults of this computer and the validation the window shows. Plain values; any thread.

#include <QByteArray>
#include <QString>
#include <optional>

namespace kestro::companion {

struct AgentLaunchConfiguration {
    QString machineName;
    QString host;
    QString port;
    QString advertisedHost;
    QString workingDirectory;
    // The Codex program the runtime is to run (KESTRO_CODEX_PATH); empty: the runtime looks for
    // one itself.
    QString codexPath;

    bool operator==(const AgentLaunchConfiguration&) const = default;

    // A JSON object with the five string members, and "codexPath" only when one is set (so older
    // versions, which require the five, read it as before).
    QByteArray toJson() const;
    // Absent unless `json` is an object whose five members are all strings; "codexPath" is read
    // when it is a string, other members are ignored.
    static std::optional<AgentLaunchConfiguration> fromJson(const QByteArray& json);
};

// The defaults for a computer with this name (absent: none known) and home folder.
AgentLaunchConfiguration makeDefaultConfiguration(const std::optional<QString>& computerName,
                                                  const QString& home);

// The defaults of this computer, computed on first use and reused for the life of the process.
const AgentLaunchConfiguration& defaultConfiguration();

// The first invalid setting: its message, and the name of the field to change (its JSON key);
// both empty when every setting is valid.
struct AgentValidation {
    QString message;
    QString field;
};
AgentValidation validate(const AgentLaunchConfiguration& configuration);

// The message of the first invalid setting, or an empty text when every setting is valid.
QString validationMessage(const AgentLaunchConfiguration& configuration);

} // namespace kestro::companion
