#pragma once
// A private session bus (dbus-daemon) for tests, and on it, once started, a stand-in for the
// desktop portal's screenshot service (fixtures/FakeScreenshotPortal.cpp) that answers with a
// given picture, a refusal or nothing. Both processes are children of this value.

#include "platform/ChildProcess.h"
#include "support/TemporaryFolder.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro::testing {

class PortalBus {
  public:
    PortalBus();
    ~PortalBus();
    PortalBus(const PortalBus&) = delete;
    PortalBus& operator=(const PortalBus&) = delete;

    // The bus's address once it runs; empty when dbus-daemon could not be started.
    const std::string& address() const { return m_address; }

    // Starts the stand-in, answering with the PNG file at `picture`; false when it did not come up.
    bool startPortal(const std::string& picture);
    // How the stand-in answers from now on: "picture", "link", "cancelled", "refused" or "silent".
    void answerWith(const std::string& behaviour) const;
    // The stand-in's log: "ready", "request HANDLE" for each call, "closed HANDLE" for each Close.
    std::vector<std::string> log() const;
    // Where the stand-in writes its pictures.
    std::string pictureFolder() const { return m_folder.path() + "/pictures"; }

  private:
    TemporaryFolder m_folder;
    std::optional<ChildProcess> m_daemon;
    std::optional<ChildProcess> m_portal;
    std::string m_address;
};

} // namespace kestro::testing
