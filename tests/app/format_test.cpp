#include "app/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace tessaly {
namespace {

TEST(Rounding, HalvesGoToEven) {
    const double halves[] = {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 2.5000001};
    const int64_t rounded[] = {0, 2, 2, 0, -2, -2, 3};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(RoundHalfEvenToInt(halves[i]), rounded[i]) << halves[i];
    EXPECT_EQ(RoundHalfEvenToInt32(1e300), INT32_MAX);
    EXPECT_EQ(RoundHalfEvenToInt32(-1e300), INT32_MIN);
    EXPECT_EQ(RoundHalfEvenToInt32(std::nan("")), 0);
}

TEST(FormatNumber, PlainDecimalUpTo15Digits) {
    const struct { double value; const char* text; } cases[] = {
        {65.9, "65.9"}, {25, "25"}, {-8, "-8"}, {0.04, "0.04"}, {-0.0, "0"}, {400000, "400000"},
        {1.0 / 3.0, "0.333333333333333"}, {1001.0 / 30000.0, "0.0333666666666667"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value), c.text) << c.value;
}

TEST(FormatMask, DigitMasks) {
    const struct { double value; const char* mask; const char* text; } cases[] = {
        {25, "00.00", "25.00"}, {7.5, "00.00", "07.50"}, {29.97002997, "00.00", "29.97"},
        {120, "00.00", "120.00"}, {0.125, "00.00", "00.12"}, {0.375, "00.00", "00.38"},
        {5, "00", "05"}, {123, "00", "123"}, {12.3456, "00.000", "12.346"},
        {42, "000000", "000042"}, {1234567, "000000", "1234567"},
        // The free-space mask: '#' digits, separators between fraction digits.
        {53.123456789, "####.###.###.###", "53.123.456.789"}, {53.1, "####.###.###.###", "53.1"},
        {53.000456, "####.###.###.###", "53.000.456"}, {80, "####.###.###.###", "80"},
        {0.5, "####.###.###.###", "0.5"}, {12345.0000000004, "####.###.###.###", "12345"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatMask(c.value, c.mask), c.text) << c.value;
}

TEST(FormatDurationAndClock, SplitIntoHoursMinutesSeconds) {
    const struct { double seconds; const char *duration, *clock; } cases[] = {
        {65.9, "00:01:05", nullptr}, {0, "00:00:00", nullptr},      {-3, "00:00:00", nullptr},
        {360000, "100:00:00", nullptr}, {3600, "01:00:00", "01:00:00"}, {3599, nullptr, "00:59:59"},
        {60, nullptr, "00:01:00"},   {3661, nullptr, "01:01:01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.duration ? FormatDuration(c.seconds) : "", c.duration ? c.duration : "") << c.seconds;
        EXPECT_EQ(c.clock ? FormatClock(static_cast<int32_t>(c.seconds)) : "", c.clock ? c.clock : "") << c.seconds;
    }
}

TEST(ParseLeadingNumber, ReadsNumbersLikeTheFileFormatExpects) {
    const struct { const char* text; double value; } cases[] = {
        {"-8", -8}, {"  -8", -8}, {"\t12", 12}, {"2.5", 2.5}, {"1e3", 1000}, {"12abc", 12},
        {"abc", 0}, {"", 0}, {"-", 0}, {"0x10", 0}, {"inf", 0}, {"nan", 0},
        {"1e999999", 0},  // overflow is no number
    };
    for (const auto& c : cases) EXPECT_EQ(ParseLeadingNumber(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace tessaly
