#pragma once
// How a runtime process ended, and what the companion says when it ended without being asked
// to. Plain values; any thread.

#include <QString>

class QProcess;

namespace kestro::companion {

struct AgentProcessEnd {
    bool bySignal = false; // a signal ended it; else it exited
    int code = 0;          // the signal's number, or the exit status
    QString lastError;     // its last line on standard error; empty when it wrote none
};

// The system's name for a signal ("SIGKILL"); empty for one it has no portable name for.
QString signalName(int signal);

// "The bridge stopped unexpectedly with exit code 1." or "… by signal 9 (SIGKILL).", then the
// runtime's last error line, when it wrote one: what it said is usually why.
QString unexpectedEndMessage(const AgentProcessEnd& end);

// Ends `process` while its owner is going away: asked to end, killed if it has not within
// `graceMilliseconds`, and waited for a bounded while more (a process stuck in the kernel may
// outlive the wait).
void endWithin(QProcess& process, int graceMilliseconds);

// What to do next, and the launch setting (its JSON key) to change for it; no field when the
// step is not a setting's.
struct AgentNextStep {
    QString text;
    QString field;
};

// What to do about a runtime that ended before it listened, started on `port`: the port is taken,
// or not open to this user (change the port), or else look at the settings and the log.
AgentNextStep adviceForEndBeforeListening(const AgentProcessEnd& end, const QString& port);

} // namespace kestro::companion
