// The cut rectangle in the 600 x 600 coordinates of the input preview, and
// its start and reset value (the one place that value is written down).
#pragma once

#include <cstdint>

namespace tessaly {

struct CutRect {
    int32_t XL1 = -8;
    int32_t YL1 = -8;
    int32_t XL2 = 616;
    int32_t YL2 = 606;

    bool operator==(const CutRect&) const = default;
};

inline constexpr CutRect kDefaultCut{};

}  // namespace tessaly
