#include "status/LoadSampling.h"

#include <gtest/gtest.h>

using namespace kestro;

namespace {
CPUTickSample ticks(uint32_t user, uint32_t system, uint32_t idle, uint32_t nice) {
    return {.user = user, .system = system, .idle = idle, .nice = nice};
}
} // namespace

TEST(LoadSamplingTest, CPUFallbacksDependOnBusy) {
    EXPECT_EQ(cpuLoadBetween(ticks(1, 1, 1, 1), std::nullopt, false).load, 0.08);
    EXPECT_EQ(cpuLoadBetween(ticks(1, 1, 1, 1), std::nullopt, true).load, 0.34);
    EXPECT_FALSE(cpuLoadBetween(ticks(1, 1, 1, 1), std::nullopt, true).storeSample);
    const auto first = cpuLoadBetween(std::nullopt, ticks(1, 1, 1, 1), false);
    EXPECT_EQ(first.load, 0.07);
    EXPECT_TRUE(first.storeSample);
    EXPECT_EQ(cpuLoadBetween(std::nullopt, ticks(1, 1, 1, 1), true).load, 0.22);
    const auto still = cpuLoadBetween(ticks(5, 5, 5, 5), ticks(5, 5, 5, 5), false);
    EXPECT_EQ(still.load, 0.06);
    EXPECT_TRUE(still.storeSample);
    EXPECT_EQ(cpuLoadBetween(ticks(5, 5, 5, 5), ticks(5, 5, 5, 5), true).load, 0.24);
}

TEST(LoadSamplingTest, CPULoadIsTheNonIdleShareClamped) {
    EXPECT_DOUBLE_EQ(cpuLoadBetween(ticks(100, 50, 800, 10), ticks(130, 60, 850, 20), false).load,
                     50.0 / 100.0);
    EXPECT_EQ(cpuLoadBetween(ticks(0, 0, 0, 0), ticks(0, 0, 1000, 0), false).load, 0.03);
    EXPECT_EQ(cpuLoadBetween(ticks(0, 0, 0, 0), ticks(1000, 0, 0, 0), false).load, 0.96);
}

TEST(LoadSamplingTest, AWrappedCounterScoresLikeAFirstReading) {
    const auto reading = cpuLoadBetween(ticks(0xFFFFFFF0u, 0, 0, 0), ticks(5, 0, 10, 0), true);
    EXPECT_EQ(reading.load, 0.22);
    EXPECT_TRUE(reading.storeSample);
}

TEST(LoadSamplingTest, RAMLoadIsUsedOverPhysicalClamped) {
    EXPECT_EQ(ramLoadOf(std::nullopt, false), 0.31);
    EXPECT_EQ(ramLoadOf(std::nullopt, true), 0.46);
    EXPECT_EQ(ramLoadOf(MemorySample{.usedBytes = 1, .physicalBytes = 0}, false), 0.31);
    EXPECT_DOUBLE_EQ(ramLoadOf(MemorySample{.usedBytes = 3, .physicalBytes = 8}, false), 0.375);
    EXPECT_EQ(ramLoadOf(MemorySample{.usedBytes = 9, .physicalBytes = 8}, false), 0.98);
    EXPECT_EQ(ramLoadOf(MemorySample{.usedBytes = 0, .physicalBytes = 8}, false), 0.05);
}
