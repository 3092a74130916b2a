#include "AgentWindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>

namespace kestro::companion {

namespace {

// The screen's free area in logical pixels. At a scale that is not a whole number Qt rounds its
// size to the nearest logical pixel, which may be up to half a device pixel more than the screen
// has: a window that large would reach past the edge, so the area is one logical pixel less.
QRect freeArea(const QScreen& screen) {
    QRect area = screen.availableGeometry();
    const qreal ratio = screen.devicePixelRatio();
    if (ratio != std::floor(ratio)) area.adjust(0, 0, -1, -1);
    return area;
}

} // namespace

AgentWindowPlacement::AgentWindowPlacement(QWindow& window, QSettings& settings, QObject* parent)
    : QObject(parent), m_window(window), m_settings(settings) {
    m_keep.setSingleShot(true);
    m_keep.setInterval(kKeepMilliseconds);
    connect(&m_keep, &QTimer::timeout, this, &AgentWindowPlacement::keep);
    // Only what the person does to a shown window counts (not the placing before it shows).
    const auto changed = [this] {
        if (m_window.isVisible()) m_keep.start();
    };
    connect(&m_window, &QWindow::xChanged, this, changed);
    connect(&m_window, &QWindow::yChanged, this, changed);
    connect(&m_window, &QWindow::widthChanged, this, changed);
    connect(&m_window, &QWindow::heightChanged, this, changed);
    connect(&m_window, &QWindow::windowStateChanged, this, changed);
}

AgentWindowPlacement::~AgentWindowPlacement() {
    if (m_keep.isActive()) keep();
}

QRect AgentWindowPlacement::fitted(const QRect& kept, const QRect& available, const QSize& minimum) {
    const QSize size = kept.size().boundedTo(available.size()).expandedTo(minimum);
    // Within the area where it fits; at its top left corner where it does not.
    const int x = std::max(available.left(), std::min(kept.x(), available.right() + 1 - size.width()));
    const int y = std::max(available.top(), std::min(kept.y(), available.bottom() + 1 - size.height()));
    return {QPoint(x, y), size};
}

void AgentWindowPlacement::restore() {
    const QRect kept = m_settings.value(QLatin1String(kGeometryKey)).toRect();
    if (!kept.isValid()) {
        // The default size, within the free area of the screen it opens on: on a small screen the
        // window is smaller and its content scrolls.
        if (const QScreen* screen = m_window.screen())
            m_window.resize(
                m_window.size().boundedTo(freeArea(*screen).size()).expandedTo(m_window.minimumSize()));
        return;
    }
    // The screen it was on, if that is still there; else the one it opens on.
    QScreen* screen = QGuiApplication::screenAt(kept.center());
    if (screen == nullptr) screen = m_window.screen();
    if (screen == nullptr) return;
    m_window.setScreen(screen);
    m_window.setGeometry(fitted(kept, freeArea(*screen), m_window.minimumSize()));
    if (m_settings.value(QLatin1String(kMaximizedKey)).toBool())
        m_window.setWindowStates(Qt::WindowMaximized);
}

void AgentWindowPlacement::keep() {
    m_keep.stop();
    const bool maximized = (m_window.windowStates() & (Qt::WindowMaximized | Qt::WindowFullScreen)) != 0;
    // A maximized window's size says nothing of where it goes back to.
    const QRect geometry = maximized || (m_window.windowStates() & Qt::WindowMinimized)
                               ? m_settings.value(QLatin1String(kGeometryKey)).toRect()
                               : m_window.geometry();
    // Written only when it moved: the settings file is the keeper's too.
    if (m_settings.value(QLatin1String(kMaximizedKey)).toBool() == maximized &&
        m_settings.value(QLatin1String(kGeometryKey)).toRect() == geometry)
        return;
    m_settings.setValue(QLatin1String(kMaximizedKey), maximized);
    if (geometry.isValid()) m_settings.setValue(QLatin1String(kGeometryKey), geometry);
    m_settings.sync();
}

} // namespace kestro::companion
