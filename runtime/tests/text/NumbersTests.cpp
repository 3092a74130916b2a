#include "text/Numbers.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(NumbersTest, NumbersAndIntegersTakeTheWholeTextOrNothing) {
    EXPECT_EQ(parseNumber("1.5e3"), 1500.0);
    EXPECT_EQ(parseNumber("12"), 12.0);
    EXPECT_FALSE(parseNumber("12ms").has_value());
    EXPECT_FALSE(parseNumber("").has_value());
    EXPECT_FALSE(parseNumber("1e999").has_value());
    EXPECT_EQ(parseInteger("-42"), -42);
    EXPECT_FALSE(parseInteger("4.2").has_value());
    EXPECT_FALSE(parseInteger("9223372036854775808").has_value());
}

TEST(NumbersTest, DecimalTextsKeepTheirSignAndSaturate) {
    EXPECT_FALSE(parseDecimal("-0", false).has_value());
    const auto minusZero = parseDecimal("-0", true);
    ASSERT_TRUE(minusZero.has_value());
    EXPECT_TRUE(minusZero->negative);
    EXPECT_EQ(minusZero->magnitude, 0u);
    for (const char* text : {"", "+", "1 ", " 1", "0x10", "+-1", "1.0"})
        EXPECT_FALSE(parseDecimal(text, true).has_value()) << text;
    const auto huge = parseDecimal("123456789012345678901234567890", true);
    ASSERT_TRUE(huge.has_value());
    EXPECT_TRUE(huge->overflowed);
    EXPECT_EQ(huge->magnitude, UINT64_MAX);
    EXPECT_EQ(parsePort("+8787"), 8787);
    EXPECT_EQ(parsePort("00080"), 80);
    EXPECT_FALSE(parsePort("65536").has_value());
    EXPECT_FALSE(parsePort("-1").has_value());
}
