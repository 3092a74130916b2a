#include "AgentTrayIcon.h"

#include "AgentKeeper.h"

#include <QPainter>
#include <QPixmap>

namespace kestro::companion {

QIcon AgentTrayIcon::stateIcon(AgentRuntimeState state) {
    // The mark with the state as a dot in its lower right corner, ringed so it reads on any panel.
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(pixmap.rect(), QPixmap(QStringLiteral(":/keeper/kestro-mark-64.png")));
        const qreal dot = size * 0.42;
        const QRectF corner(size - dot, size - dot, dot, dot);
        painter.setPen(QPen(QColor(8, 10, 20), size / 16.0 + 0.5));
        painter.setBrush(stateColor(state));
        painter.drawEllipse(corner.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

AgentTrayIcon::AgentTrayIcon(AgentKeeper& keeper, QObject* parent) : QObject(parent), m_keeper(keeper) {
    connect(m_menu.addAction(QStringLiteral("Show kestro Agent")), &QAction::triggered, this,
            &AgentTrayIcon::showRequested);
    m_copy = m_menu.addAction(QStringLiteral("Copy pair link"));
    connect(m_copy, &QAction::triggered, &m_keeper, &AgentKeeper::copyPairLink);
    m_startStop = m_menu.addAction(QString());
    connect(m_startStop, &QAction::triggered, this, [this] {
        AgentRuntimeSupervisor& runtime = m_keeper.runtime();
        if (runtime.showsStop())
            runtime.stop();
        else
            runtime.start();
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
    connect(&m_keeper.runtime(), &AgentRuntimeSupervisor::changed, this, &AgentTrayIcon::follow);
    connect(&m_keeper.settings(), &AgentLaunchSettings::changed, this, &AgentTrayIcon::follow);
    follow();
    m_icon.show();
}

bool AgentTrayIcon::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void AgentTrayIcon::follow() {
    const AgentRuntimeSupervisor& runtime = m_keeper.runtime();
    if (const int state = int(runtime.state()); state != m_shownState) {
        m_shownState = state;
        m_icon.setIcon(stateIcon(runtime.state()));
    }
    m_icon.setToolTip(QStringLiteral("kestro Agent · %1: %2")
                          .arg(m_keeper.settings().configuration().machineName, statusText(runtime.state())));
    m_copy->setEnabled(runtime.hasPairLink());
    const bool stops = runtime.showsStop();
    m_startStop->setText(stops ? QStringLiteral("Stop") : QStringLiteral("Start"));
    m_startStop->setEnabled(stops || runtime.canStart());
}

void AgentTrayIcon::notify(const QString& title, const QString& message) {
    m_icon.showMessage(title, message, QSystemTrayIcon::Information, 8000);
}

} // namespace kestro::companion
