#include "run/RunProcessGroups.h"

#include <csignal>

namespace kestro {

void RunProcessGroups::add(pid_t group) {
    const std::lock_guard lock(m_mutex);
    m_groups.insert(group);
}

void RunProcessGroups::remove(pid_t group) {
    const std::lock_guard lock(m_mutex);
    m_groups.erase(group);
}

void RunProcessGroups::signalAll(int signalNumber) {
    const std::lock_guard lock(m_mutex);
    for (const pid_t group : m_groups)
        ::killpg(group, signalNumber);
}

bool RunProcessGroups::empty() const {
    const std::lock_guard lock(m_mutex);
    return m_groups.empty();
}

} // namespace kestro
