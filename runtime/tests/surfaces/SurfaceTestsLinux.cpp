// The Linux surfaces against real X servers (Xvfb) and hostile ones: display names, the window
// in front, captures at every common screen depth, and displays or authority files that would
// hold a careless client for ever.

#include "support/DesktopSession.h"
#include "support/LoopbackHTTP.h"
#include "support/PreviewImages.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "surfaces/SurfaceDetection.h"
#include "surfaces/SurfacePreviews.h"
#include "surfaces/XDisplay.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
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

// A TCP listener on 127.0.0.1 at port 6000 + n, so that DISPLAY=127.0.0.1:n reaches it. It
// serves one client: as one of the broken servers below, or with a setup and its own answers.
class FakeXServer {
  public:
    enum class Behaviour { silent, hangsUp, promisesAndStops };
    // Sends through `send`, which is false once the client is gone, what the server answers to
    // one request (its major opcode, its sequence number and all its bytes).
    using Send = std::function<bool(std::string_view)>;
    using Answer =
        std::function<void(uint8_t opcode, uint16_t sequence, const std::string& request, const Send&)>;

    explicit FakeXServer(Behaviour behaviour) {
        listen();
        // A silent server never even accepts: the kernel completes the connection for it.
        if (behaviour == Behaviour::silent) return;
        m_thread = std::thread([this, behaviour] {
            if (!accept()) return;
            if (behaviour == Behaviour::promisesAndStops) {
                // A successful setup's head announcing 256 KiB that never come.
                send(std::string("\x01\x00\x0B\x00\x00\x00\xFF\xFF", 8));
                while (!m_stop)
                    std::this_thread::sleep_for(milliseconds(10));
            }
        });
    }

    FakeXServer(std::string setup, Answer answer) {
        listen();
        m_thread = std::thread([this, setup = std::move(setup), answer = std::move(answer)] {
            if (!accept()) return;
            // The client's setup: 12 bytes, then its authority's name and data, each padded.
            std::string head;
            if (!receive(head, 12)) return;
            const auto padded = [&](size_t at) { return (size_t(halfAt(head, at)) + 3) / 4 * 4; };
            std::string authority;
            if (!receive(authority, padded(6) + padded(8)) || !send(setup)) return;
            const Send sending = [this](std::string_view bytes) { return send(bytes); };
            for (uint16_t sequence = 1;; ++sequence) {
                std::string request;
                if (!receive(request, 4)) return;
                const size_t words = halfAt(request, 2);
                std::string rest;
                if (words == 0 || !receive(rest, words * 4 - 4)) return;
                answer(uint8_t(request[0]), sequence, request + rest, sending);
            }
        });
    }

    ~FakeXServer() {
        m_stop = true;
        ::shutdown(m_socket, SHUT_RDWR);
        ::shutdown(m_client, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        if (m_client >= 0) ::close(m_client);
        ::close(m_socket);
    }
    std::string display() const { return "127.0.0.1:" + std::to_string(m_display); }

  private:
    static uint16_t halfAt(const std::string& bytes, size_t at) {
        uint16_t half = 0;
        std::memcpy(&half, bytes.data() + at, sizeof half);
        return half;
    }
    void listen() {
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
    }
    // The client stays open until the server goes, so that its number is never reused meanwhile.
    bool accept() {
        const int client = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return false;
        m_client = client;
        if (m_stop) ::shutdown(client, SHUT_RDWR);
        return true;
    }
    bool send(std::string_view bytes) {
        while (!bytes.empty() && !m_stop) {
            const ssize_t sent = ::send(m_client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes.remove_prefix(size_t(sent));
        }
        return !m_stop;
    }
    bool receive(std::string& into, size_t count) {
        const size_t start = into.size();
        into.resize(start + count);
        for (size_t done = 0; done < count;) {
            const ssize_t got = ::recv(m_client, into.data() + start + done, count - done, 0);
            if (got <= 0) return false;
            done += size_t(got);
        }
        return true;
    }

    int m_socket = -1;
    std::atomic<int> m_client{-1};
    uint32_t m_display = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The wire forms of a fake server's messages, in this machine's byte order (which the client
// asked for).
std::string bytesOf(std::initializer_list<uint32_t> words) {
    std::string bytes;
    for (const uint32_t word : words)
        bytes.append(reinterpret_cast<const char*>(&word), 4);
    return bytes;
}
template <class Number> void append(std::string& bytes, Number value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}
std::string paddedToWords(std::string bytes) {
    bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
    return bytes;
}

constexpr uint32_t kFakeRoot = 0x100;
constexpr uint32_t kFakeVisual = 0x21;

// A true-colour screen of 24 bits, as a real server describes it; `claims` may overstate the
// lengths of its lists, whose bytes are sent only once.
struct SetupClaims {
    uint16_t vendorLength = 4;
    uint8_t formats = 1;
    uint8_t screens = 1;
    uint8_t depths = 1;
    uint16_t visuals = 1;
};
std::string fakeSetup(uint16_t width, uint16_t height, SetupClaims claims = {}) {
    std::string body = bytesOf({0, 0x200000, 0x1FFFFF, 0});
    append<uint16_t>(body, claims.vendorLength);
    append<uint16_t>(body, 0xFFFF); // largest request
    for (const uint8_t byte :
         {claims.screens, claims.formats, uint8_t(0), uint8_t(0), uint8_t(32), uint8_t(32), uint8_t(8),
          uint8_t(255), uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(0)})
        append<uint8_t>(body, byte);
    body += "fake";
    body += std::string("\x18\x20\x20\0\0\0\0\0", 8); // depth 24: 32 bits a pixel, rows padded to 32
    body += bytesOf({kFakeRoot, 0x20, 0xFFFFFF, 0, 0});
    for (const uint16_t half : {width, height, uint16_t(300), uint16_t(200), uint16_t(1), uint16_t(1)})
        append<uint16_t>(body, half);
    append<uint32_t>(body, kFakeVisual);
    for (const uint8_t byte : {uint8_t(0), uint8_t(0), uint8_t(24), claims.depths})
        append<uint8_t>(body, byte);
    append<uint8_t>(body, 24);
    append<uint8_t>(body, 0);
    append<uint16_t>(body, claims.visuals);
    body += bytesOf({0});
    append<uint32_t>(body, kFakeVisual);
    for (const uint8_t byte : {uint8_t(4), uint8_t(8)}) // true colour, 8 bits a channel
        append<uint8_t>(body, byte);
    append<uint16_t>(body, 256);
    body += bytesOf({0xFF0000, 0xFF00, 0xFF, 0});
    std::string setup("\x01\x00\x0B\x00\x00\x00", 6);
    append<uint16_t>(setup, static_cast<uint16_t>(body.size() / 4));
    return setup + body;
}

// A reply's head: its type, a byte of data, the sequence number and the number of words after
// the head, then 24 bytes of its own.
std::string replyHead(uint8_t data, uint16_t sequence, uint32_t words, std::string fields = "") {
    std::string head{'\x01', static_cast<char>(data)};
    append<uint16_t>(head, sequence);
    append<uint32_t>(head, words);
    fields.resize(24, '\0');
    return head + fields;
}

// GetImage (73) answered with whole bands of one colour; InternAtom (16) and GetProperty (20)
// answer that nothing is in front.
FakeXServer::Answer solidScreen(uint32_t pixel) {
    return [pixel](uint8_t opcode, uint16_t sequence, const std::string& request,
                   const FakeXServer::Send& send) {
        if (opcode == 16) send(replyHead(0, sequence, 0, bytesOf({0})));
        if (opcode == 20) send(replyHead(0, sequence, 0));
        if (opcode != 73) return;
        uint16_t width = 0, height = 0;
        std::memcpy(&width, request.data() + 12, sizeof width);
        std::memcpy(&height, request.data() + 14, sizeof height);
        std::string pixels;
        for (size_t i = 0; i < size_t(width) * height; ++i)
            append<uint32_t>(pixels, pixel);
        send(replyHead(24, sequence, uint32_t(pixels.size() / 4), bytesOf({kFakeVisual})) + pixels);
    };
}

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
    // A Wayland session without a compositor or a session bus to reach: X is never asked.
    const std::vector<std::pair<std::map<std::string, std::string>, const char*>> cases = {
        {{}, kNoDisplay},
        {{{"DISPLAY", "  "}}, kNoDisplay},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, kUnreachable},
        {{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":59000"}, {"XDG_RUNTIME_DIR", home.path()}},
         kUnreachable},
        {{{"DISPLAY", "remote.example:0"}}, kUnreachable},
        {{{"DISPLAY", ":59000"}}, kUnreachable},
    };
    for (const auto& [environment, detail] : cases) {
        const bool wayland = environment.count("WAYLAND_DISPLAY") + environment.count("XDG_SESSION_TYPE") > 0;
        const SurfaceContext context = contextWith(home, environment);
        const auto surfaces = detectRemoteSurfaces(browserSkill, {}, context);
        ASSERT_EQ(surfaces.size(), 3u);
        EXPECT_EQ(surfaces[0], (KestroAgentRemoteSurfacePayload{.kind = "desktop",
                                                                .title = "Desktop",
                                                                .status = "Off",
                                                                .detail = detail,
                                                                .lastUpdated = surfaces[0].lastUpdated}));
        EXPECT_EQ(surfaces[1].status, "Ready");
        EXPECT_EQ(
            surfaces[1].detail,
            wayland
                ? "Browser tools are installed, but the window in front cannot be known on this desktop."
                : "Browser tools are installed. Open a browser task on this computer to preview it here.");
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
        EXPECT_EQ(browser.detail, wayland
                                      ? "The window in front cannot be known on this desktop."
                                      : "No browser control surface detected from the current Codex setup.");
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
    // a device, a huge file or one without end named there neither blocks nor is read.
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
    for (const std::string& unusable :
         {fifo, std::string("/dev/zero"), std::string("/proc/self/pagemap"), huge, files.path() + "/missing"})
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
        // Drawn as the root window's background, which stays when `display` has ended.
        ASSERT_TRUE(desktop.start("/usr/bin/display", {"-window", "root", "-size", "400x300", "xc:#FF8000"}));
        TemporaryFolder home;
        const SurfaceContext context = contextWith(home, desktop.environment());
        std::optional<DecodedJPEG> image;
        std::string lastSeen = "nothing";
        const bool shown = eventually(
            [&] {
                const auto preview = surfacePreviewPayload("desktop", {}, context);
                lastSeen = preview.status + ": " + preview.detail;
                if (preview.status != "Live" || !preview.imageBase64) return false;
                EXPECT_EQ(preview.mimeType, "image/jpeg");
                EXPECT_EQ(preview.detail, "Current desktop capture from this computer.");
                image = decodedJPEG(base64Decoded(*preview.imageBase64));
                if (!image) return false;
                // The whole screen, tiled with it: nearly all of the 900 × 450 pixels.
                const size_t orange = pixelsNear(*image, {255, 128, 0});
                lastSeen = std::to_string(orange) + " orange pixels of " + std::to_string(image->width) +
                           " x " + std::to_string(image->height);
                return orange > 360'000;
            },
            seconds(30));
        EXPECT_TRUE(shown) << "depth " << depth << "; the last capture: " << lastSeen;
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

TEST(LinuxSurfaceTest, SetupsWhoseListsOverrunTheirBytesMakeTheDisplayUnreachable) {
    TemporaryFolder home;
    const auto sessionWith = [&](const FakeXServer& server) {
        return std::make_unique<XDisplaySession>(
            contextWith(home, {{"DISPLAY", server.display()}}).environment, seconds(5));
    };
    // The honest setup is read and captured, so the refusals below are for their counts alone.
    {
        FakeXServer honest(fakeSetup(64, 48), solidScreen(0xFF8000));
        const auto session = sessionWith(honest);
        ASSERT_EQ(session->state(), XDisplaySession::State::connected);
        const auto image = session->screenImage(900);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->size, (ImageSize{64, 48}));
        EXPECT_EQ(std::vector<uint8_t>(image->pixels.begin(), image->pixels.begin() + 3),
                  (std::vector<uint8_t>{0xFF, 0x80, 0}));
    }
    const std::vector<std::pair<const char*, SetupClaims>> overruns = {
        {"65,535 visuals in the first of 255 depths", {.depths = 255, .visuals = 65535}},
        {"255 depths", {.depths = 255}},
        {"two visuals", {.visuals = 2}},
        {"255 screens", {.screens = 255}},
        {"255 pixmap formats", {.formats = 255}},
        {"a vendor name of 65,535 bytes", {.vendorLength = 65535}},
    };
    for (const auto& [what, claims] : overruns) {
        FakeXServer server(fakeSetup(64, 48, claims), solidScreen(0xFF8000));
        const auto session = sessionWith(server);
        EXPECT_EQ(session->state(), XDisplaySession::State::unreachable) << what;
        EXPECT_FALSE(session->screenImage(900).has_value()) << what;
        EXPECT_FALSE(session->activeWindowClass().has_value()) << what;
    }
    // A refusal whose reason is longer than the bytes sent: the X library would print that
    // many bytes from its copy of them.
    FakeXServer refusing(std::string("\x00\xFF\x0B\x00\x00\x00\x00\x00", 8), solidScreen(0));
    EXPECT_EQ(sessionWith(refusing)->state(), XDisplaySession::State::unreachable);
}

TEST(LinuxSurfaceTest, PropertyValuesAreReadNoFurtherThanTheirReply) {
    // The window in front and its class, each announcing a longer value than its reply holds.
    const auto serverAnswering = [](std::string activeWindow, uint32_t activeClaim, std::string windowClass,
                                    uint32_t classClaim) {
        return FakeXServer(fakeSetup(64, 48), [=](uint8_t opcode, uint16_t sequence, const std::string&,
                                                  const FakeXServer::Send& send) {
            const auto property = [&](uint8_t format, uint32_t type, const std::string& value,
                                      uint32_t claim) {
                const std::string bytes = paddedToWords(value);
                send(replyHead(format, sequence, uint32_t(bytes.size() / 4), bytesOf({type, 0, claim})) +
                     bytes);
            };
            if (opcode == 16) send(replyHead(0, sequence, 0, bytesOf({0x1F0})));
            if (opcode == 20 && sequence == 2) property(32, 33, activeWindow, activeClaim); // WINDOW
            if (opcode == 20 && sequence == 3) property(8, 31, windowClass, classClaim);    // STRING
        });
    };
    TemporaryFolder home;
    const auto classFrom = [&](const FakeXServer& server) {
        XDisplaySession session(contextWith(home, {{"DISPLAY", server.display()}}).environment, seconds(5));
        EXPECT_EQ(session.state(), XDisplaySession::State::connected);
        return session.activeWindowClass();
    };
    const std::string window = bytesOf({0x400001});
    EXPECT_EQ(classFrom(serverAnswering(window, 1, std::string("x\0Chromium-abcde", 16), 4096)),
              "Chromium-abcde");
    EXPECT_EQ(classFrom(serverAnswering(window, 1, std::string("x\0Chromium\0", 11), 11)), "Chromium");
    EXPECT_FALSE(classFrom(serverAnswering("", 1, std::string("x\0Chromium\0", 11), 11)).has_value());
    EXPECT_FALSE(classFrom(serverAnswering(window, 1, "Chromium", 4096)).has_value());
}

TEST(LinuxSurfaceTest, ACaptureFloodedByItsServerEndsAtOnceWithoutGrowing) {
    constexpr uint32_t kAnnouncedWords = 0x1FFFFFF0; // nearly 2 GiB
    // Each floods the first band it is asked for, at full speed, until the client is gone (or
    // `most` bytes are sent: a client without bounds would hold them all).
    const auto flooding = [](std::function<std::string(uint16_t sequence)> head, std::string piece,
                             size_t most = size_t(2) << 30) {
        return [=](uint8_t opcode, uint16_t sequence, const std::string&, const FakeXServer::Send& send) {
            if (opcode != 73 || !send(head(sequence))) return;
            for (size_t sent = 0; sent < most && send(piece); sent += piece.size()) {
            }
        };
    };
    const std::string zeros(1 << 20, '\0');
    const std::vector<std::pair<const char*, FakeXServer::Answer>> floods = {
        {"a band announcing 2 GiB",
         flooding([](uint16_t sequence) { return replyHead(24, sequence, kAnnouncedWords); }, zeros)},
        {"whole bands, over and over",
         flooding([](uint16_t) { return std::string(); },
                  replyHead(24, 1, uint32_t(zeros.size() / 4), bytesOf({kFakeVisual})) + zeros)},
        {"events without end", flooding([](uint16_t) { return std::string(); },
                                        [] {
                                            std::string events;
                                            for (uint16_t i = 0; i < 32768; ++i)
                                                events += replyHead(0, 1, 0).replace(0, 1, "\x1C");
                                            return events;
                                        }(),
                                        size_t(512) << 20)},
    };
    TemporaryFolder home;
    const auto budget = seconds(3);
    for (const auto& [what, answer] : floods) {
        FakeXServer server(fakeSetup(1024, 768), answer);
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
        const long before = residentKilobytes(::getpid());
        const auto started = steady_clock::now();
        {
            XDisplaySession session(contextWith(home, {{"DISPLAY", server.display()}}).environment, budget);
            ASSERT_EQ(session.state(), XDisplaySession::State::connected) << what;
            EXPECT_FALSE(session.screenImage(900).has_value()) << what;
        }
        const auto took = duration_cast<milliseconds>(steady_clock::now() - started);
        const long grown = peakResidentKilobytes(::getpid()) - before;
        EXPECT_LT(took, budget + seconds(2)) << what;
        // Two bands of 1 MiB, the buffers in between, and the allocator's own.
        if (!kSanitizedBuild) {
            EXPECT_LT(grown, 32 * 1024) << what << ": " << grown << " KiB";
        }
        std::cout << what << ": " << took.count() << " ms, " << grown << " KiB more at most\n";
    }
}
