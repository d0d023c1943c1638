// Copies a converted picture into the frame buffer the rest of the program
// reads: 32-bit pixels, bottom row first, rows packed without padding, and
// turned upright for movies whose picture is stored rotated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly {

// The quarter turns clockwise (0-3) that show a picture upright whose
// display matrix turns it by `counterclockwiseDegrees` (the value of
// av_display_rotation_get). Angles off a quarter turn by more
// than a few degrees count as no turn.
int QuarterTurnsClockwise(double counterclockwiseDegrees);

// The upright picture's width and height for a stored w x h picture.
inline int UprightWidth(int w, int h, int quarterTurns) { return quarterTurns % 2 == 0 ? w : h; }
inline int UprightHeight(int w, int h, int quarterTurns) { return quarterTurns % 2 == 0 ? h : w; }

// Copies the w x h picture at `src` (top row first, `srcStride` bytes from
// row to row, 4 bytes a pixel) into `dst`, turned `quarterTurns` quarter
// turns clockwise, bottom row first and packed: dst holds exactly
// UprightWidth * UprightHeight * 4 bytes.
void CopyUprightBottomUp(const uint8_t* src, ptrdiff_t srcStride, int w, int h, int quarterTurns,
                         uint8_t* dst);

// Copies the w x h plane of one byte a pixel at `src` (top row first,
// `srcStride` bytes from row to row) into `dst`, turned `quarterTurns`
// quarter turns clockwise, top row first and packed.
void CopyPlaneUpright(const uint8_t* src, ptrdiff_t srcStride, int w, int h, int quarterTurns, uint8_t* dst);

}  // namespace tessaly
