#pragma once
// The companion's presence in the desktop's tray (StatusNotifierItem or the XEmbed tray), where
// there is one: an icon that shows the runtime's state, a tooltip with the machine name and
// the state, and a menu ("Show kestro Agent", "Copy pair link", "Start"/"Stop", "Quit"). It
// follows the view model and calls its operations; showing the window and quitting are the
// application's, asked for by signal. GUI thread only; needs a QApplication.

#include <QColor>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>

namespace kestro::companion {

class AgentViewModel;

class AgentTrayIcon : public QObject {
    Q_OBJECT

  public:
    // `stateColor` gives the colour of a state (AgentViewModel::RuntimeState) as the window shows it.
    AgentTrayIcon(AgentViewModel& viewModel, std::function<QColor(int)> stateColor,
                  QObject* parent = nullptr);

    // Whether the desktop has a tray now (one may come or go while the companion runs).
    static bool isAvailable();
    bool isVisible() const { return m_icon.isVisible(); }
    QString toolTip() const { return m_icon.toolTip(); }

    // Tells the user, once, that a closed window leaves the bridge running.
    void notifyStillRunning();

  signals:
    void showRequested();
    void quitRequested();

  private:
    void follow();

    AgentViewModel& m_viewModel;
    std::function<QColor(int)> m_stateColor;
    QMenu m_menu;
    QAction* m_copy = nullptr;
    QAction* m_startStop = nullptr;
    int m_shownState = -1; // the state the icon shows
    QSystemTrayIcon m_icon;
};

} // namespace kestro::companion
