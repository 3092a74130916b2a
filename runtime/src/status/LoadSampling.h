#pragma once
// The CPU and RAM load formulas with their clamps and fallback numbers. Pure functions:
// the platform samples come in as plain values.

#include "platform/Host.h"

#include <optional>

namespace kestro {

struct CPULoadReading {
    double load = 0;
    bool storeSample = false; // whether the new sample replaces the previous one
};

// `current` absent means the platform query failed.
CPULoadReading cpuLoadBetween(const std::optional<CPUTickSample>& previous,
                              const std::optional<CPUTickSample>& current, bool busy);

double ramLoadOf(const std::optional<MemorySample>& sample, bool busy);

} // namespace kestro
