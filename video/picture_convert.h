// Every colour conversion of a decoded picture (libswscale) in the program
// goes through PictureConverter. swscale's vector code stores whole blocks:
// past a row's last pixel, into the next row, and past the picture's end
// (8 bytes after a 5-pixel grey row, 60 after a 7x16 BGRX picture). The
// converter writes only into buffers laid out for that: rows aligned and
// padded, spare bytes after the last, or rows whose length is a whole
// number of blocks, and hands out views of the visible pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct AVFrame;
struct AVStream;
struct SwsContext;

namespace tessaly {

// The quarter turns clockwise that show the stream's pictures upright, as
// players and ffmpeg show them (phones store them turned and say so in a
// display matrix); 0 without one.
int UprightQuarterTurns(const AVStream& st);

// Bytes aligned for vector code with spare bytes after the last, which a
// conversion may overwrite; contents of the visible bytes only matter.
class PaddedBytes {
public:
    static constexpr size_t kAlign = 64;
    static constexpr size_t kSpare = 256;

    // Holds `size` visible bytes afterwards, all zero; false (and empty)
    // when the memory cannot be had.
    bool Assign(size_t size);
    void Clear();
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> bytes_;
    size_t size_ = 0;
};

// The visible pixels of a converted picture, top row first.
struct PictureView {
    const uint8_t* data = nullptr;
    ptrdiff_t stride = 0;  // bytes from one row to the next
    int width = 0;
    int height = 0;
};

// What a picture is converted to. `format` is an AVPixelFormat, `flags`
// swscale's SWS_* scaling flags; `threads` as swscale's option (0: one per
// core).
struct PictureTarget {
    int width = 0;
    int height = 0;
    int format = -1;
    int flags = 0;
    int threads = 1;
};

class PictureConverter {
public:
    PictureConverter();
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // Whether pictures of this AVPixelFormat can be converted at all.
    static bool CanConvertFrom(int format);

    // Converts `src` into the converter's own padded picture; `out` views
    // its visible pixels (valid until the next call). False when swscale
    // cannot convert it or memory is short.
    bool Convert(const AVFrame& src, const PictureTarget& target, PictureView& out);

    // Converts `src` to w x h BGRX (scaled when its size differs) into
    // `dst` (exactly w * h * 4 visible bytes): packed rows, bottom row
    // first, turned `quarterTurns` quarter turns clockwise. Straight into
    // `dst` when nothing is turned and a row is a whole number of vector
    // blocks; otherwise through the converter's own picture.
    bool ConvertBottomUpBgrx(const AVFrame& src, int w, int h, int quarterTurns, int threads, PaddedBytes& dst);

    // Drops the scaler and the converter's own picture.
    void Reset();

private:
    bool Prepare(const AVFrame& src, const PictureTarget& target);
    bool ScaleInto(const AVFrame& src, uint8_t* top, ptrdiff_t stride);

    SwsContext* scaler_ = nullptr;
    int key_[8] = {};  // source and target the scaler was made for
    PaddedBytes own_;
    ptrdiff_t ownStride_ = 0;
};

}  // namespace tessaly
