// Encodes a PPM picture N times at quality 98 with one encoder, writing the
// file each time, and reports the time per frame (no process start-up).
//   jpeg_encode_loop INPUT.ppm OUTPUT.jpg N
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "output/jpeg_encoder.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: jpeg_encode_loop INPUT.ppm OUTPUT.jpg N\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    if (!in || magic != "P6" || maxval != 255 || width < 1 || height < 1) {
        std::fprintf(stderr, "jpeg_encode_loop: %s is not an 8-bit binary PPM\n", argv[1]);
        return 1;
    }
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    // Bottom-up BGRX, as frames reach the still writer.
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* s = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            uint8_t* d = &frame[(static_cast<size_t>(height - 1 - y) * width + x) * 4];
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = 0;
        }
    }
    const int runs = std::atoi(argv[3]);
    tessaly::JpegEncoder encoder;
    std::string error;
    if (!encoder.EncodeToFile(argv[2], {frame.data(), width, height, 32}, 98, &error)) {  // warm-up
        std::fprintf(stderr, "jpeg_encode_loop: %s\n", error.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) encoder.EncodeToFile(argv[2], {frame.data(), width, height, 32}, 98);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %zu\n", seconds / runs, encoder.File().size());
    return 0;
}
