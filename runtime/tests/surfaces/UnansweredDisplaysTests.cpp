#include "surfaces/UnansweredDisplays.h"

#include <gtest/gtest.h>

using namespace kestro;
using namespace std::chrono;

TEST(UnansweredDisplaysTest, ADisplayIsRememberedForItsTimeAndAlone) {
    UnansweredDisplays::Clock::time_point now{};
    UnansweredDisplays displays(seconds(30), [&] { return now; });
    displays.reportUnanswered("x11::0");
    displays.reportUnanswered("");
    EXPECT_TRUE(displays.isUnanswered("x11::0"));
    EXPECT_FALSE(displays.isUnanswered("x11::1"));
    EXPECT_FALSE(displays.isUnanswered(""));
    now += seconds(29);
    EXPECT_TRUE(displays.isUnanswered("x11::0"));
    now += seconds(1);
    EXPECT_FALSE(displays.isUnanswered("x11::0"));
    // A new report starts the time again.
    displays.reportUnanswered("x11::0");
    now += seconds(29);
    EXPECT_TRUE(displays.isUnanswered("x11::0"));
}
