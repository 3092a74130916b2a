#include "AgentDesktopLife.h"

namespace kestro::companion {

AgentDesktopLife::AgentDesktopLife(std::unique_ptr<AgentLoginItem> loginItem, AgentSessionLog& log,
                                   QObject* parent)
    : QObject(parent), m_loginItem(std::move(loginItem)), m_log(log) {}

bool AgentDesktopLife::startsAtLogin() const {
    return m_loginItem && m_loginItem->isEnabled();
}

void AgentDesktopLife::setStartsAtLogin(bool enabled) {
    if (m_loginItem && enabled != startsAtLogin()) {
        if (const QString error = m_loginItem->setEnabled(enabled); !error.isEmpty())
            m_log.append(QStringLiteral("configuration: start at login could not be changed: ") + error);
    }
    // Also when nothing changed: a switch that was flipped shows the truth again.
    emit changed();
}

void AgentDesktopLife::setHasTray(bool hasTray) {
    if (hasTray == m_hasTray) return;
    m_hasTray = hasTray;
    emit changed();
}

} // namespace kestro::companion
