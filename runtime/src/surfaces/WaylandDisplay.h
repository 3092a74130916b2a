#pragma once
// One short conversation with the Wayland compositor that WAYLAND_DISPLAY names: which of the
// globals this runtime uses it offers, and the window in front with the output it is on. Bounded
// in time from the connection to the last reply, and in how much the compositor may announce: a
// compositor that is gone, says nothing, breaks the protocol or floods ends the session, never
// the caller. Use a session on one thread only. Linux only (WaylandDisplayLinux.cpp).

#include "platform/EnvironmentLookup.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace kestro {

struct WaylandConversation; // the compositor's connection and what it said (WaylandDisplayLinux.cpp)

// A Wayland session: WAYLAND_DISPLAY set, or XDG_SESSION_TYPE "wayland". Its screen is the
// compositor's, even when XWayland also offers an X display.
bool isWaylandSession(const EnvironmentLookup& environment);

// Where the compositor listens: WAYLAND_DISPLAY (else "wayland-0") within XDG_RUNTIME_DIR, or the
// absolute path WAYLAND_DISPLAY names; absent when that gives no usable socket path.
std::optional<std::string> waylandSocketPath(const EnvironmentLookup& environment);

// The window in front: its application id, and the output it is on when that is exactly one
// output with a name.
struct FrontWindow {
    std::string appID;
    std::optional<std::string> outputName;
    bool operator==(const FrontWindow&) const = default;
};

class WaylandDisplaySession {
  public:
    enum class State {
        noDisplay, // not a Wayland session
        refused,   // no compositor at the socket, or it hung up or broke the protocol
        timedOut,  // the compositor did not answer by the deadline
        connected,
    };

    // Connects and reads the compositor's globals. Everything the session does ends within
    // `budget` from now.
    WaylandDisplaySession(const EnvironmentLookup& environment, std::chrono::milliseconds budget);
    ~WaylandDisplaySession();
    WaylandDisplaySession(const WaylandDisplaySession&) = delete;
    WaylandDisplaySession& operator=(const WaylandDisplaySession&) = delete;

    // Changes to refused or timedOut when a later question fails.
    State state() const { return m_state; }

    // wlr-screencopy-unstable-v1, which grim captures with.
    bool offersScreencopy() const;
    // wlr-foreign-toplevel-management-unstable-v1, which says which window is in front.
    bool offersToplevelList() const;
    // How many outputs (monitors) the compositor announced.
    size_t outputCount() const;

    // The activated window from the compositor's toplevel list; absent when none is activated,
    // the compositor keeps no such list, or the list could not be read (state() then says why).
    std::optional<FrontWindow> frontWindow();

  private:
    State m_state = State::noDisplay;
    std::unique_ptr<WaylandConversation> m_conversation;
};

} // namespace kestro
