#include "AgentRuntimeMirror.h"

#include "AgentChannel.h"
#include "AgentKeeperLink.h"
#include "AgentRuntimeState.h"

namespace kestro::companion {

namespace {

AgentRuntimeState stateOf(const QVariantHash& values) {
    const int state = values.value(QStringLiteral("state")).toInt();
    return state >= int(AgentRuntimeState::stopped) && state <= int(AgentRuntimeState::failed)
               ? AgentRuntimeState(state)
               : AgentRuntimeState::stopped;
}

} // namespace

AgentRuntimeMirror::AgentRuntimeMirror(AgentKeeperLink& link, QObject* parent)
    : QObject(parent), m_link(link) {}

void AgentRuntimeMirror::apply(const QJsonObject& values) {
    QVariantHash received = values.toVariantHash();
    if (received == m_values) return;
    m_values = std::move(received);
    emit changed();
}

QString AgentRuntimeMirror::statusText() const {
    return kestro::companion::statusText(stateOf(m_values));
}

QColor AgentRuntimeMirror::stateColor() const {
    return kestro::companion::stateColor(stateOf(m_values));
}

void AgentRuntimeMirror::start() {
    m_link.request(channel::kStart);
}

void AgentRuntimeMirror::stop() {
    m_link.request(channel::kStop);
}

void AgentRuntimeMirror::restart() {
    m_link.request(channel::kRestart);
}

void AgentRuntimeMirror::copyPairLink() {
    m_link.request(channel::kCopyPairLink);
}

void AgentRuntimeMirror::openPairingPage() {
    m_link.request(channel::kOpenPairingPage);
}

} // namespace kestro::companion
