#include "platform/ChildProcess.h"
#include "surfaces/GrimCapture.h"
#include "surfaces/PortablePixmap.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace kestro {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

} // namespace

GrimCapture captureWithGrim(const std::string& grim, std::vector<std::string> environment,
                            const std::optional<std::string>& outputName, Clock::time_point deadline,
                            uint32_t maxSide) {
    // PPM needs no decoding: its rows go straight to the shrinker.
    std::vector<std::string> arguments{"-t", "ppm"};
    if (outputName) arguments.insert(arguments.end(), {"-o", *outputName});
    arguments.push_back("-");
    SpawnResult spawned = ChildProcess::spawn({.executable = grim,
                                               .arguments = std::move(arguments),
                                               .environment = std::move(environment),
                                               .watchExit = true,
                                               .endsWithParent = true});
    if (!spawned.child) return {};
    // Killed and reaped when it goes, whatever happened below.
    ChildProcess& child = *spawned.child;

    PortablePixmapReader picture(maxSide);
    std::array<char, 65536> chunk;
    // Standard output, standard error (read only so that grim never blocks on it), its end.
    std::array<pollfd, 3> watched{{{child.standardOutput().get(), POLLIN, 0},
                                   {child.standardError().get(), POLLIN, 0},
                                   {child.exitNotice().get(), POLLIN, 0}}};
    while (watched[0].fd >= 0 || watched[1].fd >= 0 || watched[2].fd >= 0) {
        const int ready = ::poll(watched.data(), watched.size(), remainingMilliseconds(deadline));
        if (ready == 0) return {.end = GrimCapture::End::timedOut};
        if (ready < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        for (size_t i = 0; i < 2; ++i) {
            if (watched[i].fd < 0 || watched[i].revents == 0) continue;
            const ssize_t got = ::read(watched[i].fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                watched[i].fd = -1;
                continue;
            }
            // A broken picture ends the capture at once (and grim with it).
            if (i == 0 && !picture.add(chunk.data(), size_t(got))) return {};
        }
        if (watched[2].fd >= 0 && watched[2].revents != 0) watched[2].fd = -1;
    }
    if (child.wait() != 0) return {};
    auto image = picture.finish();
    if (!image) return {};
    return {.end = GrimCapture::End::captured, .image = std::move(image)};
}

} // namespace kestro
