// Synthetic frames and checksums for the transform tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaly::testing {

// A bottom-up BGRX frame with smooth gradients, a few sharp edges and some
// hashed noise, so interpolation, crop offsets and filters all show.
inline std::vector<uint8_t> MakePattern(int w, int h, uint32_t seed = 1) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint32_t n = (static_cast<uint32_t>(x) * 73856093u) ^ (static_cast<uint32_t>(y) * 19349663u) ^
                         (seed * 83492791u);
            n ^= n >> 13;
            n *= 0x5bd1e995u;
            n ^= n >> 15;
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>((x * 255) / (w > 1 ? w - 1 : 1));
            p[1] = static_cast<uint8_t>(((x / 16 + y / 16) % 2) ? 220 : 30);
            p[2] = static_cast<uint8_t>((y * 255) / (h > 1 ? h - 1 : 1) ^ (n & 0x0F));
            p[3] = static_cast<uint8_t>(n >> 24);
        }
    }
    return px;
}

inline uint64_t Fnv1a64(const uint8_t* data, size_t n) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
    return h;
}

}  // namespace tessaly::testing
