#pragma once
// The window's copy of the launch settings and their validation. An edit shows at once and is
// sent to the keeper, which saves it; while an edit of a field is on its way, what the keeper
// last said of that field waits, so typing is never undone by an older echo. GUI thread only.

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

namespace kestro::companion {

class AgentKeeperLink;

class AgentSettingsMirror : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The settings come from the keeper.")
    Q_PROPERTY(QString machineName READ machineName WRITE setMachineName NOTIFY changed)
    Q_PROPERTY(QString host READ host WRITE setHost NOTIFY changed)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY changed)
    Q_PROPERTY(QString advertisedHost READ advertisedHost WRITE setAdvertisedHost NOTIFY changed)
    Q_PROPERTY(QString workingDirectory READ workingDirectory WRITE setWorkingDirectory NOTIFY changed)
    Q_PROPERTY(QUrl workingDirectoryURL READ workingDirectoryURL NOTIFY changed)
    // The Codex program the bridge runs; empty: it looks for one itself.
    Q_PROPERTY(QString codexPath READ codexPath WRITE setCodexPath NOTIFY changed)
    // Where the Codex program chooser opens: the chosen program's folder, else the home folder.
    Q_PROPERTY(QUrl codexFolderURL READ codexFolderURL NOTIFY changed)
    // The first invalid setting's message, as the keeper last checked, and the field it is about
    // (its name among the properties above).
    Q_PROPERTY(QString validationMessage READ validationMessage NOTIFY changed)
    Q_PROPERTY(QString validationField READ validationField NOTIFY changed)

  public:
    explicit AgentSettingsMirror(AgentKeeperLink& link, QObject* parent = nullptr);

    // The keeper's "settings" values.
    void apply(const QJsonObject& values);

    QString machineName() const { return m_shown.value(QStringLiteral("machineName")); }
    QString host() const { return m_shown.value(QStringLiteral("host")); }
    QString port() const { return m_shown.value(QStringLiteral("port")); }
    QString advertisedHost() const { return m_shown.value(QStringLiteral("advertisedHost")); }
    QString workingDirectory() const { return m_shown.value(QStringLiteral("workingDirectory")); }
    QUrl workingDirectoryURL() const { return QUrl::fromLocalFile(workingDirectory().trimmed()); }
    QString codexPath() const { return m_shown.value(QStringLiteral("codexPath")); }
    QUrl codexFolderURL() const;
    QString validationMessage() const { return m_validationMessage; }
    QString validationField() const { return m_validationField; }
    void setMachineName(const QString& value) { edit(QStringLiteral("machineName"), value); }
    void setHost(const QString& value) { edit(QStringLiteral("host"), value); }
    void setPort(const QString& value) { edit(QStringLiteral("port"), value); }
    void setAdvertisedHost(const QString& value) { edit(QStringLiteral("advertisedHost"), value); }
    void setWorkingDirectory(const QString& value) { edit(QStringLiteral("workingDirectory"), value); }
    void setCodexPath(const QString& value) { edit(QStringLiteral("codexPath"), value); }

    // The folder the window's folder dialog returned; anything but a local folder is ignored.
    Q_INVOKABLE void chooseWorkspace(const QUrl& folder);
    // The program the window's file dialog returned; anything but a local file is ignored.
    Q_INVOKABLE void chooseCodexProgram(const QUrl& program);

  signals:
    void changed();

  private:
    void edit(const QString& field, const QString& value);
    void answered(quint64 id);
    bool isEditing(const QString& field) const;

    AgentKeeperLink& m_link;
    QHash<QString, QString> m_shown;  // what the window shows
    QHash<QString, QString> m_keeper; // what the keeper last said
    QHash<quint64, QString> m_edits;  // edits on their way: request id → field
    QString m_validationMessage;
    QString m_validationField;
};

} // namespace kestro::companion
