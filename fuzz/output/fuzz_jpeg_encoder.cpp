// Encodes frames of random size, quality, bit depth and content, then
// decodes every file with libjpeg: it must decode without a warning to the
// declared size, and the fast and plain coefficient paths must agree.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "output/jpeg_encoder.h"

namespace {

struct ErrorTrap {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_jpeg_encoder: %s\n", what);
    __builtin_trap();
}

// Decodes the file; returns false when libjpeg reports an error or warning.
bool DecodeClean(const uint8_t* data, size_t size, int width, int height) {
    jpeg_decompress_struct cinfo;
    ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = OnError;
    trap.mgr.output_message = [](j_common_ptr) {};
    std::vector<uint8_t> row;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (static_cast<int>(cinfo.image_width) != width || static_cast<int>(cinfo.image_height) != height ||
        cinfo.num_components != 3 || cinfo.progressive_mode) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    row.resize(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    const bool clean = trap.mgr.num_warnings == 0;
    jpeg_destroy_decompress(&cinfo);
    return clean;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const int width = 1 + (data[0] | (data[1] & 1) << 8);   // 1..512
    const int height = 1 + (data[2] | (data[3] & 1) << 8);  // 1..512
    static const int kDepths[] = {32, 24, 0, 32, 24, 16, 8, 1};
    const int bitsPerPixel = kDepths[data[4] & 7];
    const int quality = static_cast<int8_t>(data[5]) + 60;  // -68..187, mostly out of 50..100 at the ends
    data += 6;
    size -= 6;

    const int bytesPerPixel = bitsPerPixel == 0 ? 4 : (bitsPerPixel + 7) / 8;
    const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~size_t{3};
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(height));
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = size ? data[i % size] : static_cast<uint8_t>(i * 37);

    tessaly::JpegEncoder encoder;
    std::string error;
    const bool ok = encoder.Encode({pixels.data(), width, height, bitsPerPixel}, quality, &error);
    const bool supported = bitsPerPixel == 0 || bitsPerPixel == 24 || bitsPerPixel == 32;
    if (ok != supported) Fail("accepted an unsupported depth or refused a supported one");
    if (!ok) return 0;

    // Baseline 8-bit limits: DC differences of at most 11 bits, AC values of
    // at most 10.
    const tessaly::JpegScanTables& tables = encoder.HuffmanTables();
    for (int t = 0; t < 2; ++t) {
        for (uint8_t s : tables.dc[t].vals) {
            if (s > 11) Fail("DC size above 11 bits");
        }
        for (uint8_t s : tables.ac[t].vals) {
            if ((s & 15) > 10) Fail("AC size above 10 bits");
        }
    }

    const auto file = encoder.File();
    if (!DecodeClean(file.data(), file.size(), width, height)) Fail("libjpeg did not decode the file cleanly");

    tessaly::JpegCoefficientPlanes plain;
    tessaly::JpegPrepareImagePlain({pixels.data(), width, height, bitsPerPixel == 0 ? 32 : bitsPerPixel},
                                   encoder.QuantTables(), plain);
    if (plain.plane != encoder.Planes().plane) Fail("fast and plain coefficients differ");
    return 0;
}
