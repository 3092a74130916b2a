#include "AgentRuntimeState.h"

namespace kestro::companion {

QString statusText(AgentRuntimeState state) {
    switch (state) {
    case AgentRuntimeState::stopped:
        return QStringLiteral("Stopped");
    case AgentRuntimeState::starting:
        return QStringLiteral("Starting");
    case AgentRuntimeState::running:
        return QStringLiteral("Running");
    case AgentRuntimeState::failed:
        break;
    }
    return QStringLiteral("Needs attention");
}

QColor stateColor(AgentRuntimeState state) {
    switch (state) {
    case AgentRuntimeState::stopped:
        return QColor::fromRgbF(0.48f, 0.54f, 0.65f);
    case AgentRuntimeState::starting:
        return QColor::fromRgbF(0.56f, 0.71f, 1.0f);
    case AgentRuntimeState::running:
        return QColor::fromRgbF(0.49f, 0.93f, 0.83f);
    case AgentRuntimeState::failed:
        break;
    }
    return QColor::fromRgbF(1.0f, 0.54f, 0.56f);
}

} // namespace kestro::companion
