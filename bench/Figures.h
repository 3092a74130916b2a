#pragma once
// One line per figure for bench/run-benchmarks to gather into the report table:
//   FIGURE|what|value|target

#include <cstdio>

inline void reportFigure(const char* what, const char* value, const char* target = "—") {
    std::printf("FIGURE|%s|%s|%s\n", what, value, target);
    std::fflush(stdout);
}
