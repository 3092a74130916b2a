// The Linux surfaces against real X servers (Xvfb) and hostile ones: display names, the window
// in front, captures at every common screen depth, and displays or authority files that would
// hold a careless client for ever.

#include "support/DesktopSession.h"
#include "support/LoopbackHTTP.h"
#include "support/PreviewImages.h"
#include "support/TemporaryFolder.h"
#include "surfaces/SurfaceDetection.h"
#include "surfaces/SurfacePreviews.h"
#include "surfaces/XDisplay.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;
using namespace std::chrono;

namespace {

constexpr const char* kNoDisplay = "No desktop display is available on this computer.";
constexpr const char* kUnreachable = "The desktop display could not be reached on this computer.";
constexpr const char* kWayland = "Screen capture is not available in this Wayland session.";

EnvironmentLookup environmentOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

// A throwaway HOME goes with every environment, so that no real ~/.Xauthority is read.
SurfaceContext contextWith(const TemporaryFolder& home, std::map<std::string, std::string> values) {
    values.emplace("HOME", home.path());
    return {.environment = environmentOf(std::move(values))};
}

// Pixels close to `wanted` in a decoded capture (JPEG blurs colours a little).
size_t pixelsNear(const DecodedJPEG& image, std::array<int, 3> wanted) {
    size_t found = 0;
    for (size_t i = 0; i + 2 < image.rgb.size(); i += 3)
        if (std::abs(image.rgb[i] - wanted[0]) < 16 && std::abs(image.rgb[i + 1] - wanted[1]) < 16 &&
            std::abs(image.rgb[i + 2] - wanted[2]) < 16)
            ++found;
    return found;
}

// A TCP listener on 127.0.0.1 at port 6000 + n, so that DISPLAY=127.0.0.1:n reaches it.
class FakeXServer {
  public:
    enum class Behaviour { silent, hangsUp, promisesAndStops };
    explicit FakeXServer(Behaviour behaviour) {
        for (m_display = 4000 + uint32_t(::getpid() % 20000); m_display < 59000; m_display += 7) {
            m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(6000 + m_display));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(m_socket, 4) == 0)
                break;
            ::close(m_socket);
        }
        // A silent server never even accepts: the kernel completes the connection for it.
        if (behaviour != Behaviour::silent)
            m_thread = std::thread([this, behaviour] {
                const int client = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0) return;
                if (behaviour == Behaviour::promisesAndStops) {
                    // A successful setup's head announcing 256 KiB that never come.
                    const unsigned char head[8] = {1, 0, 11, 0, 0, 0, 0xFF, 0xFF};
                    ::send(client, head, sizeof head, MSG_NOSIGNAL);
                    while (!m_stop)
                        std::this_thread::sleep_for(milliseconds(10));
                }
                ::close(client);
            });
    }
    ~FakeXServer() {
        m_stop = true;
        ::shutdown(m_socket, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        ::close(m_socket);
    }
    std::string display() const { return "127.0.0.1:" + std::to_string(m_display); }

  private:
    int m_socket = -1;
    uint32_t m_display = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// An authority file with one cookie for any display, as Xvfb's -auth reads it.
std::string writeAuthority(const TemporaryFolder& folder, const std::string& cookie) {
    std::string record;
    const auto field = [&](const std::string& bytes) {
        record.push_back(static_cast<char>(bytes.size() >> 8));
        record.push_back(static_cast<char>(bytes.size() & 0xFF));
        record += bytes;
    };
    record += "\xFF\xFF"; // FamilyWild
    field("");
    field("");
    field("MIT-MAGIC-COOKIE-1");
    field(cookie);
    return folder.write("authority", record);
}

} // namespace

TEST(DisplayNameTest, LocalDisplaysAndNumericAddressesOnly) {
    EXPECT_EQ(parseDisplayName(":0"), (DisplayName{.local = true, .display = 0}));
    EXPECT_EQ(parseDisplayName("unix:12.1"), (DisplayName{.local = true, .display = 12, .screen = 1}));
    EXPECT_EQ(parseDisplayName("unix/:3"), (DisplayName{.local = true, .display = 3}));
    EXPECT_EQ(parseDisplayName("localhost:10.0"),
              (DisplayName{.local = false, .address = "127.0.0.1", .display = 10}));
    EXPECT_EQ(parseDisplayName("tcp/:1"),
              (DisplayName{.local = false, .address = "127.0.0.1", .display = 1}));
    EXPECT_EQ(parseDisplayName("192.168.1.9:2"),
              (DisplayName{.local = false, .address = "192.168.1.9", .display = 2}));
    EXPECT_EQ(parseDisplayName("[::1]:4"), (DisplayName{.local = false, .address = "::1", .display = 4}));
    for (const char* refused :
         {"", "0", ":", ":x", ":1.", ":1.2.3", ":-1", ":99999", ":1.999", "host.example:0", "remote:0",
          "unix/host:0", "ssh/:0", "::0", " :0", ":0 ", "\n:0"})
        EXPECT_FALSE(parseDisplayName(refused).has_value()) << '"' << refused << '"';
}

TEST(BrowserClassTest, KnownBrowsersByTheirWindowClass) {
    const std::vector<std::pair<std::string, std::string>> known = {{"Chromium", "Chromium"},
                                                                    {"chromium-browser", "Chromium"},
                                                                    {"firefox", "Firefox"},
                                                                    {"firefox-esr", "Firefox"},
                                                                    {"Google-chrome", "Google Chrome"},
                                                                    {"google-chrome-beta", "Google Chrome"},
                                                                    {"Brave-browser", "Brave"},
                                                                    {"Microsoft-edge", "Microsoft Edge"},
                                                                    {"Vivaldi-stable", "Vivaldi"},
                                                                    {"Opera", "Opera"}};
    for (const auto& [windowClass, name] : known)
        EXPECT_EQ(browserNamedByWindowClass(windowClass), name) << windowClass;
    for (const char* other : {"Xterm", "Operator", "Chromiumish", "Navigator", "Display-im6.q16", ""})
        EXPECT_FALSE(browserNamedByWindowClass(other).has_value()) << other;
}

TEST(LinuxSurfaceTest, WithoutAReachableDisplayTheDesktopIsOffWithItsReason) {
    TemporaryFolder home;
    const std::vector<KestroAgentSkillPayload> browserSkill{
        {.name = "web", .description = "Browser automation", .source = "User", .path = "/x"}};
    const std::vector<std::pair<std::map<std::string, std::string>, const char*>> cases = {
        {{}, kNoDisplay},
        {{{"DISPLAY", "  "}}, kNoDisplay},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, kWayland},
        {{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":59000"}}, kWayland},
        {{{"DISPLAY", "remote.example:0"}}, kUnreachable},
        {{{"DISPLAY", ":59000"}}, kUnreachable},
    };
    for (const auto& [environment, detail] : cases) {
        const SurfaceContext context = contextWith(home, environment);
        const auto surfaces = detectRemoteSurfaces(browserSkill, {}, context);
        ASSERT_EQ(surfaces.size(), 3u);
        EXPECT_EQ(surfaces[0], (KestroAgentRemoteSurfacePayload{.kind = "desktop",
                                                                .title = "Desktop",
                                                                .status = "Off",
                                                                .detail = detail,
                                                                .lastUpdated = surfaces[0].lastUpdated}));
        EXPECT_EQ(surfaces[1].status, "Ready");
        EXPECT_EQ(surfaces[1].detail,
                  "Browser tools are installed. Open a browser task on this computer to preview it here.");
        EXPECT_EQ(surfaces[2],
                  (KestroAgentRemoteSurfacePayload{.kind = "simulator",
                                                   .title = "iOS Simulator",
                                                   .status = "Off",
                                                   .detail = "iOS simulators exist only on macOS.",
                                                   .lastUpdated = surfaces[0].lastUpdated}));
        const auto preview = surfacePreviewPayload("desktop", {}, context);
        EXPECT_EQ(preview.title, "Desktop");
        EXPECT_EQ(preview.status, "Off");
        EXPECT_EQ(preview.detail, detail);
        EXPECT_FALSE(preview.isAvailable || preview.previewAvailable);
        EXPECT_FALSE(preview.imageBase64 || preview.mimeType);
        const auto browser = surfacePreviewPayload("browser", {}, context);
        EXPECT_EQ(browser.detail, "No browser control surface detected from the current Codex setup.");
        EXPECT_FALSE(browser.imageBase64);
    }
}

TEST(LinuxSurfaceTest, SilentOrBrokenDisplaysAndAuthorityFilesEndByTheDeadline) {
    TemporaryFolder home;
    const auto budget = milliseconds(400);
    const auto stateFor = [&](const std::map<std::string, std::string>& environment) {
        const auto started = steady_clock::now();
        XDisplaySession session(contextWith(home, environment).environment, budget);
        const auto state = session.state();
        // A failed session answers nothing more, at once; a working one gives the whole screen.
        const auto image = session.screenImage(900);
        EXPECT_EQ(image.has_value(), state == XDisplaySession::State::connected);
        if (image) {
            EXPECT_EQ(image->size, (ImageSize{320, 200}));
        }
        // Far above the budget, far below a hang: the point is that it returns at all.
        EXPECT_LT(steady_clock::now() - started, budget + seconds(5));
        return state;
    };
    for (const auto behaviour : {FakeXServer::Behaviour::silent, FakeXServer::Behaviour::hangsUp,
                                 FakeXServer::Behaviour::promisesAndStops}) {
        FakeXServer server(behaviour);
        EXPECT_EQ(stateFor({{"DISPLAY", server.display()}}), XDisplaySession::State::unreachable)
            << server.display();
    }

    // A display that needs its cookie: found through XAUTHORITY, refused without it, and a FIFO,
    // a device or a huge file named there neither blocks nor is read.
    TemporaryFolder files;
    const std::string cookie(16, '\x5A');
    const std::string authority = writeAuthority(files, cookie);
    DesktopSession desktop(
        {.width = 320, .height = 200, .windowManager = false, .serverArguments = {"-auth", authority}});
    ASSERT_FALSE(desktop.display().empty());
    EXPECT_EQ(stateFor({{"DISPLAY", desktop.display()}, {"XAUTHORITY", authority}}),
              XDisplaySession::State::connected);
    const std::string fifo = files.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = files.write("huge", std::string(2 << 20, '\0') + cookie);
    for (const std::string& unusable : {fifo, std::string("/dev/zero"), huge, files.path() + "/missing"})
        EXPECT_EQ(stateFor({{"DISPLAY", desktop.display()}, {"XAUTHORITY", unusable}}),
                  XDisplaySession::State::unreachable)
            << unusable;
    EXPECT_EQ(stateFor({{"DISPLAY", desktop.display() + ".1"}, {"XAUTHORITY", authority}}),
              XDisplaySession::State::unreachable);
}

TEST(LinuxSurfaceTest, CapturesKeepTheirColoursAtEveryTrueColourDepth) {
    // Orange tells every channel apart: a swapped pair or a badly scaled 5- or 6-bit channel
    // shows as another colour.
    for (const unsigned depth : {24u, 16u}) {
        DesktopSession desktop({.width = 1000, .height = 500, .depth = depth, .windowManager = false});
        ASSERT_FALSE(desktop.display().empty());
        ASSERT_TRUE(
            desktop.start("/usr/bin/display", {"-geometry", "+0+0", "-size", "400x300", "xc:#FF8000"}));
        TemporaryFolder home;
        const SurfaceContext context = contextWith(home, desktop.environment());
        std::optional<DecodedJPEG> image;
        const bool shown = eventually(
            [&] {
                const auto preview = surfacePreviewPayload("desktop", {}, context);
                if (preview.status != "Live" || !preview.imageBase64) return false;
                EXPECT_EQ(preview.mimeType, "image/jpeg");
                EXPECT_EQ(preview.detail, "Current desktop capture from this computer.");
                image = decodedJPEG(base64Decoded(*preview.imageBase64));
                // 400 × 300 shrunk by 0.9: 360 × 270 pixels, most of them well inside.
                return image && pixelsNear(*image, {255, 128, 0}) > 80'000;
            },
            seconds(30));
        EXPECT_TRUE(shown) << "depth " << depth;
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->width, 900);
        EXPECT_EQ(image->height, 450);
        EXPECT_EQ(detectRemoteSurfaces({}, {}, context)[0].status, "Live");
    }

    // An 8-bit screen maps its pixels through a colour table: it is there, but not captured.
    DesktopSession colourTable({.width = 320, .height = 200, .depth = 8, .windowManager = false});
    ASSERT_FALSE(colourTable.display().empty());
    TemporaryFolder home;
    const auto preview = surfacePreviewPayload("desktop", {}, contextWith(home, colourTable.environment()));
    EXPECT_EQ(preview.status, "Unavailable");
    EXPECT_EQ(preview.detail, "The desktop display is there, but kestro could not capture it right now.");
    EXPECT_TRUE(preview.isAvailable);
    EXPECT_FALSE(preview.previewAvailable || preview.imageBase64 || preview.mimeType);
}
