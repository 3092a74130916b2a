#include "support/DesktopSession.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace kestro::testing {

using namespace std::chrono;

namespace {

// The number Xvfb writes to the descriptor given with -displayfd once it accepts clients.
std::string readDisplayNumber(FileDescriptor& output, steady_clock::time_point deadline) {
    std::string text;
    while (text.find('\n') == std::string::npos && steady_clock::now() < deadline) {
        pollfd waiting{output.get(), POLLIN, 0};
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (::poll(&waiting, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) continue;
        char chunk[64];
        const ssize_t got = ::read(output.get(), chunk, sizeof chunk);
        if (got <= 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    const size_t end = text.find('\n');
    if (end == std::string::npos || end == 0) return "";
    return ":" + text.substr(0, end);
}

} // namespace

DesktopSession::DesktopSession(const DesktopOptions& options) {
    // -noreset: an X server resets when its last client leaves, and the captures under test
    // connect and leave many times a second; a reset drops what the desktop shows and refuses
    // clients that connect meanwhile.
    std::vector<std::string> arguments{"-noreset",
                                       "-displayfd",
                                       "1",
                                       "-nolisten",
                                       "tcp",
                                       "-screen",
                                       "0",
                                       std::to_string(options.width) + "x" + std::to_string(options.height) +
                                           "x" + std::to_string(options.depth)};
    arguments.insert(arguments.end(), options.serverArguments.begin(), options.serverArguments.end());
    SpawnResult server = ChildProcess::spawn({.executable = "/usr/bin/Xvfb",
                                              .arguments = arguments,
                                              .environment = std::vector<std::string>{"PATH=/usr/bin:/bin"}});
    if (!server.child) return;
    m_server = std::move(server.child);
    m_display = readDisplayNumber(m_server->standardOutput(), steady_clock::now() + seconds(30));
    if (m_display.empty()) return;
    if (!options.windowManager) return;
    // A window mapped while openbox is still starting may never be managed, nor shown: programs
    // start once openbox runs its start-up command, when it is ready.
    const std::string ready = m_home.path() + "/window-manager-ready";
    if (!start("/usr/bin/openbox", {"--startup", "/usr/bin/touch " + ready})) return;
    const auto deadline = steady_clock::now() + seconds(30);
    while (!std::filesystem::exists(ready) && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(20));
}

DesktopSession::~DesktopSession() {
    for (auto program = m_programs.rbegin(); program != m_programs.rend(); ++program)
        stop(*program);
    if (m_server) {
        // A stopped server would hold its SIGTERM until continued.
        ::kill(m_server->pid(), SIGCONT);
        stop(*m_server);
    }
}

void DesktopSession::stop(ChildProcess& child) {
    child.terminate();
    const auto deadline = steady_clock::now() + seconds(10);
    while (!child.tryWait() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(20));
    // Still running after that: its owner's destructor kills and reaps it.
}

std::map<std::string, std::string> DesktopSession::environment() const {
    return {{"DISPLAY", m_display}, {"HOME", m_home.path()}, {"PATH", "/usr/bin:/bin"}};
}

bool DesktopSession::start(const std::string& executable, const std::vector<std::string>& arguments) {
    if (m_display.empty()) return false;
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment())
        entries.push_back(name + "=" + value);
    SpawnResult program = ChildProcess::spawn(
        {.executable = executable, .arguments = arguments, .environment = entries, .captureOutput = false});
    if (!program.child) return false;
    m_programs.push_back(std::move(*program.child));
    return true;
}

bool DesktopSession::startChromium(const std::string& url) {
    // As root Chromium needs its sandbox off; the rest keeps it from reaching the network.
    return start("/usr/bin/chromium",
                 {"--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--no-first-run", "--no-default-browser-check", "--password-store=basic",
                  "--user-data-dir=" + m_home.folder("chromium-profile"), url});
}

} // namespace kestro::testing
