#include "AgentTokenMirror.h"

#include "AgentChannel.h"
#include "AgentKeeperLink.h"

namespace kestro::companion {

AgentTokenMirror::AgentTokenMirror(AgentKeeperLink& link, QObject* parent) : QObject(parent), m_link(link) {}

void AgentTokenMirror::apply(const QJsonObject& values) {
    const QString masked = values.value(QStringLiteral("maskedToken")).toString();
    const QString note = values.value(QStringLiteral("note")).toString();
    const QString advice = values.value(QStringLiteral("storeAdvice")).toString();
    if (masked == m_maskedToken && note == m_note && advice == m_storeAdvice) return;
    m_maskedToken = masked;
    m_note = note;
    m_storeAdvice = advice;
    emit changed();
}

void AgentTokenMirror::copy() {
    m_link.request(channel::kCopyToken);
}

void AgentTokenMirror::regenerate() {
    m_link.request(channel::kRegenerateToken);
}

void AgentTokenMirror::retryStore() {
    m_link.request(channel::kRetrySecretStore);
}

} // namespace kestro::companion
