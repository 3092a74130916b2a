// The Wayland surfaces without a real compositor: the names they read, compositors that say
// nothing, hang up or flood, and the desktop portal's screenshot service played by a stand-in on
// a private session bus (a picture, a refusal, silence, a planted link). Headless sway itself is
// met end to end (e2e/WaylandPreviewTests.cpp).

#include "core/PairingPage.h"
#include "platform/ProcessRunner.h"
#include "support/LoopbackHTTP.h"
#include "support/PortalBus.h"
#include "support/PreviewImages.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "surfaces/ScreenshotPortal.h"
#include "surfaces/SurfaceDetection.h"
#include "surfaces/SurfacePreviews.h"
#include "surfaces/WaylandDisplay.h"
#include "text/Text.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;
using namespace std::chrono;

namespace {

EnvironmentLookup environmentOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

// A compositor on a socket of its own that speaks the wire protocol by hand: it announces an
// output, the toplevel list and screencopy, and then, when asked for the list, answers as told.
class FakeCompositor {
  public:
    enum class Behaviour { answers, silent, hangsUp, floods };

    explicit FakeCompositor(Behaviour behaviour) {
        m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = m_folder.path() + "/wayland-7";
        std::memcpy(address.sun_path, path.c_str(), path.size());
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_socket, 4);
        // A silent compositor never even accepts: the kernel completes the connection for it.
        if (behaviour == Behaviour::silent) return;
        m_thread = std::thread([this, behaviour] { serve(behaviour); });
    }
    ~FakeCompositor() {
        m_stop = true;
        ::shutdown(m_socket, SHUT_RDWR);
        ::shutdown(m_client, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        if (m_client >= 0) ::close(m_client);
        ::close(m_socket);
    }
    EnvironmentLookup environment() const {
        return environmentOf({{"WAYLAND_DISPLAY", "wayland-7"}, {"XDG_RUNTIME_DIR", m_folder.path()}});
    }

  private:
    // One message: its object, its opcode and its arguments, each a word or a padded string.
    struct Message {
        uint32_t object = 0;
        uint16_t opcode = 0;
        std::string body;
    };
    static void word(std::string& body, uint32_t value) { body.append(reinterpret_cast<char*>(&value), 4); }
    static void text(std::string& body, const std::string& value) {
        word(body, uint32_t(value.size() + 1));
        body += value;
        body.append(4 - value.size() % 4, '\0');
    }
    static uint32_t wordAt(const std::string& body, size_t at) {
        uint32_t value = 0;
        std::memcpy(&value, body.data() + at, 4);
        return value;
    }
    bool send(uint32_t object, uint16_t opcode, const std::string& body) {
        std::string message;
        word(message, object);
        word(message, uint32_t((body.size() + 8) << 16 | opcode));
        message += body;
        return ::send(m_client, message.data(), message.size(), MSG_NOSIGNAL) == ssize_t(message.size());
    }
    bool receive(Message& message) {
        std::string head(8, '\0');
        if (::recv(m_client, head.data(), 8, MSG_WAITALL) != 8) return false;
        message.object = wordAt(head, 0);
        message.opcode = uint16_t(wordAt(head, 4) & 0xFFFF);
        message.body.assign((wordAt(head, 4) >> 16) - 8, '\0');
        return message.body.empty() || ::recv(m_client, message.body.data(), message.body.size(),
                                              MSG_WAITALL) == ssize_t(message.body.size());
    }

    void serve(Behaviour behaviour) {
        m_client = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_client < 0) return;
        if (behaviour == Behaviour::hangsUp) {
            ::shutdown(m_client, SHUT_RDWR);
            return;
        }
        uint32_t registry = 0, output = 0, toplevelList = 0;
        for (Message message; !m_stop && receive(message);) {
            if (message.object == 1 && message.opcode == 1) { // wl_display.get_registry
                registry = wordAt(message.body, 0);
                const std::vector<std::pair<std::string, uint32_t>> globals = {
                    {"wl_output", 4},
                    {"zwlr_foreign_toplevel_manager_v1", 3},
                    {"zwlr_screencopy_manager_v1", 3}};
                for (uint32_t name = 1; name <= globals.size(); ++name) {
                    std::string body;
                    word(body, name);
                    text(body, globals[name - 1].first);
                    word(body, globals[name - 1].second);
                    send(registry, 0, body);
                }
            } else if (message.object == registry && message.opcode == 0) { // wl_registry.bind
                const uint32_t name = wordAt(message.body, 0);
                (name == 1 ? output : toplevelList) = wordAt(message.body, message.body.size() - 4);
            } else if (message.object == 1 && message.opcode == 0) { // wl_display.sync
                if (toplevelList != 0 && !answerToplevels(behaviour, output, toplevelList)) return;
                std::string serial;
                word(serial, 0);
                send(wordAt(message.body, 0), 0, serial); // wl_callback.done
            }
        }
    }

    // Firefox in front on the output "DP-7", or a flood of toplevels without end.
    bool answerToplevels(Behaviour behaviour, uint32_t output, uint32_t toplevelList) {
        std::string body;
        for (uint32_t handle = 0xFF000000; behaviour == Behaviour::floods; ++handle) {
            body.clear();
            word(body, handle);
            if (m_stop || !send(toplevelList, 0, body)) return false;
        }
        text(body, "DP-7");
        send(output, 4, body); // wl_output.name
        send(output, 2, "");   // wl_output.done
        const uint32_t handle = 0xFF000000;
        body.clear();
        word(body, handle);
        send(toplevelList, 0, body); // toplevel
        body.clear();
        text(body, "org.mozilla.firefox");
        send(handle, 1, body); // app_id
        body.clear();
        word(body, output);
        send(handle, 2, body); // output_enter
        body.clear();
        word(body, 4);
        word(body, 2); // activated
        send(handle, 4, body);
        return send(handle, 5, ""); // done
    }

    TemporaryFolder m_folder;
    int m_socket = -1;
    std::atomic<int> m_client{-1};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

TEST(WaylandNamesTest, BrowsersSocketsBusesAndFileURIs) {
    for (const auto& [id, name] :
         std::vector<std::pair<std::string, std::string>>{{"org.mozilla.firefox", "Firefox"},
                                                          {"org.chromium.Chromium", "Chromium"},
                                                          {"com.google.Chrome", "Google Chrome"},
                                                          {"com.brave.Browser", "Brave"},
                                                          {"com.microsoft.Edge", "Microsoft Edge"},
                                                          {"com.vivaldi.Vivaldi", "Vivaldi"},
                                                          {"com.opera.Opera", "Opera"},
                                                          {"firefox", "Firefox"},
                                                          {"firefox-esr", "Firefox"},
                                                          {"chromium-browser", "Chromium"},
                                                          {"google-chrome", "Google Chrome"},
                                                          {"brave-browser", "Brave"},
                                                          {"vivaldi-stable", "Vivaldi"}})
        EXPECT_EQ(browserNamedByAppID(id), name) << id;
    for (const char* other :
         {"foot", "org.mozilla.Thunderbird", "com.google.ChromeOS", "org.gnome.Epiphany", ""})
        EXPECT_FALSE(browserNamedByAppID(other).has_value()) << other;

    EXPECT_EQ(
        waylandSocketPath(environmentOf({{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_RUNTIME_DIR", "/run/u"}})),
        "/run/u/wayland-1");
    EXPECT_EQ(
        waylandSocketPath(environmentOf({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_RUNTIME_DIR", "/run/u"}})),
        "/run/u/wayland-0");
    EXPECT_EQ(waylandSocketPath(environmentOf({{"WAYLAND_DISPLAY", "/tmp/w/socket"}})), "/tmp/w/socket");
    EXPECT_FALSE(waylandSocketPath(environmentOf({{"WAYLAND_DISPLAY", "wayland-1"}})));
    EXPECT_FALSE(waylandSocketPath(environmentOf({{"WAYLAND_DISPLAY", "/" + std::string(200, 'x')}})));

    EXPECT_EQ(sessionBusAddress(environmentOf(
                  {{"DBUS_SESSION_BUS_ADDRESS", "tcp:host=bus.example,port=1;unixexec:path=/bin/x;"
                                                "unix:path=/run/u/bus,guid=00"}})),
              "unix:path=/run/u/bus,guid=00");
    EXPECT_EQ(sessionBusAddress(environmentOf({{"XDG_RUNTIME_DIR", "/run/u"}})), "unix:path=/run/u/bus");
    EXPECT_FALSE(
        sessionBusAddress(environmentOf({{"DBUS_SESSION_BUS_ADDRESS", "tcp:host=127.0.0.1,port=9"}})));
    EXPECT_FALSE(sessionBusAddress(environmentOf({{"XDG_RUNTIME_DIR", "/run/u;x=y"}})));

    EXPECT_EQ(localPathOfFileURI("file:///home/u/Pictures/Screenshot%20from%202026.png"),
              "/home/u/Pictures/Screenshot from 2026.png");
    EXPECT_EQ(localPathOfFileURI("FILE://localhost/tmp/a.png"), "/tmp/a.png");
    for (const char* refused :
         {"file://server/tmp/a.png", "file:relative.png", "https://x/a.png", "file:///a%00.png",
          "file:///a%2", "file:///a%zz", "file:///a.png?x", "file://"})
        EXPECT_FALSE(localPathOfFileURI(refused).has_value()) << refused;
}

TEST(WaylandCompositorTest, TheWindowInFrontAndCompositorsThatFailEndByTheDeadline) {
    {
        FakeCompositor compositor(FakeCompositor::Behaviour::answers);
        WaylandDisplaySession session(compositor.environment(), seconds(5));
        ASSERT_EQ(session.state(), WaylandDisplaySession::State::connected);
        EXPECT_TRUE(session.offersScreencopy() && session.offersToplevelList());
        EXPECT_EQ(session.frontWindow(), (FrontWindow{.appID = "org.mozilla.firefox", .outputName = "DP-7"}));
    }
    const size_t descriptors = openDescriptorCount(::getpid());
    const auto budget = milliseconds(500);
    for (const auto& [behaviour, expected] :
         std::vector<std::pair<FakeCompositor::Behaviour, WaylandDisplaySession::State>>{
             {FakeCompositor::Behaviour::silent, WaylandDisplaySession::State::timedOut},
             {FakeCompositor::Behaviour::hangsUp, WaylandDisplaySession::State::refused},
             {FakeCompositor::Behaviour::floods, WaylandDisplaySession::State::refused}}) {
        FakeCompositor compositor(behaviour);
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
        const long before = residentKilobytes(::getpid());
        const auto started = steady_clock::now();
        WaylandDisplaySession session(compositor.environment(), budget);
        EXPECT_FALSE(session.frontWindow().has_value());
        EXPECT_EQ(session.state(), expected) << int(behaviour);
        EXPECT_LT(steady_clock::now() - started, budget + seconds(2)) << int(behaviour);
        if (!kSanitizedBuild) {
            EXPECT_LT(peakResidentKilobytes(::getpid()) - before, 8 * 1024) << int(behaviour);
        }
    }
    // Without a compositor at the socket: refused at once, whatever the budget.
    TemporaryFolder empty;
    WaylandDisplaySession none(
        environmentOf({{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", empty.path()}}), seconds(30));
    EXPECT_EQ(none.state(), WaylandDisplaySession::State::refused);
    EXPECT_EQ(openDescriptorCount(::getpid()), descriptors);
}

TEST(ScreenshotPortalTest, APictureARefusalSilenceAndAPlantedLinkEachGetTheirAnswer) {
    PortalBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    TemporaryFolder files;
    // No compositor, and an X display that is not there: a Wayland session never asks X.
    const SurfaceContext context{.environment = environmentOf({{"XDG_SESSION_TYPE", "wayland"},
                                                               {"XDG_RUNTIME_DIR", files.path()},
                                                               {"DBUS_SESSION_BUS_ADDRESS", bus.address()},
                                                               {"DISPLAY", ":59000"},
                                                               {"HOME", files.path()}})};
    const auto preview = [&] { return surfacePreviewPayload("desktop", {}, context); };
    const size_t descriptors = openDescriptorCount(::getpid());

    // A bus without a portal: nothing answers for the screen.
    EXPECT_EQ(screenshotPortalOffered(context.environment, steady_clock::now() + seconds(2)),
              PortalAnswer::noService);
    EXPECT_EQ(preview().detail, "The desktop display could not be reached on this computer.");

    // Longer than a screen is wide once drawn, so that the picture is shrunk on its way.
    const std::string text = "kestro-portal-check-" + std::string(280, 'q');
    ASSERT_TRUE(bus.startPortal(files.write("code.png", pairingQRCodePNG(text).value())));
    const auto surfaces = detectRemoteSurfaces({}, {}, context);
    EXPECT_EQ(surfaces[0].status, "Live");
    EXPECT_EQ(surfaces[1].detail, "The window in front cannot be known on this desktop.");
    const auto shown = preview();
    EXPECT_EQ(shown.status, "Live");
    const auto image = decodedJPEG(base64Decoded(shown.imageBase64.value_or("")));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 900);
    const std::string capture = files.write("capture.jpg", base64Decoded(shown.imageBase64.value_or("")));
    const auto decoded =
        runProcess({.executable = "/usr/bin/zbarimg",
                    .arguments = {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", capture}});
    EXPECT_EQ(trimmed(decoded.standardOutput), text);
    EXPECT_TRUE(std::filesystem::is_empty(bus.pictureFolder())) << "the portal's picture was left behind";

    for (const char* refusal : {"cancelled", "refused"}) {
        bus.answerWith(refusal);
        const auto refused = preview();
        EXPECT_EQ(refused.status, "Permission") << refusal;
        EXPECT_EQ(refused.detail,
                  "The desktop refused the screenshot. Allow applications to take screenshots in "
                  "the desktop's privacy settings, then try again.");
        EXPECT_TRUE(refused.isAvailable && !refused.previewAvailable && !refused.imageBase64);
    }

    // A link planted where the picture should be is neither read nor removed.
    bus.answerWith("link");
    EXPECT_EQ(preview().status, "Unavailable");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(bus.pictureFolder()), {}), 1);

    bus.answerWith("silent");
    const auto started = steady_clock::now();
    const auto silent = preview();
    const auto took = steady_clock::now() - started;
    EXPECT_EQ(silent.status, "Unavailable");
    EXPECT_EQ(silent.detail, "The desktop's screenshot service did not answer in time. If the computer asks "
                             "whether to allow screenshots, allow them there, then try again.");
    EXPECT_GT(took, seconds(4));
    EXPECT_LT(took, seconds(6));
    // The request given up was closed, so that a late "Allow" takes no picture.
    const auto log = bus.log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "closed " + log[log.size() - 2].substr(std::strlen("request ")));
    EXPECT_EQ(openDescriptorCount(::getpid()), descriptors);
}
