#pragma once
// A headless sway session for tests, with programs shown on it. sway refuses to run as root, so
// a test run as root runs sway (and whatever should meet it as its user would) as an unprivileged
// system user made for the tests on first use; otherwise everything runs as the tests' own user.
// Every process is a child of this value, stopped by its pid when the session goes.

#include "platform/ChildProcess.h"
#include "support/TemporaryFolder.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestro::testing {

struct WaylandSessionOptions {
    unsigned width = 1280;
    unsigned height = 720;
};

class WaylandSession {
  public:
    explicit WaylandSession(const WaylandSessionOptions& options = {});
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // Why the session could not start, for a skipped test; empty once sway runs.
    const std::string& unavailable() const { return m_unavailable; }
    // HOME, XDG_RUNTIME_DIR (the session user's own folders), WAYLAND_DISPLAY, PATH and LANG.
    std::map<std::string, std::string> environment() const;
    // The words that run a program as the session's user ("/usr/bin/setpriv", …, "--"); none
    // when that is the tests' own user.
    std::vector<std::string> asUser() const;
    // A copy of the program at `path` that the session's user may run (the build tree may be
    // closed to it).
    std::string copyForUser(const std::string& path) const;
    // A folder for files of the session's user.
    const std::string& folder() const { return m_home; }

    // Starts a program as the session's user with the session's environment; false when it
    // could not be started. Its output is dropped.
    bool start(const std::string& executable, const std::vector<std::string>& arguments);
    // Adds a second monitor of the same size, to the right of the first (swaymsg create_output).
    bool addOutput();

  private:
    TemporaryFolder m_folder;
    std::string m_home;
    std::string m_runtimeDirectory;
    std::string m_display;
    std::optional<uid_t> m_user; // the system user, when the tests run as root
    gid_t m_group = 0;
    std::optional<ChildProcess> m_compositor;
    std::vector<ChildProcess> m_programs;
    std::string m_unavailable;
};

} // namespace kestro::testing
