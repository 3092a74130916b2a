// Desktop previews on Wayland. Through screencopy: a headless sway session of 1920 × 1080 with a
// terminal full of text, POST /surface-preview to the built runtime (run as the session's user),
// timed to the answer's last byte, and the capture alone in this process; medians, and the
// runtime's resident memory before and at its peak. Through the desktop portal: a stand-in
// service on a private session bus answering with a PNG of that screen at once, so that the time
// is what this side adds (the D-Bus round trip, reading and shrinking the file).
//
//   kestro_wayland_surface_bench [CAPTURES]

#include "Figures.h"
#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/PortalBus.h"
#include "support/ProcessFacts.h"
#include "support/WaylandSession.h"
#include "surfaces/ScreenshotPortal.h"
#include "surfaces/WaylandSurfaces.h"

#include <algorithm>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;
using Clock = std::chrono::steady_clock;

namespace {

struct Spread {
    double median = 0, lowest = 0, highest = 0;
};
Spread spreadOf(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.front(), samples.back()};
}

EnvironmentLookup lookupOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

double timedPreview(uint16_t port, const std::string& token) {
    const std::string body = R"({"kind":"desktop"})";
    const std::string text = "POST /surface-preview HTTP/1.1\r\nX-Kestro-Token: " + token +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return millisecondsOf([&] {
        const int fd = connectLoopback(port);
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        readAnswer(fd);
        ::close(fd);
    });
}

} // namespace

int main(int argc, char** argv) {
    const int captures = argc > 1 ? std::max(5, std::atoi(argv[1])) : 20;
    WaylandSession session({.width = 1920, .height = 1080});
    if (!session.unavailable().empty()) {
        std::fprintf(stderr, "no headless sway: %s\n", session.unavailable().c_str());
        return 1;
    }
    // Text everywhere, so that the encoder has real work.
    session.start("/usr/bin/foot", {"--hold", "--", "/usr/bin/find", "/usr/share/doc"});

    const std::string token = "b";
    const uint16_t port = freePort();
    auto environment = session.environment();
    environment["TMPDIR"] = session.folder();
    std::vector<std::string> arguments = session.asUser();
    arguments.insert(arguments.end(), {session.copyForUser(kAgentBinary), "--port", std::to_string(port),
                                       "--token", token, "--no-open-pair-page"});
    const std::string launcher = arguments.front();
    arguments.erase(arguments.begin());
    AgentProcess agent(OtherProgram{launcher}, arguments, environment);
    if (agent.waitForLines(9).size() != 9) return 1;

    // Waits until the whole text is on the screen: the answer grows with the detail, and stops
    // growing once it is all drawn.
    size_t answerBytes = 0;
    eventually(
        [&] {
            const size_t previous = answerBytes;
            answerBytes = request(port, "POST", "/surface-preview", {{"X-Kestro-Token", token}},
                                  R"({"kind":"desktop"})")
                              .body.size();
            return answerBytes > 60'000 && answerBytes == previous;
        },
        std::chrono::seconds(60));
    const EnvironmentLookup lookup = lookupOf(session.environment());
    std::vector<double> alone;
    for (int i = 0; i < captures; ++i)
        alone.push_back(millisecondsOf(
            [&] { takeWaylandPicture(lookup, "/usr/bin/grim", std::chrono::seconds(5), 900); }));

    const long idle = residentKilobytes(agent.pid());
    std::vector<double> answered;
    for (int i = 0; i < captures; ++i)
        answered.push_back(timedPreview(port, token));
    const long peak = peakResidentKilobytes(agent.pid());

    // The portal: a PNG of this very screen, as a desktop's portal would write it.
    const std::string screen = session.folder() + "/screen.png";
    runProcess({.executable = "/usr/bin/grim", .arguments = {screen}, .environment = [&] {
                    std::vector<std::string> entries;
                    for (const auto& [name, value] : session.environment())
                        entries.push_back(name + "=" + value);
                    return entries;
                }()});
    PortalBus bus;
    if (!bus.startPortal(screen)) return 1;
    const EnvironmentLookup portalLookup = lookupOf({{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    std::vector<double> throughPortal;
    for (int i = 0; i < captures; ++i)
        throughPortal.push_back(millisecondsOf([&] {
            if (!takePortalScreenshot(portalLookup, Clock::now() + std::chrono::seconds(5), 900).image)
                std::fprintf(stderr, "a portal capture failed\n");
        }));

    const Spread request = spreadOf(answered), capture = spreadOf(alone), portal = spreadOf(throughPortal);
    std::printf(
        "Wayland desktop preview of a 1920 x 1080 headless sway output (%zu-byte answer): POST "
        "/surface-preview median %.1f ms (%.1f-%.1f) over %d; the capture alone (grim) median %.1f ms "
        "(%.1f-%.1f); through the stand-in portal median %.1f ms (%.1f-%.1f); runtime resident memory "
        "%ld KiB before, %ld KiB at its peak\n",
        answerBytes, request.median, request.lowest, request.highest, captures, capture.median,
        capture.lowest, capture.highest, portal.median, portal.lowest, portal.highest, idle, peak);
    char value[160];
    std::snprintf(value, sizeof value, "median %.1f ms (%.1f-%.1f); the capture alone %.1f ms",
                  request.median, request.lowest, request.highest, capture.median);
    reportFigure("Wayland desktop preview of 1920 x 1080 through screencopy (grim), POST /surface-preview",
                 value, "under 60 ms");
    std::snprintf(value, sizeof value, "median %.1f ms (%.1f-%.1f)", portal.median, portal.lowest,
                  portal.highest);
    reportFigure("desktop picture through a stand-in portal answering at once (D-Bus, file, shrinking)",
                 value, "under 80 ms");
    std::snprintf(value, sizeof value, "%ld KiB before, %ld KiB peak (+%ld KiB)", idle, peak, peak - idle);
    reportFigure("runtime resident memory around Wayland desktop previews", value);
    return 0;
}
