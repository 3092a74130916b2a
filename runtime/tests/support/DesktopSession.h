#pragma once
// A private X display for tests: Xvfb on a display number it picks itself, with openbox managing
// its windows when asked, and programs shown on it. Every process is a child of this value,
// stopped by its pid and reaped when the session goes.

#include "platform/ChildProcess.h"
#include "support/TemporaryFolder.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestro::testing {

struct DesktopOptions {
    unsigned width = 1280;
    unsigned height = 1024;
    unsigned depth = 24;
    bool windowManager = true;
    std::vector<std::string> serverArguments; // more Xvfb options, such as {"-auth", file}
};

class DesktopSession {
  public:
    explicit DesktopSession(const DesktopOptions& options = {});
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // ":N" once the server is ready; empty when it could not be started.
    const std::string& display() const { return m_display; }
    // The X server's process, for tests that stop it (SIGSTOP) to play a display that hangs; the
    // session continues it before it goes. -1 when it could not be started.
    pid_t serverPid() const { return m_server ? m_server->pid() : -1; }
    // DISPLAY, HOME (a folder of the session's own) and PATH, for the programs on it.
    std::map<std::string, std::string> environment() const;

    // Starts a program on the display with the session's environment; false when it could not be
    // started. Its output is dropped.
    bool start(const std::string& executable, const std::vector<std::string>& arguments);
    // Chromium in a window of its own (not headless) showing `url`, in a throwaway profile.
    bool startChromium(const std::string& url);

  private:
    void stop(ChildProcess& child);

    TemporaryFolder m_home;
    std::optional<ChildProcess> m_server;
    std::vector<ChildProcess> m_programs;
    std::string m_display;
};

} // namespace kestro::testing
