// One desktop preview of a 1920 × 1080 screen (Xvfb managed by openbox, a busy picture on it):
// POST /surface-preview to the built runtime, timed to the answer's last byte, and the capture
// alone (connection, screen, shrinking, JPEG) in this process; medians, and the runtime's
// resident memory before and at its peak.
//
//   kestro_surface_bench [CAPTURES]

#include "Figures.h"
#include "support/AgentProcess.h"
#include "support/DesktopSession.h"
#include "support/LoopbackHTTP.h"
#include "support/PreviewImages.h"
#include "support/ProcessFacts.h"
#include "surfaces/SurfacePreviews.h"

#include <algorithm>
#include <chrono>
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

// One POST /surface-preview, timed to the answer's last byte (the server then lingers before
// closing).
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
    DesktopSession desktop({.width = 1920, .height = 1080});
    if (desktop.display().empty()) return 1;
    // A picture with detail everywhere, so the encoder has real work.
    desktop.start("/usr/bin/display", {"-geometry", "+0+0", "-size", "1900x1040", "plasma:fractal"});

    const std::string token = "b";
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", token, "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"PATH", "/usr/bin:/bin"},
                        {"DISPLAY", desktop.display()}});
    if (agent.waitForLines(9).size() != 9) return 1;
    const SurfaceContext context{.environment = [&](const std::string& name) -> std::optional<std::string> {
        if (name == "DISPLAY") return desktop.display();
        if (name == "HOME") return home.path();
        return std::nullopt;
    }};
    // Waits, with captures of its own, until the whole picture is on the screen: the JPEG grows
    // with the detail, and stops growing once it is all drawn.
    size_t jpegBytes = 0;
    eventually(
        [&] {
            const size_t previous = jpegBytes;
            jpegBytes = base64Decoded(captureDesktopPreview(context).imageBase64.value_or("")).size();
            return jpegBytes > 30'000 && jpegBytes == previous;
        },
        std::chrono::seconds(60));
    std::vector<double> alone;
    for (int i = 0; i < captures; ++i)
        alone.push_back(millisecondsOf([&] { captureDesktopPreview(context); }));

    const long idle = residentKilobytes(agent.pid());
    std::vector<double> answered;
    for (int i = 0; i < captures; ++i)
        answered.push_back(timedPreview(port, token));
    const long peak = peakResidentKilobytes(agent.pid());

    const Spread request = spreadOf(answered), capture = spreadOf(alone);
    std::printf("desktop preview of a 1920 x 1080 screen (%zu-byte JPEG, 900 x 506): POST /surface-preview "
                "median %.1f ms (%.1f-%.1f) over %d; the capture alone median %.1f ms (%.1f-%.1f); runtime "
                "resident memory %ld KiB before, %ld KiB at its peak\n",
                jpegBytes, request.median, request.lowest, request.highest, captures, capture.median,
                capture.lowest, capture.highest, idle, peak);
    char value[160];
    std::snprintf(value, sizeof value, "median %.1f ms (%.1f-%.1f); the capture alone %.1f ms",
                  request.median, request.lowest, request.highest, capture.median);
    reportFigure("desktop preview of a 1920 x 1080 screen, POST /surface-preview", value, "under 60 ms");
    std::snprintf(value, sizeof value, "%ld KiB before, %ld KiB peak (+%ld KiB)", idle, peak, peak - idle);
    reportFigure("runtime resident memory around desktop previews", value);
    return 0;
}
