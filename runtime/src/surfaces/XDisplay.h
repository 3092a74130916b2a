#pragma once
// One short conversation with the X server that DISPLAY names, bounded in time from the
// connection to the last reply and in what the server may send: a server that is gone, refuses
// us, says nothing, or says more or other than it was asked ends the same way, as a failure by
// the deadline. Use a session on one thread only. Linux only (XDisplayLinux.cpp).

#include "platform/EnvironmentLookup.h"
#include "surfaces/ImageShrinking.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestro {

// A DISPLAY value this runtime connects to: a local display ("[unix]:N[.S]", over the local
// socket) or one over TCP to a numeric address or localhost ("127.0.0.1:N", "[::1]:N",
// "localhost:N", as ssh's forwarding sets it). Host names that would need a lookup are not used:
// a name server cannot be made to answer by a deadline.
struct DisplayName {
    bool local = true;
    std::string address; // numeric address for TCP; empty for a local display
    uint32_t display = 0;
    uint32_t screen = 0;
    bool operator==(const DisplayName&) const = default;
};
std::optional<DisplayName> parseDisplayName(const std::string& text);

class XDisplaySession {
  public:
    enum class State {
        noDisplay,   // DISPLAY unset or empty
        unreachable, // set, but no working connection by the deadline, or a name not used
        connected,
    };

    // Connects to the display in the environment's DISPLAY, with its cookie from XAUTHORITY
    // (else ~/.Xauthority). Everything the session does ends within `budget` from now.
    XDisplaySession(const EnvironmentLookup& environment, std::chrono::milliseconds budget);
    ~XDisplaySession();
    XDisplaySession(const XDisplaySession&) = delete;
    XDisplaySession& operator=(const XDisplaySession&) = delete;

    State state() const { return m_state; }
    // Whether the session's time is up: after a failure, the display did not answer in time,
    // where a display that refuses or is not there fails at once.
    bool outOfTime() const { return std::chrono::steady_clock::now() >= m_deadline; }

    // The class part of WM_CLASS of the window in front (_NET_ACTIVE_WINDOW); absent when there
    // is none or it cannot be read.
    std::optional<std::string> activeWindowClass();

    // The whole screen, shrunk to at most `maxSide` pixels on its longer side; absent on failure.
    std::optional<RGBImage> screenImage(uint32_t maxSide);

  private:
    struct Connection;
    State m_state = State::noDisplay;
    std::chrono::steady_clock::time_point m_deadline;
    std::unique_ptr<Connection> m_connection;
};

} // namespace kestro
