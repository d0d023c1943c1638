#include "video/sound_offset.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace tessaly {
namespace {

using Complex = std::complex<double>;

// In-place radix-2 transform of a power-of-two length; `inverse` without
// the 1/n scale (only the peak's place and relative height matter).
void Transform(std::vector<Complex>& a, bool inverse) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = 2.0 * std::numbers::pi / static_cast<double>(len) * (inverse ? 1.0 : -1.0);
        const Complex step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            Complex w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; ++k) {
                const Complex u = a[i + k];
                const Complex v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
}

// The samples less their mean, zero-padded to n; false when they are silent.
bool Centred(const std::vector<float>& samples, size_t n, std::vector<Complex>& out) {
    double mean = 0;
    for (const float s : samples) mean += s;
    mean /= static_cast<double>(std::max<size_t>(samples.size(), 1));
    out.assign(n, Complex{});
    double energy = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        out[i] = samples[i] - mean;
        energy += std::norm(out[i]);
    }
    return energy > 1e-9;
}

}  // namespace

SoundOffset FindSoundOffset(const std::vector<float>& left, const std::vector<float>& right, int64_t maxLag,
                            int64_t frameSamples) {
    size_t n = 1;
    while (n < left.size() + right.size()) n <<= 1;
    std::vector<Complex> a, b;
    if (!Centred(left, n, a) || !Centred(right, n, b)) return {};
    Transform(a, false);
    Transform(b, false);
    for (size_t i = 0; i < n; ++i) a[i] = std::conj(a[i]) * b[i];
    Transform(a, true);
    // a[lag mod n] = sum over k of left[k] * right[k + lag].
    const auto at = [&](int64_t lag) { return a[static_cast<size_t>((lag % static_cast<int64_t>(n) + n) % n)].real(); };
    const int64_t reach = std::min<int64_t>(maxLag, static_cast<int64_t>(n / 2) - 1);
    SoundOffset best;
    double peak = -1;
    for (int64_t lag = -reach; lag <= reach; ++lag) {
        if (at(lag) > peak) {
            peak = at(lag);
            best.lagSamples = lag;
        }
    }
    double next = 0;
    for (int64_t lag = -reach; lag <= reach; ++lag) {
        if (std::llabs(lag - best.lagSamples) > frameSamples) next = std::max(next, std::fabs(at(lag)));
    }
    // A track with no second peak at all stands out a thousandfold.
    best.confidence = peak <= 0 ? 0 : peak / std::max(next, peak / 1000);
    return best;
}

int32_t LagInFrames(int64_t lagSamples, int32_t sampleRate, double framesPerSecond) {
    return static_cast<int32_t>(std::llround(static_cast<double>(lagSamples) * framesPerSecond / sampleRate));
}

}  // namespace tessaly
