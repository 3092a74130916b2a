#pragma once
// A picture of the compositor's screen taken by grim through wlroots' screencopy, read from its
// standard output as it comes and shrunk on the way, so that only a row at a time is held. grim
// still running at the deadline is killed. Linux only (GrimCaptureLinux.cpp).

#include "surfaces/ImageShrinking.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct GrimCapture {
    enum class End {
        captured,
        timedOut, // grim did not finish by the deadline
        failed,   // grim could not start, failed, or wrote no whole picture
    };
    End end = End::failed;
    std::optional<RGBImage> image; // when captured
};

// Runs `grim` with `environment` ("NAME=value" entries: the compositor's socket and runtime
// folder) for the one output named, else for the whole layout, and returns its picture shrunk
// to at most `maxSide` pixels on its longer side.
GrimCapture captureWithGrim(const std::string& grim, std::vector<std::string> environment,
                            const std::optional<std::string>& outputName,
                            std::chrono::steady_clock::time_point deadline, uint32_t maxSide);

} // namespace kestro
