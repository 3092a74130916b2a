#pragma once
// The window's copy of the runtime's state and banner facts, as the keeper publishes them, with
// the runtime's actions sent back to the keeper. GUI thread only.

#include <QColor>
#include <QJsonObject>
#include <QObject>
#include <QUrl>
#include <QVariantHash>
#include <QtQml/qqmlregistration.h>

namespace kestro::companion {

class AgentKeeperLink;

class AgentRuntimeMirror : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The runtime's state comes from the keeper.")
    Q_PROPERTY(QString statusText READ statusText NOTIFY changed)
    Q_PROPERTY(QColor stateColor READ stateColor NOTIFY changed)
    Q_PROPERTY(bool canStart READ canStart NOTIFY changed)
    Q_PROPERTY(bool canRestart READ canRestart NOTIFY changed)
    Q_PROPERTY(bool showsStop READ showsStop NOTIFY changed)
    Q_PROPERTY(QString pairLink READ pairLink NOTIFY changed)
    Q_PROPERTY(bool hasPairLink READ hasPairLink NOTIFY changed)
    Q_PROPERTY(QString pairLinkText READ pairLinkText NOTIFY changed)
    Q_PROPERTY(QUrl pairPageURL READ pairPageURL NOTIFY changed)
    Q_PROPERTY(bool hasPairPage READ hasPairPage NOTIFY changed)
    Q_PROPERTY(QUrl pairImageURL READ pairImageURL NOTIFY changed)
    Q_PROPERTY(QString codexVersion READ codexVersion NOTIFY changed)
    Q_PROPERTY(QString diagnostic READ diagnostic NOTIFY changed)
    Q_PROPERTY(QString machineSummary READ machineSummary NOTIFY changed)
    Q_PROPERTY(QString lastEvent READ lastEvent NOTIFY changed)
    // The pairing code shown leads nowhere right now: why, and what happens next.
    Q_PROPERTY(bool down READ down NOTIFY changed)
    Q_PROPERTY(QString downReason READ downReason NOTIFY changed)
    Q_PROPERTY(QString nextStep READ nextStep NOTIFY changed)
    // The setting the next step asks to change (the settings' property name, "port"); empty: none.
    Q_PROPERTY(QString nextStepField READ nextStepField NOTIFY changed)
    // The bridge found no Codex: how to install it, or that the chosen program cannot be run.
    Q_PROPERTY(bool codexMissing READ codexMissing NOTIFY changed)
    Q_PROPERTY(QString codexAdvice READ codexAdvice NOTIFY changed)

  public:
    explicit AgentRuntimeMirror(AgentKeeperLink& link, QObject* parent = nullptr);

    // The keeper's "runtime" values.
    void apply(const QJsonObject& values);

    QString statusText() const;
    QColor stateColor() const;
    bool canStart() const { return flag("canStart"); }
    bool canRestart() const { return flag("canRestart"); }
    bool showsStop() const { return flag("showsStop"); }
    QString pairLink() const { return text("pairLink"); }
    bool hasPairLink() const { return flag("hasPairLink"); }
    QString pairLinkText() const { return text("pairLinkText"); }
    QUrl pairPageURL() const { return QUrl(text("pairPageURL")); }
    bool hasPairPage() const { return flag("hasPairPage"); }
    QUrl pairImageURL() const { return QUrl(text("pairImageURL")); }
    QString codexVersion() const { return text("codexVersion"); }
    QString diagnostic() const { return text("diagnostic"); }
    QString machineSummary() const { return text("machineSummary"); }
    QString lastEvent() const { return text("lastEvent"); }
    bool down() const { return flag("down"); }
    QString downReason() const { return text("downReason"); }
    QString nextStep() const { return text("nextStep"); }
    QString nextStepField() const { return text("nextStepField"); }
    bool codexMissing() const { return flag("codexMissing"); }
    QString codexAdvice() const { return text("codexAdvice"); }

    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void restart();
    Q_INVOKABLE void copyPairLink();
    Q_INVOKABLE void openPairingPage();

  signals:
    void changed();

  private:
    bool flag(const char* name) const { return m_values.value(QLatin1String(name)).toBool(); }
    QString text(const char* name) const { return m_values.value(QLatin1String(name)).toString(); }

    AgentKeeperLink& m_link;
    QVariantHash m_values;
};

} // namespace kestro::companion
