// The format of the temporary stills. The values are those of the desktop
// program's first command-line argument (1 BMP, 2 JPEG).
#pragma once

#include <cstdint>

namespace tessaly {

enum class StillFormat : int32_t {
    Bmp = 1,
    Jpeg = 2,
};

}  // namespace tessaly
