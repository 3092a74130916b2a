#pragma once
// The displays that did not answer within their budget, remembered for a short time, so that the
// next status and previews say at once that the display cannot be reached instead of waiting for
// it again. A display is named by its source, as `displaySource` gives it ("x11::0"); whoever
// waited on a display and ran out of time (a capture path by its own deadline, or the state by its
// budget) reports it here, and a display reported is skipped until the memory of it expires.
// Thread-safe.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace kestro {

class UnansweredDisplays {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRemembered{30};

    explicit UnansweredDisplays(std::chrono::milliseconds remembered = kRemembered,
                                std::function<Clock::time_point()> now = &Clock::now);

    // `display` did not answer in time; an empty name (no display) is not remembered.
    void reportUnanswered(const std::string& display);
    // Whether `display` was reported within the remembered time.
    bool isUnanswered(const std::string& display) const;

  private:
    const std::chrono::milliseconds m_remembered;
    const std::function<Clock::time_point()> m_now;
    mutable std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_reportedAt;
};

} // namespace kestro
