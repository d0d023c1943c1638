#include "output/jpeg_tables.h"

#include <algorithm>

namespace tessaly {

const std::array<uint8_t, 64> kJpegZigzag = {
    0,  1,  5,  6,  14, 15, 27, 28,  //
    2,  4,  7,  13, 16, 26, 29, 42,  //
    3,  8,  12, 17, 25, 30, 41, 43,  //
    9,  11, 18, 24, 31, 40, 44, 53,  //
    10, 19, 23, 32, 39, 45, 52, 54,  //
    20, 22, 33, 38, 46, 51, 55, 60,  //
    21, 34, 37, 47, 50, 56, 59, 61,  //
    35, 36, 48, 49, 57, 58, 62, 63,
};

namespace {

constexpr std::array<uint8_t, 64> kNaturalFromZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Annex K tables in natural order; converted to zigzag below.
constexpr int32_t kLumaNatural[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,
};

constexpr int32_t kChromaNatural[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,
};

constexpr std::array<int32_t, 64> ToZigzag(const int32_t (&natural)[64]) {
    std::array<int32_t, 64> out{};
    for (int z = 0; z < 64; ++z) out[z] = natural[kNaturalFromZigzag[z]];
    return out;
}

}  // namespace

const std::array<uint8_t, 64> kJpegNatural = kNaturalFromZigzag;
const std::array<int32_t, 64> kJpegBaseLuma = ToZigzag(kLumaNatural);
const std::array<int32_t, 64> kJpegBaseChroma = ToZigzag(kChromaNatural);

const std::array<float, 8> kJpegAanScale = {
    0.353553390593273f, 0.25489778955208f,  0.270598050073098f, 0.300672443467523f,
    0.353553390593273f, 0.449988111568207f, 0.653281482438186f, 1.28145772387074f,
};

int JpegEffectiveQuality(int quality) {
    return (quality < 50 || quality > 100) ? kJpegDefaultQuality : quality;
}

int32_t JpegScaledQuantValue(int32_t scale, int32_t base) {
    const int32_t numerator = scale * base + 50;  // never negative: scale >= 0
    int32_t q = numerator / 100;
    const int32_t rest = numerator % 100;
    if (rest > 50 || (rest == 50 && (q & 1) != 0)) ++q;
    return std::clamp(q, int32_t{1}, int32_t{255});
}

JpegQuantTables JpegSetQuality(int quality) {
    const int32_t scale = 200 - 2 * JpegEffectiveQuality(quality);
    JpegQuantTables t;
    for (int z = 0; z < 64; ++z) {
        t.quant[0][z] = JpegScaledQuantValue(scale, kJpegBaseLuma[z]);
        t.quant[1][z] = JpegScaledQuantValue(scale, kJpegBaseChroma[z]);
    }
    for (int table = 0; table < 2; ++table) {
        for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 8; ++c) {
                const int z = kJpegZigzag[8 * r + c];
                const float product = kJpegAanScale[r] * kJpegAanScale[c];
                t.divisor[table][z] = product / static_cast<float>(t.quant[table][z]);
            }
        }
    }
    return t;
}

}  // namespace tessaly
