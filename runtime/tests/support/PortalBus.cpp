#include "support/PortalBus.h"

#include "support/LoopbackHTTP.h"

#include <algorithm>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace kestro::testing {

using namespace std::chrono;

namespace {

// Only what the tests need: no service files, so nothing but the stand-in can own the portal's
// name (a real portal installed here is never started).
std::string busConfiguration(const std::string& socket) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path=" +
           socket +
           "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
}

// The first line dbus-daemon prints: its address.
std::string readLine(FileDescriptor& output, steady_clock::time_point deadline) {
    std::string text;
    while (text.find('\n') == std::string::npos && steady_clock::now() < deadline) {
        pollfd waiting{output.get(), POLLIN, 0};
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (::poll(&waiting, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) continue;
        char chunk[256];
        const ssize_t got = ::read(output.get(), chunk, sizeof chunk);
        if (got <= 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text.substr(0, text.find('\n'));
}

} // namespace

PortalBus::PortalBus() {
    const std::string configuration = m_folder.write("bus.conf", busConfiguration(m_folder.path() + "/bus"));
    m_folder.folder("pictures");
    answerWith("picture");
    SpawnResult daemon = ChildProcess::spawn(
        {.executable = "/usr/bin/dbus-daemon",
         .arguments = {"--config-file=" + configuration, "--nofork", "--nopidfile", "--print-address=1"}});
    if (!daemon.child) return;
    m_daemon = std::move(daemon.child);
    m_address = readLine(m_daemon->standardOutput(), steady_clock::now() + seconds(20));
}

PortalBus::~PortalBus() {
    // The stand-in first, so that it never sees its bus go; each is killed and reaped by its owner.
    m_portal.reset();
    m_daemon.reset();
}

bool PortalBus::startPortal(const std::string& picture) {
    if (m_address.empty()) return false;
    SpawnResult portal =
        ChildProcess::spawn({.executable = KESTRO_FAKE_SCREENSHOT_PORTAL,
                             .arguments = {m_address, picture, pictureFolder(),
                                           m_folder.path() + "/behaviour", m_folder.path() + "/portal.log"},
                             .captureOutput = false});
    if (!portal.child) return false;
    m_portal = std::move(portal.child);
    return eventually([&] {
        const auto lines = log();
        return std::find(lines.begin(), lines.end(), "ready") != lines.end();
    });
}

void PortalBus::answerWith(const std::string& behaviour) const {
    m_folder.write("behaviour", behaviour);
}

std::vector<std::string> PortalBus::log() const {
    std::ifstream file(m_folder.path() + "/portal.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

} // namespace kestro::testing
