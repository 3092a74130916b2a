#pragma once
// One line per figure for bench/run-benchmarks to gather into the report table:
//   FIGURE|what|value|target

#include <chrono>
#include <cstdio>
#include <functional>

inline void reportFigure(const char* what, const char* value, const char* target = "—") {
    std::printf("FIGURE|%s|%s|%s\n", what, value, target);
    std::fflush(stdout);
}

// How long `body` took, in milliseconds.
inline double millisecondsOf(const std::function<void()>& body) {
    const auto started = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
}
