// Constant tables of the baseline JPEG encoder and the quality scaling that
// turns them into quantiser and divisor tables.
#pragma once

#include <array>
#include <cstdint>

namespace tessaly {

// Natural position 8 * row + column -> zigzag position.
extern const std::array<uint8_t, 64> kJpegZigzag;
// Zigzag position -> natural position.
extern const std::array<uint8_t, 64> kJpegNatural;

// Luminance and chrominance base tables (ITU T.81 Annex K), zigzag order.
extern const std::array<int32_t, 64> kJpegBaseLuma;
extern const std::array<int32_t, 64> kJpegBaseChroma;

// AAN post-scaling factors s[k] = 1 / (sqrt(8) * a[k]).
extern const std::array<float, 8> kJpegAanScale;

inline constexpr int kJpegDefaultQuality = 75;

// Quality as the encoder uses it: 50..100, anything else is the default.
int JpegEffectiveQuality(int quality);

// (scale * base + 50) / 100 exactly, rounded half to even, clamped to 1..255.
int32_t JpegScaledQuantValue(int32_t scale, int32_t base);

struct JpegQuantTables {
    // Table 0 luminance, 1 chrominance; zigzag order; what DQT carries.
    std::array<std::array<int32_t, 64>, 2> quant{};
    // Multipliers that undo the DCT's scaling and divide by the quantiser.
    std::array<std::array<float, 64>, 2> divisor{};
};

// Derives both quantiser and both divisor tables for a quality.
JpegQuantTables JpegSetQuality(int quality);

}  // namespace tessaly
