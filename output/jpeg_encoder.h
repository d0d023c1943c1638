// The baseline JPEG encoder: 4:4:4, optimal Huffman tables for each image,
// JFIF header, the whole file assembled in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "output/jpeg_prepare.h"
#include "output/jpeg_scan.h"
#include "output/jpeg_tables.h"

namespace tessaly {

// The two-line credit text of the COM segment (lines joined by CR LF).
extern const char kJpegCreditText[];

// Largest width or height a baseline JPEG can declare.
inline constexpr int32_t kJpegMaxDimension = 65535;

// One encoder per thread: it owns its coefficient planes and output buffer
// and reuses them from frame to frame. Different encoders share nothing.
class JpegEncoder {
public:
    // Encodes `image` (bitsPerPixel 0 means 32) into the in-memory file.
    // Returns false with a reason for a frame it cannot encode: no pixels, a
    // size outside 1..65535, a bit depth other than 24 or 32, or no memory.
    bool Encode(const JpegSourceImage& image, int quality, std::string* error = nullptr);

    // Encode, then create or truncate `path` and write the file in one write.
    bool EncodeToFile(const std::string& path, const JpegSourceImage& image, int quality,
                      std::string* error = nullptr);

    // Entropy-codes prepared planes (blockCols x blockRows blocks covering
    // width x height) with the given quantiser tables into the in-memory file.
    void EncodePlanes(const JpegCoefficientPlanes& planes, const JpegQuantTables& quant, int32_t width,
                      int32_t height);

    std::span<const uint8_t> File() const { return {buffer_.data(), size_}; }
    const JpegCoefficientPlanes& Planes() const { return planes_; }
    const JpegQuantTables& QuantTables() const { return quant_; }
    const JpegScanTables& HuffmanTables() const { return huffman_; }
    // round(1.3 * estimate + 1000) for the last image: where the buffer starts.
    size_t InitialBufferSize() const { return initialBufferSize_; }

private:
    JpegQuantTables quant_;
    JpegCoefficientPlanes planes_;
    JpegScanStatistics stats_;
    JpegScanTables huffman_;
    std::vector<uint8_t> rowScratch_;
    std::vector<uint8_t> buffer_;
    size_t size_ = 0;
    size_t initialBufferSize_ = 0;
};

// Checks what Encode accepts; false with a reason otherwise.
bool JpegValidateImage(const JpegSourceImage& image, std::string* error);

}  // namespace tessaly

// The program's exported entry point: encodes a bottom-up bitmap (rows padded
// to 4 bytes; bitsPerPixel 24, 32, or 0 for 32) at `quality` (50..100, else
// 75) into `fileName`. Always returns 0; a frame that cannot be encoded or a
// file that cannot be written leaves no file behind.
extern "C" __attribute__((visibility("default"))) int32_t JPEGMAIN(const char* fileName,
                                                                   const uint8_t* pixels,
                                                                   int32_t width, int32_t height,
                                                                   int32_t bitsPerPixel,
                                                                   int32_t quality);
