// The interpolating resampler: cubic Lagrange interpolation through 4 x 4
// source pixels, in two modes: 2 = horizontal aspect stretch about the frame
// centre, 3 = fisheye projection through the RemapTable.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "transform/remap_table.h"
#include "transform/resample_kernels.h"
#include "transform/transform_status.h"

namespace tessaly {

class RowPool;

enum class ResampleMode : int32_t { kIdle = 0, kAspectStretch = 2, kProjection = 3 };

struct ResampleJob {
    int dstW = 0;
    int dstH = 0;
    std::ptrdiff_t dstStride = 0;  // bytes
    uint8_t* dst = nullptr;        // first stored row
    int srcW = 0;
    int srcH = 0;
    std::ptrdiff_t srcStride = 0;
    const uint8_t* src = nullptr;
    // The source buffer may hold only columns srcFirstColumn ..
    // srcFirstColumn + srcColumns - 1 (0 columns: all srcW); a projection
    // then reads nothing outside them (see ReadColumns).
    int srcFirstColumn = 0;
    int srcColumns = 0;
    float parameter = 1.0f;  // aspect factor in mode 2
    // Added to the source's centre, which a projection's pairs are offsets
    // from: source pixels to the right and upward (rows are bottom-up).
    float centreX = 0.0f;
    float centreY = 0.0f;
    ResampleMode mode = ResampleMode::kIdle;
};

// byte-to-float: entry i = i. saturation: entry 0 = 0; entry i = 255 when
// i / 16 > 255, else round(i / 16 + 0.5); entry 16 * v - 1 gives v.
struct ResamplerTables {
    float byteToFloat[256];
    int32_t saturation[4096];
};
void BuildResamplerTables(ResamplerTables& tables);

// The four weights of the taps -1, 0, +1, +2 for a fraction t, with the
// constants 0.16667 and 0.33333 as written, in single precision.
struct CubicWeights {
    float w[4];
};
inline CubicWeights CubicLagrangeWeights(float t) {
    CubicWeights c;
    c.w[0] = ((-0.16667f * t + 0.5f) * t - 0.33333f) * t;
    c.w[1] = ((0.5f * t - 1.0f) * t - 0.5f) * t + 1.0f;
    c.w[2] = ((1.0f - t) * t * 0.5f + 1.0f) * t;
    c.w[3] = (t * t - 1.0f) * t * 0.16667f;
    return c;
}

// Which inner loop runs. All give identical bytes; kAuto takes the widest the
// processor has.
enum class ResampleKernel { kAuto, kScalar, kSse2, kAvx2, kAvx512 };
bool KernelSupported(ResampleKernel kernel);
const char* KernelName(ResampleKernel kernel);

class Resampler {
public:
    Resampler();

    // Chooses the inner loop once; an unsupported kernel falls back to scalar.
    void SetKernel(ResampleKernel kernel);
    ResampleKernel Kernel() const { return kernel_; }  // resolved, never kAuto
    // Rows are split across the pool's threads; null runs on the caller alone.
    void SetPool(RowPool* pool) { pool_ = pool; }
    RowPool* Pool() const { return pool_; }

    // Runs one job: mode 2 computes its source points, mode 3 reads them from
    // `table`, which must hold the pairs of a job.dstW x job.dstH output.
    // Returns kResamplerBusy, doing nothing, while another call runs, and
    // kNoGeometry for a projection without a fitting table.
    TransformStatus Resample(const ResampleJob& job, const RemapTable* table = nullptr);

    const ResamplerTables& Tables() const { return tables_; }
    bool Busy() const { return busy_.load() != 0; }

private:
    std::atomic<int32_t> busy_{0};
    ResamplerTables tables_{};
    RowPool* pool_ = nullptr;
    ResampleKernel kernel_ = ResampleKernel::kScalar;
    kernels::VectorSpanFn vectorSpan_ = nullptr;  // null: the scalar loop alone
};

}  // namespace tessaly
