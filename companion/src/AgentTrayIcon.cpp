#include "AgentTrayIcon.h"

#include "AgentViewModel.h"

#include <QPainter>
#include <QPixmap>

namespace kestro::companion {

namespace {

// The mark with the state as a dot in its lower right corner, ringed so it reads on any panel.
QIcon stateIcon(const QColor& state) {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(pixmap.rect(), QPixmap(QStringLiteral(":/KestroAgent/KestroMark.png")));
        const qreal dot = size * 0.42;
        const QRectF corner(size - dot, size - dot, dot, dot);
        painter.setPen(QPen(QColor(8, 10, 20), size / 16.0 + 0.5));
        painter.setBrush(state);
        painter.drawEllipse(corner.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

AgentTrayIcon::AgentTrayIcon(AgentViewModel& viewModel, std::function<QColor(int)> stateColor,
                             QObject* parent)
    : QObject(parent), m_viewModel(viewModel), m_stateColor(std::move(stateColor)) {
    connect(m_menu.addAction(QStringLiteral("Show kestro Agent")), &QAction::triggered, this,
            &AgentTrayIcon::showRequested);
    m_copy = m_menu.addAction(QStringLiteral("Copy pair link"));
    connect(m_copy, &QAction::triggered, &m_viewModel, &AgentViewModel::copyPairLink);
    m_startStop = m_menu.addAction(QString());
    connect(m_startStop, &QAction::triggered, this, [this] {
        if (m_viewModel.showsStop())
            m_viewModel.stop();
        else
            m_viewModel.start();
    });
    m_menu.addSeparator();
    connect(m_menu.addAction(QStringLiteral("Quit")), &QAction::triggered, this,
            &AgentTrayIcon::quitRequested);
    m_icon.setContextMenu(&m_menu);
    // A click on the icon itself shows the window, as the menu's first entry does.
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showRequested();
    });
    for (auto changed : {&AgentViewModel::runtimeStateChanged, &AgentViewModel::controlsChanged,
                         &AgentViewModel::pairLinkChanged, &AgentViewModel::configurationChanged})
        connect(&m_viewModel, changed, this, &AgentTrayIcon::follow);
    follow();
    m_icon.show();
}

bool AgentTrayIcon::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void AgentTrayIcon::follow() {
    const int state = int(m_viewModel.runtimeState());
    if (state != m_shownState) {
        m_shownState = state;
        m_icon.setIcon(stateIcon(m_stateColor(state)));
    }
    m_icon.setToolTip(
        QStringLiteral("kestro Agent · %1: %2").arg(m_viewModel.machineName(), m_viewModel.statusText()));
    m_copy->setEnabled(m_viewModel.hasPairLink());
    const bool stops = m_viewModel.showsStop();
    m_startStop->setText(stops ? QStringLiteral("Stop") : QStringLiteral("Start"));
    m_startStop->setEnabled(stops || m_viewModel.canStart());
}

void AgentTrayIcon::notifyStillRunning() {
    m_icon.showMessage(
        QStringLiteral("kestro Agent is still running"),
        QStringLiteral("Your phone can still reach this computer. Quit from the tray icon's menu."),
        QSystemTrayIcon::Information, 8000);
}

} // namespace kestro::companion
