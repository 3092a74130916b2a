#pragma once
// Where the window was last: kept in the application's settings, restored before it shows (within
// the free area of the screen it was on, or of the screen it opens on; the default size, within
// that area, when nothing was kept) and kept again a moment after each move, resize or change
// between normal and maximized. GUI thread only.

#include <QObject>
#include <QRect>
#include <QSettings>
#include <QTimer>

class QWindow;

namespace kestro::companion {

class AgentWindowPlacement : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kGeometryKey = "com.brantel.kestro.agent.windowGeometry";
    static constexpr const char* kMaximizedKey = "com.brantel.kestro.agent.windowMaximized";
    // How long the window stays put before where it is gets written.
    static constexpr int kKeepMilliseconds = 500;

    // `window` and `settings` must outlive the placement.
    AgentWindowPlacement(QWindow& window, QSettings& settings, QObject* parent = nullptr);
    // Writes what is not written yet.
    ~AgentWindowPlacement() override;

    // Places the window as it was, or at its default size; call before it shows.
    void restore();

    // `kept` moved and shrunk into `available` as little as it takes, never below `minimum`.
    static QRect fitted(const QRect& kept, const QRect& available, const QSize& minimum);

  private:
    void keep();

    QWindow& m_window;
    QSettings& m_settings;
    QTimer m_keep;
};

} // namespace kestro::companion
