#pragma once
// Starting the companion when the user logs in, hidden (`--hidden`): one implementation file
// per system. On Linux an XDG autostart entry, on macOS a per-user launch agent. The entry on
// disk is the truth: a user who removes it by hand finds the switch off. GUI thread only.

#include <QString>
#include <memory>

namespace kestro::companion {

class AgentLoginItem {
  public:
    virtual ~AgentLoginItem() = default;
    virtual bool isEnabled() const = 0;
    // Writes or removes the entry; the error's description, or empty on success.
    virtual QString setEnabled(bool enabled) = 0;
};

// The system's login item for `program` (this executable by default).
std::unique_ptr<AgentLoginItem> systemLoginItem(const QString& program = QString());

// The command-line switch that starts the companion without showing its window.
inline constexpr char kHiddenSwitch[] = "hidden";

} // namespace kestro::companion
