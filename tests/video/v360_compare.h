// Pictures compared with ffmpeg's v360 filter, the ideal a conversion is
// measured against: a movie's frame as ffmpeg decodes (and filters) it, and
// the PSNR of two such pictures.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tessaly::testing {

// Bottom-up BGRA bytes of the first frame of `path` after `filters` (each
// ending in ","), written through the file `scratch`.
inline std::vector<uint8_t> FirstFrame(const std::string& path, const std::string& filters, const std::string& scratch) {
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + path + " -frames:v 1 -vf \"" +
                            filters + "vflip\" -pix_fmt bgra -f rawvideo " + scratch;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(scratch, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// PSNR of two BGRA pictures of one size over the pixels the second one's
// alpha marks as covered.
inline double PsnrWhereCovered(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& v360) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i + 3 < v360.size() && i + 3 < ours.size(); i += 4) {
        if (v360[i + 3] != 255) continue;
        for (int c = 0; c < 3; ++c) sum += std::pow(double(ours[i + c]) - v360[i + c], 2);
        ++count;
    }
    return 10.0 * std::log10(255.0 * 255.0 * 3.0 * double(count) / std::max(sum, 1e-9));
}

// v360's panorama (n x n, alpha marking what it covers) of the circle that
// fills the d x d square at x, y of a frame: the filters for FirstFrame.
inline std::string V360Panorama(int d, int x, int y, int n) {
    const std::string side = std::to_string(d), out = std::to_string(n);
    return "crop=" + side + ":" + side + ":" + std::to_string(x) + ":" + std::to_string(y) +
           ",format=gbrap,v360=input=fisheye:output=equirect:ih_fov=180:iv_fov=180:h_fov=180:v_fov=180:w=" + out +
           ":h=" + out + ":interp=cubic:alpha_mask=1,";
}

}  // namespace tessaly::testing
