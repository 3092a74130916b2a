#pragma once
// The runtime's state as both programs show it: the window's badge and the tray icon's dot and
// tooltip. Plain values; any thread.

#include <QColor>
#include <QString>

namespace kestro::companion {

enum class AgentRuntimeState {
    stopped,  // no runtime process; the initial state
    starting, // launched, not yet listening
    running,  // it printed its "listening on" line
    failed,   // refused, failed to launch, or ended without being asked to
};

// "Stopped", "Starting", "Running", "Needs attention".
QString statusText(AgentRuntimeState state);

// The state's colour: slate, blue, mint, coral.
QColor stateColor(AgentRuntimeState state);

} // namespace kestro::companion
