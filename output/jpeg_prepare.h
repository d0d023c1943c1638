// From a frame in memory to three planes of quantised DCT coefficients:
// colour conversion, zero padding to whole blocks, AAN float DCT, quantisation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "output/jpeg_tables.h"

namespace tessaly {

// A bottom-up bitmap: the first stored row is the bottom of the picture, each
// row padded to a multiple of 4 bytes; pixels are B, G, R (and an ignored
// fourth byte at 32 bits).
struct JpegSourceImage {
    const uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 32;  // 24 or 32
};

// Bytes per stored row of a bottom-up bitmap.
size_t JpegSourceStride(int32_t width, int32_t bitsPerPixel);

// A quantised coefficient. 8-bit samples give DCT values within +-1024 and
// every quantiser is at least 1, so 16 bits hold them with room to spare;
// they halve the planes' memory against 32 bits.
using JpegCoefficient = int16_t;

// Y, Cb and Cr coefficients: blocks in raster order (block rows top down),
// each block 64 values in zigzag order.
struct JpegCoefficientPlanes {
    int32_t blockCols = 0;
    int32_t blockRows = 0;
    std::array<std::vector<JpegCoefficient>, 3> plane;

    size_t BlockCount() const { return static_cast<size_t>(blockCols) * static_cast<size_t>(blockRows); }
};

// The separable AAN float forward DCT, in place, columns first then rows.
// Outputs carry the scale 8 * a[u] * a[v] that the divisor tables remove.
void JpegForwardDct(float block[64]);

// Fills the planes (sized here; storage is reused between calls). rowScratch
// holds a few padded rows; it too is reused. Uses SSE2 where available and
// gives exactly the same values as JpegPrepareImagePlain.
void JpegPrepareImage(const JpegSourceImage& image, const JpegQuantTables& tables,
                      JpegCoefficientPlanes& planes, std::vector<uint8_t>& rowScratch);

// Straightforward scalar version, one pixel and one value at a time; the
// reference the fast path is checked against.
void JpegPrepareImagePlain(const JpegSourceImage& image, const JpegQuantTables& tables,
                           JpegCoefficientPlanes& planes);

}  // namespace tessaly
