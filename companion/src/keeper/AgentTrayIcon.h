#pragma once
// The keeper's presence in the desktop's tray (StatusNotifierItem or the XEmbed tray), where
// there is one: an icon that shows the runtime's state as a coloured dot, a tooltip with the
// machine name and the state, a menu ("Show kestro Agent", "Copy pair link", "Start"/"Stop",
// "Quit") and notifications. It follows the keeper and calls its operations; showing the window
// and quitting are the application's, asked for by signal. GUI thread only; needs a QApplication.

#include "AgentRuntimeState.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

namespace kestro::companion {

class AgentKeeper;

class AgentTrayIcon : public QObject {
    Q_OBJECT

  public:
    // The keeper must outlive the icon.
    explicit AgentTrayIcon(AgentKeeper& keeper, QObject* parent = nullptr);

    // Whether the desktop has a tray now (one may come or go while the keeper runs).
    static bool isAvailable();
    // The mark with the state's dot in its corner.
    static QIcon stateIcon(AgentRuntimeState state);

    bool isVisible() const { return m_icon.isVisible(); }
    QString toolTip() const { return m_icon.toolTip(); }
    QIcon icon() const { return m_icon.icon(); }

    // A notification from the icon (a balloon where the desktop has no notification service).
    void notify(const QString& title, const QString& message);

  signals:
    void showRequested();
    void quitRequested();

  private:
    void follow();

    AgentKeeper& m_keeper;
    QMenu m_menu;
    QAction* m_copy = nullptr;
    QAction* m_startStop = nullptr;
    int m_shownState = -1; // the state the icon shows
    QSystemTrayIcon m_icon;
};

} // namespace kestro::companion
