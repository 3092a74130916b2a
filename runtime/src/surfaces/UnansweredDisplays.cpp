#include "surfaces/UnansweredDisplays.h"

#include <iterator>
#include <utility>

namespace kestro {

namespace {
// The names come from the runtime's own environment, so there are few; the bound keeps it so.
constexpr size_t kMostDisplays = 16;
} // namespace

UnansweredDisplays::UnansweredDisplays(std::chrono::milliseconds remembered,
                                       std::function<Clock::time_point()> now)
    : m_remembered(remembered), m_now(std::move(now)) {}

void UnansweredDisplays::reportUnanswered(const std::string& display) {
    if (display.empty()) return;
    const Clock::time_point now = m_now();
    const std::lock_guard lock(m_mutex);
    for (auto entry = m_reportedAt.begin(); entry != m_reportedAt.end();)
        entry = now - entry->second >= m_remembered ? m_reportedAt.erase(entry) : std::next(entry);
    if (m_reportedAt.size() >= kMostDisplays && !m_reportedAt.contains(display)) return;
    m_reportedAt[display] = now;
}

bool UnansweredDisplays::isUnanswered(const std::string& display) const {
    const Clock::time_point now = m_now();
    const std::lock_guard lock(m_mutex);
    const auto found = m_reportedAt.find(display);
    return found != m_reportedAt.end() && now - found->second < m_remembered;
}

} // namespace kestro
