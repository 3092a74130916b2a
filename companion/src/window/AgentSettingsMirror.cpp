#include "AgentSettingsMirror.h"

#include "AgentChannel.h"
#include "AgentKeeperLink.h"

#include <QDir>
#include <QFileInfo>

namespace kestro::companion {

namespace {

const QStringList kFields{QStringLiteral("machineName"),
                          QStringLiteral("host"),
                          QStringLiteral("port"),
                          QStringLiteral("advertisedHost"),
                          QStringLiteral("workingDirectory"),
                          QStringLiteral("codexPath")};

} // namespace

AgentSettingsMirror::AgentSettingsMirror(AgentKeeperLink& link, QObject* parent)
    : QObject(parent), m_link(link) {
    connect(&m_link, &AgentKeeperLink::answered, this, [this](quint64 id) { answered(id); });
}

void AgentSettingsMirror::apply(const QJsonObject& values) {
    bool changedAny = false;
    for (const QString& field : kFields) {
        m_keeper.insert(field, values.value(field).toString());
        if (!isEditing(field) && m_shown.value(field) != m_keeper.value(field)) {
            m_shown.insert(field, m_keeper.value(field));
            changedAny = true;
        }
    }
    for (auto [key, shown] : {std::pair{"validationMessage", &m_validationMessage},
                              std::pair{"validationField", &m_validationField}}) {
        const QString value = values.value(QLatin1String(key)).toString();
        if (value == *shown) continue;
        *shown = value;
        changedAny = true;
    }
    if (changedAny) emit changed();
}

void AgentSettingsMirror::edit(const QString& field, const QString& value) {
    if (m_shown.value(field) == value) return;
    m_shown.insert(field, value);
    emit changed();
    m_edits.insert(
        m_link.request(channel::kSet, {{QStringLiteral("field"), field}, {QStringLiteral("value"), value}}),
        field);
}

void AgentSettingsMirror::answered(quint64 id) {
    const QString field = m_edits.take(id);
    // The last edit of the field is in: from now on the field shows what the keeper holds (the
    // edit, or, when it was refused or not answered, what was there before).
    if (field.isEmpty() || isEditing(field) || m_shown.value(field) == m_keeper.value(field)) return;
    m_shown.insert(field, m_keeper.value(field));
    emit changed();
}

bool AgentSettingsMirror::isEditing(const QString& field) const {
    return std::any_of(m_edits.cbegin(), m_edits.cend(), [&](const QString& each) { return each == field; });
}

QUrl AgentSettingsMirror::codexFolderURL() const {
    const QString program = codexPath().trimmed();
    const QFileInfo chosen(program);
    return QUrl::fromLocalFile(!program.isEmpty() && chosen.isAbsolute() && chosen.dir().exists()
                                   ? chosen.absolutePath()
                                   : QDir::homePath());
}

void AgentSettingsMirror::chooseCodexProgram(const QUrl& program) {
    if (!program.isLocalFile() || program.toLocalFile().isEmpty()) return;
    setCodexPath(program.toLocalFile());
}

void AgentSettingsMirror::chooseWorkspace(const QUrl& folder) {
    if (!folder.isLocalFile() || folder.toLocalFile().isEmpty()) return;
    setWorkingDirectory(folder.toLocalFile());
}

} // namespace kestro::companion
