#pragma once
// The process groups of the Codex runs in progress, so that a runtime asked to stop can end
// every run with it. Thread-safe.

#include <mutex>
#include <set>
#include <sys/types.h>

namespace kestro {

class RunProcessGroups {
  public:
    // A group is added once its leader has started and removed before the leader is reaped, so
    // every group listed still has its number (a reaped leader's number could be reused).
    void add(pid_t group);
    void remove(pid_t group);

    // Sends `signalNumber` to every group listed.
    void signalAll(int signalNumber);
    bool empty() const;

  private:
    mutable std::mutex m_mutex;
    std::set<pid_t> m_groups;
};

} // namespace kestro
