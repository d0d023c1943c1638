#include "app/format.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tessaly {

double RoundHalfEven(double value) {
    // nearbyint follows the current rounding mode; the program never changes
    // it from round-to-nearest-even, but say so explicitly for safety.
    if (std::fegetround() != FE_TONEAREST) std::fesetround(FE_TONEAREST);
    return std::nearbyint(value);
}

int64_t RoundHalfEvenToInt(double value) {
    if (std::isnan(value)) return 0;
    const double r = RoundHalfEven(value);
    if (r >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (r <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(r);
}

int32_t RoundHalfEvenToInt32(double value) {
    const int64_t r = RoundHalfEvenToInt(value);
    if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (r < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(r);
}

std::string FormatNumber(double value) {
    if (std::isnan(value)) return "0";
    if (value == 0) return "0";  // also turns -0 into "0"
    // to_chars never looks at the C locale: "." whatever LC_NUMERIC says.
    char buf[64];
    std::to_chars_result r{};
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value));
    } else {
        r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    }
    return std::string(buf, r.ptr);
}

std::string FormatMask(double value, std::string_view mask) {
    const size_t point = mask.find('.');
    const std::string_view intMask = mask.substr(0, point);
    const std::string_view fracMask =
        point == std::string_view::npos ? std::string_view{} : mask.substr(point + 1);

    int fracDigits = 0;
    for (char c : fracMask)
        if (c == '0' || c == '#') ++fracDigits;
    int minIntDigits = 0;
    for (char c : intMask)
        if (c == '0') ++minIntDigits;

    const bool negative = value < 0;
    // Scale to an integer count of the last fraction digit, rounded halves to
    // even. Long double keeps the 15+ digits the masks can ask for.
    long double scaled = std::fabs(static_cast<long double>(value));
    for (int i = 0; i < fracDigits; ++i) scaled *= 10;
    scaled = std::nearbyint(scaled);
    char digitsBuf[80];
    std::snprintf(digitsBuf, sizeof digitsBuf, "%.0Lf", scaled);
    std::string digits = digitsBuf;
    if (static_cast<int>(digits.size()) < fracDigits + 1)
        digits.insert(0, fracDigits + 1 - digits.size(), '0');

    std::string intPart = digits.substr(0, digits.size() - fracDigits);
    const std::string fracPart = digits.substr(digits.size() - fracDigits);
    // Strip leading zeros down to the mask's fixed digits (at least one digit
    // is always written so a value below one never starts with the point).
    const size_t keep = std::max<size_t>(1, static_cast<size_t>(minIntDigits));
    while (intPart.size() > keep && intPart[0] == '0') intPart.erase(0, 1);
    if (static_cast<int>(intPart.size()) < minIntDigits)
        intPart.insert(0, minIntDigits - intPart.size(), '0');

    // Lay the fraction digits into the mask; '#' digits that are trailing
    // zeros are dropped together with the separators before them.
    std::string frac;
    size_t lastKept = 0;  // length of frac up to the last digit that must stay
    int d = 0;
    for (char c : fracMask) {
        if (c == '0' || c == '#') {
            const char digit = fracPart[d++];
            frac += digit;
            if (c == '0' || digit != '0') lastKept = frac.size();
        } else {
            frac += c;
        }
    }
    // A '#' digit that is zero may only be dropped when everything after it is
    // dropped as well, so cut at the last digit that must stay.
    frac.resize(lastKept);

    std::string out;
    if (negative && (intPart.find_first_not_of('0') != std::string::npos ||
                     frac.find_first_of("123456789") != std::string::npos))
        out += '-';
    out += intPart;
    if (!frac.empty()) {
        out += '.';
        out += frac;
    }
    return out;
}

static std::string TwoDigits(int64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld", static_cast<long long>(v));
    return buf;
}

static std::string JoinClock(int64_t total) {
    if (total < 0) total = 0;
    const int64_t h = total / 3600;
    const int64_t m = (total - 3600 * h) / 60;
    const int64_t s = total - 3600 * h - 60 * m;
    return TwoDigits(h) + ":" + TwoDigits(m) + ":" + TwoDigits(s);
}

std::string FormatDuration(double seconds) {
    if (!(seconds > 0)) return JoinClock(0);  // also NaN
    if (seconds > 9.0e15) seconds = 9.0e15;
    return JoinClock(static_cast<int64_t>(std::floor(seconds)));
}

std::string FormatClock(int32_t seconds) { return JoinClock(seconds); }

double ParseLeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        number += text[i++];
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            number += text[i++];
            ++digits;
        }
    }
    if (digits == 0) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        size_t expDigits = 0;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9' && expDigits < 6) {
            exponent += text[j++];
            ++expDigits;
        }
        if (expDigits > 0) number += exponent;
    }
    // from_chars reads "." as the decimal point in every locale (strtod
    // would stop at it under a comma locale); it takes no leading "+".
    const char* first = number.data();
    if (*first == '+') ++first;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(first, number.data() + number.size(), v);
    if (ec != std::errc()) return 0;
    return std::isfinite(v) ? v : 0;
}

std::string TrimBlanksAndNuls(std::string_view text) {
    const auto isTrim = [](char c) { return c == ' ' || c == '\0'; };
    size_t b = 0;
    while (b < text.size() && isTrim(text[b])) ++b;
    size_t e = text.size();
    while (e > b && isTrim(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

}  // namespace tessaly
