#pragma once
// The launch settings as the keeper keeps them: loaded once from the application's settings
// (the defaults when nothing usable is stored), saved at each change, and checked. GUI thread
// only.

#include "AgentLaunchConfiguration.h"

#include <QObject>
#include <QSettings>

namespace kestro::companion {

class AgentLaunchSettings : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kConfigurationKey = "com.brantel.kestro.agent.configuration";
    // The names the fields go by outside (the stored JSON, the window's requests).
    static const QStringList& fieldNames();

    // `store` must outlive the settings. Unreadable stored settings stay on disk, untouched,
    // until the next save replaces them.
    AgentLaunchSettings(QSettings& store, AgentLaunchConfiguration defaults, QObject* parent = nullptr);

    const AgentLaunchConfiguration& configuration() const { return m_configuration; }
    // Replaces the settings and saves them when they changed.
    void setConfiguration(const AgentLaunchConfiguration& configuration);
    // One field by its name; false for a name that is none of `fieldNames`.
    bool setField(const QString& name, const QString& value);
    QString field(const QString& name) const;
    void save();

    // As last checked: at each change, each start, and whenever asked.
    QString validationMessage() const { return m_validation.message; }
    // The name of the field that message is about; empty when there is none.
    QString validationField() const { return m_validation.field; }
    // Checks again: the folder the settings name may have come or gone meanwhile.
    void revalidate();

  signals:
    // The settings or their validation changed.
    void changed();

  private:
    QSettings& m_store;
    AgentLaunchConfiguration m_configuration;
    AgentValidation m_validation;
};

} // namespace kestro::companion
