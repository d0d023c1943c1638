// Number and time formatting shared by the log, labels and command lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly {

// Nearest integer, halves to even (the rounding used for every float-to-int
// conversion unless a caller says floor or truncate).
double RoundHalfEven(double value);
int64_t RoundHalfEvenToInt(double value);
// The same, clamped into the int32 range (NaN gives 0).
int32_t RoundHalfEvenToInt32(double value);

// Decimal text with up to 15 significant digits, no blanks, fractions only
// where the value has them: 65.9 -> "65.9", 25 -> "25", -8 -> "-8".
std::string FormatNumber(double value);

// Digit masks: '0' a digit that is always written, '#' a digit written only
// when significant; the first '.' is the decimal point, later '.'s are kept
// as separators between the fraction digits. Values are rounded halves to
// even at the last digit. "00.00": 7.5 -> "07.50"; "000000": 42 -> "000042".
std::string FormatMask(double value, std::string_view mask);

// Seconds as "hh:mm:ss" (each field at least two digits; the fraction is
// dropped): 65.9 -> "00:01:05", 3600 -> "01:00:00".
std::string FormatDuration(double seconds);
std::string FormatClock(int32_t seconds);

// Leading numeric value of a text the way the parameter file and the command
// line read numbers: leading blanks skipped, an optional sign, digits with an
// optional fraction and exponent; anything else ends the number. No number
// at all gives 0. Never reads hexadecimal, "inf" or "nan".
double ParseLeadingNumber(std::string_view text);

// The text without blanks and NUL characters at either end (paths read from
// fixed-length buffers carry both).
std::string TrimBlanksAndNuls(std::string_view text);

}  // namespace tessaly
