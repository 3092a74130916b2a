#include "AgentLaunchSettings.h"

namespace kestro::companion {

namespace {

using Member = QString AgentLaunchConfiguration::*;

Member member(const QString& name) {
    static const QHash<QString, Member> kMembers{
        {QStringLiteral("machineName"), &AgentLaunchConfiguration::machineName},
        {QStringLiteral("host"), &AgentLaunchConfiguration::host},
        {QStringLiteral("port"), &AgentLaunchConfiguration::port},
        {QStringLiteral("advertisedHost"), &AgentLaunchConfiguration::advertisedHost},
        {QStringLiteral("workingDirectory"), &AgentLaunchConfiguration::workingDirectory},
        {QStringLiteral("codexPath"), &AgentLaunchConfiguration::codexPath}};
    return kMembers.value(name, nullptr);
}

} // namespace

const QStringList& AgentLaunchSettings::fieldNames() {
    static const QStringList kNames{QStringLiteral("machineName"),
                                    QStringLiteral("host"),
                                    QStringLiteral("port"),
                                    QStringLiteral("advertisedHost"),
                                    QStringLiteral("workingDirectory"),
                                    QStringLiteral("codexPath")};
    return kNames;
}

AgentLaunchSettings::AgentLaunchSettings(QSettings& store, AgentLaunchConfiguration defaults, QObject* parent)
    : QObject(parent), m_store(store), m_configuration(std::move(defaults)) {
    const QVariant stored = m_store.value(QLatin1String(kConfigurationKey));
    if (stored.isValid())
        if (auto decoded = AgentLaunchConfiguration::fromJson(stored.toByteArray()))
            m_configuration = *decoded;
    m_validation = validate(m_configuration);
}

void AgentLaunchSettings::setConfiguration(const AgentLaunchConfiguration& configuration) {
    if (configuration == m_configuration) return;
    m_configuration = configuration;
    save();
    m_validation = validate(m_configuration);
    emit changed();
}

bool AgentLaunchSettings::setField(const QString& name, const QString& value) {
    const Member field = member(name);
    if (field == nullptr) return false;
    AgentLaunchConfiguration changedSettings = m_configuration;
    changedSettings.*field = value;
    setConfiguration(changedSettings);
    return true;
}

QString AgentLaunchSettings::field(const QString& name) const {
    const Member field = member(name);
    return field == nullptr ? QString() : m_configuration.*field;
}

void AgentLaunchSettings::save() {
    m_store.setValue(QLatin1String(kConfigurationKey), m_configuration.toJson());
    m_store.sync();
}

void AgentLaunchSettings::revalidate() {
    AgentValidation validation = validate(m_configuration);
    if (validation.message == m_validation.message && validation.field == m_validation.field) return;
    m_validation = std::move(validation);
    emit changed();
}

} // namespace kestro::companion
