#include "AgentDesktopMirror.h"

#include "AgentChannel.h"
#include "AgentKeeperLink.h"

namespace kestro::companion {

AgentDesktopMirror::AgentDesktopMirror(AgentKeeperLink& link, QObject* parent)
    : QObject(parent), m_link(link) {}

void AgentDesktopMirror::apply(const QJsonObject& values) {
    m_startsAtLogin = values.value(QStringLiteral("startsAtLogin")).toBool();
    m_hasTray = values.value(QStringLiteral("hasTray")).toBool();
    // Also when nothing changed: a switch that was flipped shows the truth again.
    emit changed();
}

void AgentDesktopMirror::setStartsAtLogin(bool enabled) {
    m_link.request(channel::kSetStartsAtLogin, {{QStringLiteral("enabled"), enabled}});
}

} // namespace kestro::companion
