#include "AgentRestartPolicy.h"

#include <algorithm>

namespace kestro::companion {

std::optional<int> AgentRestartPolicy::pauseAfterEnd(qint64 listeningSince, qint64 now) {
    // A runtime that served a good while before it ended starts a fresh series.
    if (now - listeningSince >= m_timing.failureWindow) m_pause = 0;
    m_ends.append(now);
    m_ends.removeIf([&](qint64 end) { return now - end >= m_timing.failureWindow; });
    if (m_ends.size() >= m_timing.failuresToGiveUp) return std::nullopt;
    m_pause = m_pause == 0 ? m_timing.firstPause : std::min(2 * m_pause, m_timing.longestPause);
    return m_pause;
}

void AgentRestartPolicy::reset() {
    m_ends.clear();
    m_pause = 0;
}

} // namespace kestro::companion
