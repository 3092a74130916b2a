#pragma once
// How the companion lives on the desktop, as the window shows it: whether it starts at login (the
// login item on disk is the truth) and whether the desktop has a tray to keep it in. GUI thread
// only.

#include "AgentLoginItem.h"
#include "AgentSessionLog.h"

#include <QObject>
#include <memory>

namespace kestro::companion {

class AgentDesktopLife : public QObject {
    Q_OBJECT

  public:
    // No login item: never starts at login. The log must outlive this.
    AgentDesktopLife(std::unique_ptr<AgentLoginItem> loginItem, AgentSessionLog& log,
                     QObject* parent = nullptr);

    bool startsAtLogin() const;
    // Writes or removes the login item; a failure is logged, and `startsAtLogin` tells the truth.
    void setStartsAtLogin(bool enabled);
    // Says `changed` so the window reads the login item again: it may have been removed by hand.
    void refresh() { emit changed(); }
    bool hasTray() const { return m_hasTray; }
    void setHasTray(bool hasTray);

  signals:
    void changed();

  private:
    std::unique_ptr<AgentLoginItem> m_loginItem;
    AgentSessionLog& m_log;
    bool m_hasTray = false;
};

} // namespace kestro::companion
