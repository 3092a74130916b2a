#include "support/WaylandSession.h"

#include "platform/ProcessRunner.h"
#include "support/LoopbackHTTP.h"

#include <chrono>
#include <filesystem>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace kestro::testing {

using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

constexpr const char* kTestUser = "kestro-wayland-test";

// The test user's ids, made on first use. Two test programs may make it at once: useradd then
// refuses one of them (the name exists, or the user database is locked for a moment), which is
// why its ids are looked for again until one of them succeeded.
std::optional<std::pair<uid_t, gid_t>> testUser() {
    std::optional<std::pair<uid_t, gid_t>> ids;
    eventually([&] {
        if (const passwd* entry = ::getpwnam(kTestUser)) ids = {entry->pw_uid, entry->pw_gid};
        if (ids) return true;
        runProcess({.executable = "/usr/sbin/useradd",
                    .arguments = {"--system", "--user-group", "--no-create-home", "--home-dir",
                                  "/nonexistent", "--shell", "/usr/sbin/nologin", kTestUser}});
        return false;
    });
    return ids;
}

// The name of a socket in `folder` whose name starts with `prefix`, once there is one.
std::string socketIn(const std::string& folder, const std::string& prefix) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.is_socket() && entry.path().filename().string().starts_with(prefix))
            return entry.path().filename().string();
    return "";
}

void stop(ChildProcess& child) {
    child.terminate();
    const auto deadline = steady_clock::now() + seconds(10);
    while (!child.tryWait() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(20));
    // Still running after that: its owner's destructor kills and reaps it.
}

} // namespace

WaylandSession::WaylandSession(const WaylandSessionOptions& options) {
    for (const char* tool : {"/usr/bin/sway", "/usr/bin/setpriv"})
        if (::access(tool, X_OK) != 0) {
            m_unavailable = std::string(tool) + " is not installed";
            return;
        }
    if (::geteuid() == 0) {
        const auto ids = testUser();
        if (!ids) {
            m_unavailable = std::string("the test user ") + kTestUser + " could not be made";
            return;
        }
        m_user = ids->first;
        m_group = ids->second;
    }
    // The session's user passes through the folder to its own two, which only it may enter.
    fs::permissions(m_folder.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    m_home = m_folder.folder("home");
    m_runtimeDirectory = m_folder.folder("runtime");
    for (const std::string& own : {m_home, m_runtimeDirectory}) {
        fs::permissions(own, fs::perms::owner_all);
        if (m_user && ::chown(own.c_str(), *m_user, m_group) != 0) {
            m_unavailable = "could not hand " + own + " to the test user";
            return;
        }
    }
    const std::string configuration = m_folder.write(
        "sway.conf", "xwayland disable\ndefault_border none\noutput HEADLESS-1 mode " +
                         std::to_string(options.width) + "x" + std::to_string(options.height) + "\n");
    fs::permissions(configuration, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                       fs::perms::others_read);
    std::vector<std::string> arguments = asUser();
    arguments.insert(arguments.end(), {"/usr/bin/sway", "-c", configuration});
    std::vector<std::string> entries{"HOME=" + m_home,        "XDG_RUNTIME_DIR=" + m_runtimeDirectory,
                                     "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
                                     "WLR_RENDERER=pixman",   "PATH=/usr/bin:/bin",
                                     "LANG=C.UTF-8"};
    const std::string executable = arguments.front();
    arguments.erase(arguments.begin());
    SpawnResult compositor = ChildProcess::spawn(
        {.executable = executable, .arguments = arguments, .environment = entries, .captureOutput = false});
    if (!compositor.child) {
        m_unavailable = "sway could not be started: " + compositor.error;
        return;
    }
    m_compositor = std::move(compositor.child);
    if (!eventually([&] { return !(m_display = socketIn(m_runtimeDirectory, "wayland-")).empty(); },
                    seconds(30)))
        m_unavailable = "sway started, but opened no Wayland socket within 30 s";
}

WaylandSession::~WaylandSession() {
    for (auto program = m_programs.rbegin(); program != m_programs.rend(); ++program)
        stop(*program);
    if (m_compositor) stop(*m_compositor);
}

std::map<std::string, std::string> WaylandSession::environment() const {
    return {{"HOME", m_home},
            {"XDG_RUNTIME_DIR", m_runtimeDirectory},
            {"WAYLAND_DISPLAY", m_display},
            {"PATH", "/usr/bin:/bin"},
            {"LANG", "C.UTF-8"}};
}

std::vector<std::string> WaylandSession::asUser() const {
    if (!m_user) return {};
    return {"/usr/bin/setpriv", "--reuid=" + std::to_string(*m_user), "--regid=" + std::to_string(m_group),
            "--clear-groups", "--"};
}

std::string WaylandSession::copyForUser(const std::string& path) const {
    const std::string copy = m_folder.folder("programs") + "/" + fs::path(path).filename().string();
    fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return copy;
}

bool WaylandSession::addOutput() {
    const std::string control = socketIn(m_runtimeDirectory, "sway-ipc.");
    if (!m_unavailable.empty() || control.empty()) return false;
    std::vector<std::string> words = asUser();
    words.insert(words.end(), {"/usr/bin/swaymsg", "create_output"});
    const std::string program = words.front();
    words.erase(words.begin());
    return runProcess(
               {.executable = program,
                .arguments = words,
                .environment = std::vector<std::string>{"SWAYSOCK=" + m_runtimeDirectory + "/" + control}})
               .status == 0;
}

bool WaylandSession::start(const std::string& executable, const std::vector<std::string>& arguments) {
    if (!m_unavailable.empty()) return false;
    std::vector<std::string> words = asUser();
    words.push_back(executable);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment())
        entries.push_back(name + "=" + value);
    const std::string program = words.front();
    words.erase(words.begin());
    SpawnResult started = ChildProcess::spawn(
        {.executable = program, .arguments = words, .environment = entries, .captureOutput = false});
    if (!started.child) return false;
    m_programs.push_back(std::move(*started.child));
    return true;
}

} // namespace kestro::testing
