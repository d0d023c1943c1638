// Helpers of the frame-output tests: frames, temporary folders, decoding with
// djpeg and FFmpeg, and a small reader for JPEG segments and scan symbols.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "output/jpeg_prepare.h"

namespace tessaly::outtest {

struct TempFolder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("tessaly-output-" + std::to_string(std::random_device{}()));
    TempFolder() { std::filesystem::create_directories(path); }
    ~TempFolder() { std::error_code ec; std::filesystem::remove_all(path, ec); }
    std::string str() const { return path.string(); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A bottom-up bitmap with rows padded to 4 bytes, as the encoder takes it.
struct Frame {
    int width = 0, height = 0, bitsPerPixel = 32;
    std::vector<uint8_t> bytes;
    size_t Stride() const { return (static_cast<size_t>(width) * (bitsPerPixel / 8) + 3) & ~size_t{3}; }
    // Pixel (x, y) with y = 0 the top row of the picture.
    const uint8_t* At(int x, int y) const {
        return &bytes[static_cast<size_t>(height - 1 - y) * Stride() + static_cast<size_t>(x * bitsPerPixel / 8)];
    }
    uint8_t* At(int x, int y) { return const_cast<uint8_t*>(static_cast<const Frame*>(this)->At(x, y)); }
};

// A black frame, or random bytes when seed is not 0.
inline Frame MakeFrame(int width, int height, int bitsPerPixel, unsigned seed = 0) {
    Frame f{width, height, bitsPerPixel, {}};
    f.bytes.assign(f.Stride() * static_cast<size_t>(height), 0);
    std::mt19937 rng(seed);
    for (auto& b : f.bytes) b = seed ? static_cast<uint8_t>(rng()) : 0;
    return f;
}

// A photograph-like picture: smooth colour gradients, a disc's edge, mild noise.
inline Frame NaturalFrame(int width, int height, int bitsPerPixel, unsigned seed) {
    Frame f = MakeFrame(width, height, bitsPerPixel);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / std::max(1, width - 1);
            const double v = static_cast<double>(y) / std::max(1, height - 1);
            const double ring = std::hypot(u - 0.5, v - 0.5) < 0.3 ? 60.0 : 0.0;
            const double bgr[3] = {200 - 140 * u * v - ring, 60 + 120 * v + 25 * std::cos(7 * u),
                                   40 + 150 * u + ring + 20 * std::sin(9 * v)};
            for (int c = 0; c < 3; ++c) {
                f.At(x, y)[c] = static_cast<uint8_t>(std::clamp(bgr[c] + noise(rng), 0.0, 255.0));
            }
        }
    }
    return f;
}

// Decoded picture: top-down RGB triples; width 0 when the decoder failed.
struct Rgb { int width = 0, height = 0; std::vector<uint8_t> rgb; };

// Runs `command` (which writes `ppm`) and reads the binary PPM it made.
inline Rgb DecodeTo(const std::string& command, const std::string& ppm) {
    Rgb out;
    if (Run(command + " 2>/dev/null") != 0) return out;
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> out.width >> out.height >> maxval;
    in.get();
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    in.read(reinterpret_cast<char*>(out.rgb.data()), static_cast<std::streamsize>(out.rgb.size()));
    if (magic != "P6" || maxval != 255 || !in) throw std::runtime_error("bad PPM: " + ppm);
    std::filesystem::remove(ppm);
    return out;
}

// libjpeg-turbo's djpeg; -strict makes warnings about corrupt data fatal.
inline Rgb DecodeWithDjpeg(const std::string& jpeg) {
    return DecodeTo("djpeg -strict -ppm -outfile '" + jpeg + ".ppm' '" + jpeg + "'", jpeg + ".ppm");
}

// FFmpeg's own decoder into RGB; errors are fatal.
inline Rgb DecodeWithFfmpeg(const std::string& file) {
    return DecodeTo("ffmpeg -v error -xerror -err_detect explode -y -i '" + file +
                        "' -frames:v 1 -pix_fmt rgb24 -f image2 -c:v ppm '" + file + ".ppm'",
                    file + ".ppm");
}

inline double Psnr(const Frame& source, const Rgb& decoded) {
    double squared = 0;
    for (size_t i = 0; i < decoded.rgb.size(); ++i) {
        const int pixel = static_cast<int>(i / 3);
        squared += std::pow(source.At(pixel % source.width, pixel / source.width)[2 - i % 3] - decoded.rgb[i], 2);
    }
    const double mse = squared / (3.0 * source.width * source.height);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// A marker segment: the offset of its 0xFF and its length field (0 for SOI, EOI).
struct Segment { uint8_t marker = 0; size_t offset = 0, length = 0; };

// The segments up to EOI; scanStart/scanEnd frame the entropy-coded data.
struct JpegLayout {
    std::vector<Segment> segments;
    size_t scanStart = 0, scanEnd = 0;  // scanEnd: offset of the EOI marker
};

inline JpegLayout ParseLayout(const std::vector<uint8_t>& f) {
    JpegLayout l;
    for (size_t p = 0; p + 1 < f.size();) {
        if (f[p] != 0xFF) throw std::runtime_error("marker expected");
        Segment s{f[p + 1], p, 0};
        if (s.marker != 0xD8 && s.marker != 0xD9) s.length = static_cast<size_t>(f[p + 2]) << 8 | f[p + 3];
        l.segments.push_back(s);
        if (s.marker == 0xD9) break;
        p += 2 + s.length;
        if (s.marker == 0xDA) {
            l.scanStart = p;
            while (p + 1 < f.size() && !(f[p] == 0xFF && f[p + 1] != 0x00)) ++p;
            l.scanEnd = p;
        }
    }
    return l;
}

// The entropy-coded bytes without their stuffed zero bytes; throws on an
// 0xFF that no 0x00 follows.
inline std::vector<uint8_t> Unstuff(const std::vector<uint8_t>& f, size_t begin, size_t end) {
    std::vector<uint8_t> out;
    for (size_t i = begin; i < end; ++i) {
        out.push_back(f[i]);
        if (f[i] == 0xFF && (++i >= end || f[i] != 0x00)) throw std::runtime_error("unstuffed 0xFF");
    }
    return out;
}

// Decodes the whole interleaved scan of a 4:4:4 file, with the tables of its
// DHT segments, back into zigzag coefficient planes. paddingIsOnes: fewer
// than 8 bits, all 1, remain; firstYSymbols: the symbols of the first Y block.
inline std::array<std::vector<JpegCoefficient>, 3> DecodeScan(const std::vector<uint8_t>& file, size_t blocks,
                                                      bool* paddingIsOnes = nullptr,
                                                      std::vector<int>* firstYSymbols = nullptr) {
    const JpegLayout l = ParseLayout(file);
    std::vector<std::map<std::pair<int, uint32_t>, int>> tables;  // (length, code) -> symbol
    for (const auto& s : l.segments) {
        if (s.marker != 0xC4) continue;
        auto& t = tables.emplace_back();
        size_t v = s.offset + 21;
        uint32_t code = 0;
        for (int len = 1; len <= 16; ++len, code <<= 1) {
            for (int i = 0; i < file[s.offset + 4 + len]; ++i) t[{len, code++}] = file[v++];
        }
    }
    if (tables.size() != 4) throw std::runtime_error("four DHT segments expected");
    const std::vector<uint8_t> bytes = Unstuff(file, l.scanStart, l.scanEnd);
    size_t pos = 0;
    const auto bits = [&](size_t n) {
        uint32_t v = 0;
        for (size_t i = 0; i < n; ++i, ++pos) {
            if (pos >= bytes.size() * 8) throw std::runtime_error("past end of scan");
            v = v << 1 | ((bytes[pos / 8] >> (7 - pos % 8)) & 1u);
        }
        return v;
    };
    const auto value = [&](int size) {  // `size` extra bits as a signed value
        const int32_t v = static_cast<int32_t>(bits(static_cast<size_t>(size)));
        return size > 0 && v < (1 << (size - 1)) ? v - ((1 << size) - 1) : v;
    };
    const auto symbol = [&](const std::map<std::pair<int, uint32_t>, int>& t) {
        uint32_t code = 0;
        for (int len = 1; len <= 16; ++len) {
            code = code << 1 | bits(1);
            if (auto it = t.find({len, code}); it != t.end()) return it->second;
        }
        throw std::runtime_error("no such code");
    };
    std::array<std::vector<JpegCoefficient>, 3> planes{std::vector<JpegCoefficient>(blocks * 64), std::vector<JpegCoefficient>(blocks * 64),
                                               std::vector<JpegCoefficient>(blocks * 64)};
    int32_t predictor[3] = {0, 0, 0};
    for (size_t b = 0; b < blocks; ++b) {
        for (int comp = 0; comp < 3; ++comp) {
            std::vector<int>* record = b == 0 && comp == 0 ? firstYSymbols : nullptr;
            JpegCoefficient* block = &planes[comp][b * 64];
            const int dcSize = symbol(tables[comp == 0 ? 0 : 2]);
            if (record) record->push_back(dcSize);
            block[0] = predictor[comp] += value(dcSize);
            for (int k = 1; k < 64; ++k) {
                const int s = symbol(tables[comp == 0 ? 1 : 3]);
                if (record) record->push_back(s);
                if (s == 0x00) break;
                if ((k += s >> 4) > 63) throw std::runtime_error("run past the block");
                block[k] = value(s & 15);
            }
        }
    }
    if (paddingIsOnes != nullptr) {
        const size_t left = bytes.size() * 8 - pos;
        *paddingIsOnes = left < 8 && bits(left) == (1u << left) - 1;
    }
    return planes;
}

}  // namespace tessaly::outtest
