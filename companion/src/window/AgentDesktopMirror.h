#pragma once
// The window's copy of how the companion lives on the desktop: start at login (a change is asked
// of the keeper, which writes the login item and answers with the truth) and whether there is a
// tray. GUI thread only.

#include <QJsonObject>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace kestro::companion {

class AgentKeeperLink;

class AgentDesktopMirror : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The desktop life comes from the keeper.")
    Q_PROPERTY(bool startsAtLogin READ startsAtLogin WRITE setStartsAtLogin NOTIFY changed)
    Q_PROPERTY(bool hasTray READ hasTray NOTIFY changed)

  public:
    explicit AgentDesktopMirror(AgentKeeperLink& link, QObject* parent = nullptr);

    // The keeper's "desktop" values.
    void apply(const QJsonObject& values);

    bool startsAtLogin() const { return m_startsAtLogin; }
    // Asks the keeper; the value shown changes when it answers.
    void setStartsAtLogin(bool enabled);
    bool hasTray() const { return m_hasTray; }

  signals:
    void changed();

  private:
    AgentKeeperLink& m_link;
    bool m_startsAtLogin = false;
    bool m_hasTray = false;
};

} // namespace kestro::companion
