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

    bool operator==(const AgentLaunchConfiguration&) const = default;

    // A JSON object with exactly the five string members.
    QByteArray toJson() const;
    // Absent unless `json` is an object whose five members are all strings (others are ignored).
    static std::optional<AgentLaunchConfiguration> fromJson(const QByteArray& json);
};

// The defaults for a computer with this name (absent: none known) and home folder.
AgentLaunchConfiguration makeDefaultConfiguration(const std::optional<QString>& computerName,
                                                  const QString& home);

// The defaults of this computer, computed on first use and reused for the life of the process.
const AgentLaunchConfiguration& defaultConfiguration();

// The message of the first invalid setting, or an empty text when every setting is valid.
QString validationMessage(const AgentLaunchConfiguration& configuration);

} // namespace kestro::companion
