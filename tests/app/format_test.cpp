#include "app/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace tessaly {
namespace {

TEST(Rounding, HalvesGoToEven) {
    EXPECT_EQ(RoundHalfEvenToInt(0.5), 0);
    EXPECT_EQ(RoundHalfEvenToInt(1.5), 2);
    EXPECT_EQ(RoundHalfEvenToInt(2.5), 2);
    EXPECT_EQ(RoundHalfEvenToInt(-0.5), 0);
    EXPECT_EQ(RoundHalfEvenToInt(-1.5), -2);
    EXPECT_EQ(RoundHalfEvenToInt(-2.5), -2);
    EXPECT_EQ(RoundHalfEvenToInt(2.5000001), 3);
    EXPECT_EQ(RoundHalfEvenToInt32(1e300), INT32_MAX);
    EXPECT_EQ(RoundHalfEvenToInt32(-1e300), INT32_MIN);
    EXPECT_EQ(RoundHalfEvenToInt32(std::nan("")), 0);
}

TEST(FormatNumber, PlainDecimalUpTo15Digits) {
    EXPECT_EQ(FormatNumber(65.9), "65.9");
    EXPECT_EQ(FormatNumber(25), "25");
    EXPECT_EQ(FormatNumber(-8), "-8");
    EXPECT_EQ(FormatNumber(0.04), "0.04");
    EXPECT_EQ(FormatNumber(-0.0), "0");
    EXPECT_EQ(FormatNumber(400000), "400000");
    EXPECT_EQ(FormatNumber(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FormatNumber(1001.0 / 30000.0), "0.0333666666666667");
}

TEST(FormatMask, FixedDigitMasks) {
    EXPECT_EQ(FormatMask(25, "00.00"), "25.00");
    EXPECT_EQ(FormatMask(7.5, "00.00"), "07.50");
    EXPECT_EQ(FormatMask(29.97002997, "00.00"), "29.97");
    EXPECT_EQ(FormatMask(120, "00.00"), "120.00");
    EXPECT_EQ(FormatMask(0.125, "00.00"), "00.12");  // half to even
    EXPECT_EQ(FormatMask(0.375, "00.00"), "00.38");
    EXPECT_EQ(FormatMask(5, "00"), "05");
    EXPECT_EQ(FormatMask(59, "00"), "59");
    EXPECT_EQ(FormatMask(123, "00"), "123");
    EXPECT_EQ(FormatMask(12.3456, "00.000"), "12.346");
    EXPECT_EQ(FormatMask(42, "000000"), "000042");
    EXPECT_EQ(FormatMask(1234567, "000000"), "1234567");
}

TEST(FormatMask, FreeSpaceMaskGroupsTheFraction) {
    EXPECT_EQ(FormatMask(53.123456789, "####.###.###.###"), "53.123.456.789");
    EXPECT_EQ(FormatMask(53.1, "####.###.###.###"), "53.1");
    EXPECT_EQ(FormatMask(53.000456, "####.###.###.###"), "53.000.456");
    EXPECT_EQ(FormatMask(80, "####.###.###.###"), "80");
    EXPECT_EQ(FormatMask(0.5, "####.###.###.###"), "0.5");
    EXPECT_EQ(FormatMask(12345.0000000004, "####.###.###.###"), "12345");
}

TEST(FormatDurationAndClock, SplitIntoHoursMinutesSeconds) {
    EXPECT_EQ(FormatDuration(65.9), "00:01:05");
    EXPECT_EQ(FormatDuration(3600), "01:00:00");
    EXPECT_EQ(FormatDuration(0), "00:00:00");
    EXPECT_EQ(FormatDuration(-3), "00:00:00");
    EXPECT_EQ(FormatDuration(360000), "100:00:00");
    EXPECT_EQ(FormatClock(3599), "00:59:59");
    EXPECT_EQ(FormatClock(3600), "01:00:00");
    EXPECT_EQ(FormatClock(60), "00:01:00");
    EXPECT_EQ(FormatClock(3661), "01:01:01");
}

TEST(ParseLeadingNumber, ReadsNumbersLikeTheFileFormatExpects) {
    EXPECT_EQ(ParseLeadingNumber("-8"), -8);
    EXPECT_EQ(ParseLeadingNumber("  -8"), -8);
    EXPECT_EQ(ParseLeadingNumber("\t12"), 12);
    EXPECT_EQ(ParseLeadingNumber("2.5"), 2.5);
    EXPECT_EQ(ParseLeadingNumber("1e3"), 1000);
    EXPECT_EQ(ParseLeadingNumber("12abc"), 12);
    EXPECT_EQ(ParseLeadingNumber("abc"), 0);
    EXPECT_EQ(ParseLeadingNumber(""), 0);
    EXPECT_EQ(ParseLeadingNumber("-"), 0);
    EXPECT_EQ(ParseLeadingNumber("0x10"), 0);
    EXPECT_EQ(ParseLeadingNumber("inf"), 0);
    EXPECT_EQ(ParseLeadingNumber("nan"), 0);
    EXPECT_EQ(ParseLeadingNumber("1e999999"), 0);  // overflow is no number
}

}  // namespace
}  // namespace tessaly
