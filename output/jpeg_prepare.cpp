#include "output/jpeg_prepare.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace tessaly {

namespace {

// Colour conversion: value = cR * R + cG * G + cB * B + offset, in this order.
constexpr float kYR = 0.299f, kYG = 0.587f, kYB = 0.114f, kYOffset = -128.0f;
constexpr float kCbR = -0.16874f, kCbG = -0.33126f, kCbB = 0.5f;
constexpr float kCrR = 0.5f, kCrG = -0.41869f, kCrB = -0.08131f;

constexpr float kC707 = 0.707106781186548f;
constexpr float kC382 = 0.382683432365091f;
constexpr float kC541 = 0.541196100146196f;
constexpr float kC1306 = 1.30656296487638f;

// One 1-D AAN pass on eight values (scalars or four-lane vectors alike: each
// lane sees exactly the scalar sequence of operations).
template <typename V>
inline void Dct8(V& d0, V& d1, V& d2, V& d3, V& d4, V& d5, V& d6, V& d7, V c707, V c382, V c541,
                 V c1306) {
    const V t0 = d0 + d7, t7 = d0 - d7;
    const V t1 = d1 + d6, t6 = d1 - d6;
    const V t2 = d2 + d5, t5 = d2 - d5;
    const V t3 = d3 + d4, t4 = d3 - d4;

    V t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
    d0 = t10 + t11;
    d4 = t10 - t11;
    const V z1 = (t12 + t13) * c707;
    d2 = t13 + z1;
    d6 = t13 - z1;

    t10 = t4 + t5;
    t11 = t5 + t6;
    t12 = t6 + t7;
    const V z5 = (t10 - t12) * c382;
    const V z2 = c541 * t10 + z5;
    const V z4 = c1306 * t12 + z5;
    const V z3 = t11 * c707;
    const V z11 = t7 + z3, z13 = t7 - z3;
    d5 = z13 + z2;
    d3 = z13 - z2;
    d1 = z11 + z4;
    d7 = z11 - z4;
}

inline void Dct8Strided(float* p, int stride) {
    Dct8<float>(p[0], p[stride], p[2 * stride], p[3 * stride], p[4 * stride], p[5 * stride],
                p[6 * stride], p[7 * stride], kC707, kC382, kC541, kC1306);
}

void SizePlanes(const JpegSourceImage& image, JpegCoefficientPlanes& planes) {
    planes.blockCols = (image.width + 7) / 8;
    planes.blockRows = (image.height + 7) / 8;
    const size_t values = planes.BlockCount() * 64;
    for (auto& p : planes.plane) {
        if (p.size() != values) p.resize(values);
    }
}

const uint8_t* SourceRow(const JpegSourceImage& image, int32_t topDownRow) {
    const size_t stored = static_cast<size_t>(image.height - 1 - topDownRow);
    return image.pixels + stored * JpegSourceStride(image.width, image.bitsPerPixel);
}

#if defined(__SSE2__)

// Row pointers for one block row: 8 rows of W8 pixels, 4 bytes each. Rows
// below the picture point at a zero row; rows that are not already in that
// form (24 bits, or a width that is not a multiple of 8) are staged.
void BlockRowPointers(const JpegSourceImage& image, int32_t blockRow, int32_t paddedWidth,
                      std::vector<uint8_t>& scratch, const uint8_t* rows[8]) {
    const size_t rowBytes = static_cast<size_t>(paddedWidth) * 4;
    const uint8_t* zeroRow = scratch.data() + 8 * rowBytes;
    const bool direct = image.bitsPerPixel == 32 && image.width == paddedWidth;
    for (int r = 0; r < 8; ++r) {
        const int32_t y = blockRow * 8 + r;
        if (y >= image.height) {
            rows[r] = zeroRow;
            continue;
        }
        const uint8_t* src = SourceRow(image, y);
        if (direct) {
            rows[r] = src;
            continue;
        }
        uint8_t* dst = scratch.data() + static_cast<size_t>(r) * rowBytes;
        if (image.bitsPerPixel == 32) {
            std::memcpy(dst, src, static_cast<size_t>(image.width) * 4);
        } else {
            for (int32_t x = 0; x < image.width; ++x) {
                dst[4 * x] = src[3 * x];
                dst[4 * x + 1] = src[3 * x + 1];
                dst[4 * x + 2] = src[3 * x + 2];
                dst[4 * x + 3] = 0;
            }
        }
        std::memset(dst + static_cast<size_t>(image.width) * 4, 0,
                    static_cast<size_t>(paddedWidth - image.width) * 4);
        rows[r] = dst;
    }
}

inline void Transpose4(__m128& a, __m128& b, __m128& c, __m128& d) { _MM_TRANSPOSE4_PS(a, b, c, d); }

// 2-D DCT of eight rows held as v[row][half] (half 0: columns 0..3).
// On return v[u'][half] lane i holds the coefficient (row 4 * half + i,
// column u'): the block comes back transposed.
inline void Dct2D(__m128 v[8][2]) {
    const __m128 c707 = _mm_set1_ps(kC707), c382 = _mm_set1_ps(kC382);
    const __m128 c541 = _mm_set1_ps(kC541), c1306 = _mm_set1_ps(kC1306);
    for (int h = 0; h < 2; ++h) {  // columns: each lane is one column
        Dct8<__m128>(v[0][h], v[1][h], v[2][h], v[3][h], v[4][h], v[5][h], v[6][h], v[7][h], c707,
                     c382, c541, c1306);
    }
    // Transpose the four 4x4 quarters (and swap the off-diagonal ones).
    Transpose4(v[0][0], v[1][0], v[2][0], v[3][0]);
    Transpose4(v[4][1], v[5][1], v[6][1], v[7][1]);
    Transpose4(v[0][1], v[1][1], v[2][1], v[3][1]);
    Transpose4(v[4][0], v[5][0], v[6][0], v[7][0]);
    for (int k = 0; k < 4; ++k) {
        const __m128 t = v[k][1];
        v[k][1] = v[k + 4][0];
        v[k + 4][0] = t;
    }
    for (int h = 0; h < 2; ++h) {  // rows: each lane is one row
        Dct8<__m128>(v[0][h], v[1][h], v[2][h], v[3][h], v[4][h], v[5][h], v[6][h], v[7][h], c707,
                     c382, c541, c1306);
    }
}

struct TransposedDivisors {
    // d[table][u][half] lane i = divisor of natural position (4 * half + i, u).
    __m128 d[2][8][2];
};

TransposedDivisors MakeTransposedDivisors(const JpegQuantTables& tables) {
    TransposedDivisors t;
    for (int table = 0; table < 2; ++table) {
        for (int u = 0; u < 8; ++u) {
            for (int h = 0; h < 2; ++h) {
                alignas(16) float lanes[4];
                for (int i = 0; i < 4; ++i) lanes[i] = tables.divisor[table][kJpegZigzag[8 * (4 * h + i) + u]];
                t.d[table][u][h] = _mm_load_ps(lanes);
            }
        }
    }
    return t;
}

// Zigzag position -> index into the transposed block (8 * column + row).
struct TransposedOrder {
    uint8_t index[64];
};

TransposedOrder MakeTransposedOrder() {
    TransposedOrder o{};
    for (int z = 0; z < 64; ++z) {
        const int n = kJpegNatural[z];
        o.index[z] = static_cast<uint8_t>(8 * (n % 8) + n / 8);
    }
    return o;
}

inline void QuantizeStore(__m128 v[8][2], const __m128 (&div)[8][2], const TransposedOrder& order,
                          JpegCoefficient* out) {
    alignas(16) JpegCoefficient t[64];
    for (int u = 0; u < 8; ++u) {
        // cvtps rounds by the current mode: to nearest, ties to even; the
        // values are far inside 16 bits, so the saturating pack keeps them.
        _mm_store_si128(reinterpret_cast<__m128i*>(t + 8 * u),
                        _mm_packs_epi32(_mm_cvtps_epi32(_mm_mul_ps(v[u][0], div[u][0])),
                                        _mm_cvtps_epi32(_mm_mul_ps(v[u][1], div[u][1]))));
    }
    for (int z = 0; z < 64; ++z) out[z] = t[order.index[z]];
}

#endif  // __SSE2__

}  // namespace

size_t JpegSourceStride(int32_t width, int32_t bitsPerPixel) {
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8);
    return (bytes + 3) & ~static_cast<size_t>(3);
}

void JpegForwardDct(float block[64]) {
    for (int c = 0; c < 8; ++c) Dct8Strided(block + c, 8);
    for (int r = 0; r < 8; ++r) Dct8Strided(block + 8 * r, 1);
}

void JpegPrepareImagePlain(const JpegSourceImage& image, const JpegQuantTables& tables,
                           JpegCoefficientPlanes& planes) {
    SizePlanes(image, planes);
    const int bytesPerPixel = image.bitsPerPixel / 8;
    struct Coefficients {
        float r, g, b, offset;
        int table;
    };
    const Coefficients comps[3] = {{kYR, kYG, kYB, kYOffset, 0},
                                   {kCbR, kCbG, kCbB, 0.0f, 1},
                                   {kCrR, kCrG, kCrB, 0.0f, 1}};
    for (int comp = 0; comp < 3; ++comp) {
        const Coefficients& k = comps[comp];
        JpegCoefficient* out = planes.plane[comp].data();
        for (int32_t by = 0; by < planes.blockRows; ++by) {
            for (int32_t bx = 0; bx < planes.blockCols; ++bx) {
                float block[64];
                for (int r = 0; r < 8; ++r) {
                    const int32_t y = by * 8 + r;
                    for (int c = 0; c < 8; ++c) {
                        const int32_t x = bx * 8 + c;
                        float B = 0, G = 0, R = 0;  // padding stays black
                        if (x < image.width && y < image.height) {
                            const uint8_t* p = SourceRow(image, y) + static_cast<size_t>(x) * bytesPerPixel;
                            B = p[0];
                            G = p[1];
                            R = p[2];
                        }
                        block[8 * r + c] = k.r * R + k.g * G + k.b * B + k.offset;
                    }
                }
                JpegForwardDct(block);
                for (int n = 0; n < 64; ++n) {
                    const int z = kJpegZigzag[n];
                    const long q = std::lrint(block[n] * tables.divisor[k.table][z]);
                    out[z] = static_cast<JpegCoefficient>(std::clamp<long>(q, INT16_MIN, INT16_MAX));
                }
                out += 64;
            }
        }
    }
}

void JpegPrepareImage(const JpegSourceImage& image, const JpegQuantTables& tables,
                      JpegCoefficientPlanes& planes, std::vector<uint8_t>& rowScratch) {
#if defined(__SSE2__)
    SizePlanes(image, planes);
    const int32_t paddedWidth = planes.blockCols * 8;
    const size_t rowBytes = static_cast<size_t>(paddedWidth) * 4;
    if (rowScratch.size() < 9 * rowBytes) rowScratch.resize(9 * rowBytes);
    std::memset(rowScratch.data() + 8 * rowBytes, 0, rowBytes);

    const TransposedDivisors div = MakeTransposedDivisors(tables);
    const TransposedOrder order = MakeTransposedOrder();
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128 yR = _mm_set1_ps(kYR), yG = _mm_set1_ps(kYG), yB = _mm_set1_ps(kYB);
    const __m128 yOff = _mm_set1_ps(kYOffset);
    const __m128 cbR = _mm_set1_ps(kCbR), cbG = _mm_set1_ps(kCbG), cbB = _mm_set1_ps(kCbB);
    const __m128 crR = _mm_set1_ps(kCrR), crG = _mm_set1_ps(kCrG), crB = _mm_set1_ps(kCrB);

    JpegCoefficient* outY = planes.plane[0].data();
    JpegCoefficient* outCb = planes.plane[1].data();
    JpegCoefficient* outCr = planes.plane[2].data();
    const uint8_t* rows[8];
    for (int32_t by = 0; by < planes.blockRows; ++by) {
        BlockRowPointers(image, by, paddedWidth, rowScratch, rows);
        for (int32_t bx = 0; bx < planes.blockCols; ++bx) {
            __m128 vy[8][2], vcb[8][2], vcr[8][2];
            for (int r = 0; r < 8; ++r) {
                const uint8_t* p = rows[r] + static_cast<size_t>(bx) * 32;
                for (int h = 0; h < 2; ++h) {
                    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * h));
                    const __m128 B = _mm_cvtepi32_ps(_mm_and_si128(px, byteMask));
                    const __m128 G = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 8), byteMask));
                    const __m128 R = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 16), byteMask));
                    vy[r][h] = _mm_add_ps(
                        _mm_add_ps(_mm_add_ps(_mm_mul_ps(yR, R), _mm_mul_ps(yG, G)), _mm_mul_ps(yB, B)),
                        yOff);
                    vcb[r][h] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(cbR, R), _mm_mul_ps(cbG, G)),
                                           _mm_mul_ps(cbB, B));
                    vcr[r][h] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(crR, R), _mm_mul_ps(crG, G)),
                                           _mm_mul_ps(crB, B));
                }
            }
            Dct2D(vy);
            Dct2D(vcb);
            Dct2D(vcr);
            QuantizeStore(vy, div.d[0], order, outY);
            QuantizeStore(vcb, div.d[1], order, outCb);
            QuantizeStore(vcr, div.d[1], order, outCr);
            outY += 64;
            outCb += 64;
            outCr += 64;
        }
    }
#else
    (void)rowScratch;
    JpegPrepareImagePlain(image, tables, planes);
#endif
}

}  // namespace tessaly
