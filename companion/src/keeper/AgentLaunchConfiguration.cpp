#include "AgentLaunchConfiguration.h"

#include "AgentPlatformTexts.h"
#include "platform/Host.h"
#include "text/Numbers.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace kestro::companion {

namespace {

struct Field {
    const char* key;
    QString AgentLaunchConfiguration::*member;
};
constexpr Field kFields[] = {{"machineName", &AgentLaunchConfiguration::machineName},
                             {"host", &AgentLaunchConfiguration::host},
                             {"port", &AgentLaunchConfiguration::port},
                             {"advertisedHost", &AgentLaunchConfiguration::advertisedHost},
                             {"workingDirectory", &AgentLaunchConfiguration::workingDirectory}};
// Optional: absent from what older versions stored.
constexpr const char* kCodexPathKey = "codexPath";

// An optional sign, decimal digits only, at most 65535 ("-0" reads as 0), and not 0.
bool isUsablePort(const QString& text) {
    const auto decimal = kestro::parseDecimal(text.toStdString(), true);
    if (!decimal || decimal->overflowed) return false;
    if (decimal->negative) return false; // "-0" is 0, and any other negative is out of range
    return decimal->magnitude >= 1 && decimal->magnitude <= 65535;
}

} // namespace

QByteArray AgentLaunchConfiguration::toJson() const {
    QJsonObject object;
    for (const Field& field : kFields)
        object.insert(QLatin1String(field.key), this->*field.member);
    if (!codexPath.isEmpty()) object.insert(QLatin1String(kCodexPathKey), codexPath);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<AgentLaunchConfiguration> AgentLaunchConfiguration::fromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject object = document.object();
    AgentLaunchConfiguration configuration;
    for (const Field& field : kFields) {
        const QJsonValue value = object.value(QLatin1String(field.key));
        if (!value.isString()) return std::nullopt;
        configuration.*field.member = value.toString();
    }
    if (const QJsonValue codex = object.value(QLatin1String(kCodexPathKey)); codex.isString())
        configuration.codexPath = codex.toString();
    return configuration;
}

AgentLaunchConfiguration makeDefaultConfiguration(const std::optional<QString>& computerName,
                                                  const QString& home) {
    return {.machineName = computerName.value_or(platformTexts().defaultMachineName),
            .host = QStringLiteral("0.0.0.0"),
            .port = QStringLiteral("8787"),
            .advertisedHost = QString(),
            .workingDirectory = home};
}

const AgentLaunchConfiguration& defaultConfiguration() {
    static const AgentLaunchConfiguration defaults = [] {
        std::optional<QString> name;
        if (const auto computer = kestro::computerName()) name = QString::fromStdString(*computer);
        return makeDefaultConfiguration(name, QString::fromStdString(kestro::homeDirectory()));
    }();
    return defaults;
}

AgentValidation validate(const AgentLaunchConfiguration& configuration) {
    const QString workspace = QStringLiteral("workingDirectory");
    const QString directory = configuration.workingDirectory.trimmed();
    if (directory.isEmpty())
        return {
            QStringLiteral("Choose the project or default workspace that kestro Agent should open first."),
            workspace};
    if (!QFileInfo(directory).isDir()) return {platformTexts().workspaceMissing, workspace};
    if (!isUsablePort(configuration.port))
        return {QStringLiteral("Port must be a valid number like 8787."), QStringLiteral("port")};
    if (configuration.machineName.trimmed().isEmpty())
        return {platformTexts().machineNameMissing, QStringLiteral("machineName")};
    // Each run starts Codex from its own working folder: a relative path would name a different
    // program (a project's own `codex`) in each.
    if (const QString codex = configuration.codexPath.trimmed(); !codex.isEmpty()) {
        const QString codexField = QStringLiteral("codexPath");
        if (!QDir::isAbsolutePath(codex))
            return {QStringLiteral("The Codex program must be given by its full path, like "
                                   "/usr/local/bin/codex. Choose it, or clear the setting so the bridge "
                                   "looks for Codex itself."),
                    codexField};
        if (const QFileInfo program(codex); !program.isFile() || !program.isExecutable())
            return {QStringLiteral("The Codex program (%1) is not a program that can be run. Choose it "
                                   "again, or clear the setting so the bridge looks for Codex itself.")
                        .arg(codex),
                    codexField};
    }
    return {};
}

QString validationMessage(const AgentLaunchConfiguration& configuration) {
    return validate(configuration).message;
}

} // namespace kestro::companion
