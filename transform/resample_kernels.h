// Inner loops of the cubic resampler. Every variant computes, for each
// destination pixel, exactly the same single-precision operations in the same
// order per channel, so all give identical bytes. This header is included by
// translation units compiled for wider instruction sets: keep it free of C++
// library headers, whose inline functions must not be emitted there.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tessaly::kernels {

struct SpanSource {
    const uint8_t* src;    // first stored row of the source, from column firstColumn on
    ptrdiff_t srcStride;   // bytes per source row
    int srcW;
    int srcH;
    float cxS;             // 0.5 * srcW - 0.5, plus the job's centreX
    float cyS;             // 0.5 * srcH - 0.5, plus the job's centreY
    // The buffer may hold only the columns the written pixels read: column
    // firstColumn of the source is its first. Pixels that are not written
    // read the block at the buffer's origin.
    int firstColumn;
};

// Resamples `count` consecutive destination pixels starting at dst, pixel k
// taking its source point from uv[2k], uv[2k+1] (offsets from the source
// centre). Pixels whose 4 x 4 neighbourhood leaves the source are not written;
// the fourth byte of a written pixel is kept.
void SpanScalar(const SpanSource& s, const float* byteToFloat, const int32_t* saturation,
                const float* uv, int count, uint8_t* dst);

// The vector variants handle a prefix of the span (a multiple of their width)
// and return its length; the caller finishes the rest with SpanScalar. They
// need srcW >= 4 and srcH >= 4.
int SpanSse2(const SpanSource& s, const float* uv, int count, uint8_t* dst);
int SpanAvx2(const SpanSource& s, const float* uv, int count, uint8_t* dst);
int SpanAvx512(const SpanSource& s, const float* uv, int count, uint8_t* dst);
using VectorSpanFn = int (*)(const SpanSource& s, const float* uv, int count, uint8_t* dst);

}  // namespace tessaly::kernels
