// The position bar under the input preview: how the movie's position the
// engine reports becomes the bar's width in pixels.
#pragma once

#include <cstdint>

#include "app/format.h"
#include "app/user_interface.h"

namespace tessaly {

// Width of the position bar at the end of the movie.
inline constexpr int32_t kPositionBarMax = 598;

// kPositionBarMax * done / total, rounded half to even, kept within
// 0..kPositionBarMax; the rest mark 1 when no place is known.
inline int32_t PositionBarWidth(MoviePosition position) {
    if (position.total <= 0) return 1;
    const double w = RoundHalfEven(static_cast<double>(kPositionBarMax) * static_cast<double>(position.done) /
                                   static_cast<double>(position.total));
    if (!(w >= 0.0)) return 0;
    return w > kPositionBarMax ? kPositionBarMax : static_cast<int32_t>(w);
}

}  // namespace tessaly
