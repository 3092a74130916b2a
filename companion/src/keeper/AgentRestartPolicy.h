#pragma once
// When a runtime that ended on its own after it was listening is started again: after 1 s, then
// twice as long after each further end (at most 30 s apart), the pause starting again from 1 s
// once a runtime has served for 2 minutes; after 5 ends within 2 minutes, not at all until the
// user starts it. Times are the caller's (milliseconds on a monotonic clock). Plain value.

#include <QList>
#include <optional>

namespace kestro::companion {

struct AgentRestartTiming {
    int firstPause = 1000;
    int longestPause = 30000;
    int failureWindow = 120000; // ends counted together; also what counts as having served well
    int failuresToGiveUp = 5;
};

class AgentRestartPolicy {
  public:
    using Timing = AgentRestartTiming;

    explicit AgentRestartPolicy(Timing timing = {}) : m_timing(timing) {}

    const Timing& timing() const { return m_timing; }
    // A runtime that listened since `listeningSince` ended on its own at `now`: the pause before
    // the next start, or absent when it is not started again.
    std::optional<int> pauseAfterEnd(qint64 listeningSince, qint64 now);
    // The user started it: the ends so far are forgotten.
    void reset();

  private:
    Timing m_timing;
    QList<qint64> m_ends;
    int m_pause = 0; // the last pause, 0 when the next one is the first
};

} // namespace kestro::companion
