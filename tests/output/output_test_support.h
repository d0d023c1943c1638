// Helpers of the frame-output tests: frames, temporary folders, decoding with
// djpeg and FFmpeg, and a small reader for JPEG segments and scan symbols.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessaly::outtest {

class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("tessaly-output-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string str() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A bottom-up bitmap with rows padded to 4 bytes, as the encoder takes it.
struct Frame {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 32;
    std::vector<uint8_t> bytes;

    size_t Stride() const { return (static_cast<size_t>(width) * (bitsPerPixel / 8) + 3) & ~size_t{3}; }
    // Pixel (x, y) with y = 0 the top row of the picture.
    uint8_t* At(int x, int y) {
        return bytes.data() + static_cast<size_t>(height - 1 - y) * Stride() + static_cast<size_t>(x) * (bitsPerPixel / 8);
    }
    const uint8_t* At(int x, int y) const { return const_cast<Frame*>(this)->At(x, y); }
};

inline Frame MakeFrame(int width, int height, int bitsPerPixel) {
    Frame f;
    f.width = width;
    f.height = height;
    f.bitsPerPixel = bitsPerPixel;
    f.bytes.assign(f.Stride() * static_cast<size_t>(height), 0);
    return f;
}

inline Frame RandomFrame(int width, int height, int bitsPerPixel, unsigned seed) {
    Frame f = MakeFrame(width, height, bitsPerPixel);
    std::mt19937 rng(seed);
    for (auto& b : f.bytes) b = static_cast<uint8_t>(rng());
    return f;
}

// A photograph-like picture: smooth colour gradients, a few edges, mild noise.
inline Frame NaturalFrame(int width, int height, int bitsPerPixel, unsigned seed) {
    Frame f = MakeFrame(width, height, bitsPerPixel);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / std::max(1, width - 1);
            const double v = static_cast<double>(y) / std::max(1, height - 1);
            const double ring = std::hypot(u - 0.5, v - 0.5) < 0.3 ? 60.0 : 0.0;
            const double r = 40 + 150 * u + ring + 20 * std::sin(9 * v) + noise(rng);
            const double g = 60 + 120 * v + 25 * std::cos(7 * u) + noise(rng);
            const double b = 200 - 140 * u * v - ring + noise(rng);
            uint8_t* p = f.At(x, y);
            p[0] = static_cast<uint8_t>(std::clamp(b, 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
            p[2] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
        }
    }
    return f;
}

// Decoded picture: top-down RGB triples.
struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Reads a binary PPM (P6, maxval 255).
inline Rgb ReadPpm(const std::string& path) {
    Rgb out;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> out.width >> out.height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255) throw std::runtime_error("not a PPM: " + path);
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    in.read(reinterpret_cast<char*>(out.rgb.data()), static_cast<std::streamsize>(out.rgb.size()));
    if (!in) throw std::runtime_error("short PPM: " + path);
    return out;
}

inline void WritePpm(const Frame& f, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << f.width << " " << f.height << "\n255\n";
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const uint8_t* p = f.At(x, y);
            const char rgb[3] = {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
            out.write(rgb, 3);
        }
    }
}

// The same frame through libjpeg-turbo's cjpeg with our settings (4:4:4,
// optimal tables, float DCT): the reference for what quality to expect.
inline bool EncodeWithCjpeg(const Frame& f, int quality, const std::string& jpeg) {
    const std::string ppm = jpeg + ".src.ppm";
    WritePpm(f, ppm);
    const int rc = Run("cjpeg -quality " + std::to_string(quality) + " -sample 1x1 -optimize -dct float -outfile " +
                       Quote(jpeg) + " " + Quote(ppm));
    std::filesystem::remove(ppm);
    return rc == 0;
}

// Decodes with libjpeg-turbo's djpeg; empty picture on failure (exit status
// non-zero, including warnings about corrupt data made fatal by -strict).
inline Rgb DecodeWithDjpeg(const std::string& jpeg) {
    const std::string ppm = jpeg + ".djpeg.ppm";
    if (Run("djpeg -strict -ppm -outfile " + Quote(ppm) + " " + Quote(jpeg) + " 2>/dev/null") != 0) return {};
    Rgb out = ReadPpm(ppm);
    std::filesystem::remove(ppm);
    return out;
}

// Decodes with FFmpeg's own JPEG decoder into RGB; errors are fatal.
inline Rgb DecodeWithFfmpeg(const std::string& jpeg) {
    const std::string ppm = jpeg + ".ffmpeg.ppm";
    if (Run("ffmpeg -v error -xerror -err_detect explode -y -i " + Quote(jpeg) +
            " -frames:v 1 -pix_fmt rgb24 -f image2 -c:v ppm " + Quote(ppm) + " 2>/dev/null") != 0) {
        return {};
    }
    Rgb out = ReadPpm(ppm);
    std::filesystem::remove(ppm);
    return out;
}

inline double Psnr(const Frame& source, const Rgb& decoded) {
    double squared = 0;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            const uint8_t* s = source.At(x, y);
            const uint8_t* d = &decoded.rgb[(static_cast<size_t>(y) * decoded.width + x) * 3];
            for (int c = 0; c < 3; ++c) {
                const double e = static_cast<double>(s[2 - c]) - d[c];
                squared += e * e;
            }
        }
    }
    const double mse = squared / (3.0 * source.width * source.height);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// A marker segment of a JPEG file.
struct Segment {
    uint8_t marker = 0;
    size_t offset = 0;  // of the 0xFF
    size_t length = 0;  // the length field (0 for SOI, EOI)
};

// Walks the segments up to SOS; scanStart/scanEnd frame the entropy-coded data.
struct JpegLayout {
    std::vector<Segment> segments;
    size_t scanStart = 0;
    size_t scanEnd = 0;  // offset of the EOI marker
};

inline JpegLayout ParseLayout(const std::vector<uint8_t>& f) {
    JpegLayout l;
    size_t p = 0;
    while (p + 1 < f.size()) {
        if (f[p] != 0xFF) throw std::runtime_error("marker expected");
        Segment s{f[p + 1], p, 0};
        if (s.marker == 0xD8 || s.marker == 0xD9) {
            l.segments.push_back(s);
            p += 2;
            if (s.marker == 0xD9) break;
            continue;
        }
        s.length = static_cast<size_t>(f[p + 2]) << 8 | f[p + 3];
        l.segments.push_back(s);
        p += 2 + s.length;
        if (s.marker == 0xDA) {
            l.scanStart = p;
            size_t q = p;
            while (q + 1 < f.size() && !(f[q] == 0xFF && f[q + 1] != 0x00)) ++q;
            l.scanEnd = q;
            p = q;
        }
    }
    return l;
}

// Huffman table as read from a DHT segment.
struct DecodeTable {
    std::vector<std::pair<uint32_t, int>> codes;  // (code, length)
    std::vector<uint8_t> symbols;
};

inline DecodeTable ReadDht(const std::vector<uint8_t>& f, size_t segmentOffset) {
    DecodeTable t;
    const uint8_t* bits = &f[segmentOffset + 5];
    size_t v = segmentOffset + 21;
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < bits[len - 1]; ++i) {
            t.codes.push_back({code++, len});
            t.symbols.push_back(f[v++]);
        }
        code <<= 1;
    }
    return t;
}

// Reads the bits of an entropy-coded segment, removing stuffed zero bytes.
class ScanBits {
public:
    ScanBits(const std::vector<uint8_t>& f, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            bytes_.push_back(f[i]);
            if (f[i] == 0xFF) {
                if (i + 1 >= end || f[i + 1] != 0x00) throw std::runtime_error("unstuffed 0xFF");
                ++i;
            }
        }
    }
    int Bit() {
        if (pos_ >= bytes_.size() * 8) throw std::runtime_error("past end of scan");
        const int b = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return b;
    }
    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 1 | static_cast<uint32_t>(Bit());
        return v;
    }
    int Symbol(const DecodeTable& t) {
        uint32_t code = 0;
        for (int len = 1; len <= 16; ++len) {
            code = code << 1 | static_cast<uint32_t>(Bit());
            for (size_t i = 0; i < t.codes.size(); ++i) {
                if (t.codes[i].second == len && t.codes[i].first == code) return t.symbols[i];
            }
        }
        throw std::runtime_error("no such code");
    }
    size_t BitsLeft() const { return bytes_.size() * 8 - pos_; }
    size_t UnstuffedBytes() const { return bytes_.size(); }
    // True when every bit from here to the end is a 1.
    bool RestAreOnes() {
        while (BitsLeft() > 0) {
            if (Bit() == 0) return false;
        }
        return true;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
};

// Value of `size` extra bits (T.81 F.2.2.1).
inline int32_t ExtendValue(uint32_t bits, int size) {
    if (size == 0) return 0;
    return bits < (1u << (size - 1)) ? static_cast<int32_t>(bits) - ((1 << size) - 1) : static_cast<int32_t>(bits);
}

// Decodes the whole interleaved scan of a 4:4:4 file back into zigzag
// coefficient planes; paddingIsOnes tells whether fewer than 8 bits, all 1, remain.
inline std::array<std::vector<int32_t>, 3> DecodeScan(const std::vector<uint8_t>& file, size_t blocks,
                                                      bool* paddingIsOnes) {
    const JpegLayout l = ParseLayout(file);
    std::vector<DecodeTable> tables;
    for (const auto& s : l.segments) {
        if (s.marker == 0xC4) tables.push_back(ReadDht(file, s.offset));
    }
    if (tables.size() != 4) throw std::runtime_error("four DHT segments expected");
    ScanBits bits(file, l.scanStart, l.scanEnd);
    std::array<std::vector<int32_t>, 3> planes;
    int32_t predictor[3] = {0, 0, 0};
    for (auto& p : planes) p.assign(blocks * 64, 0);
    for (size_t b = 0; b < blocks; ++b) {
        for (int comp = 0; comp < 3; ++comp) {
            const DecodeTable& dc = tables[comp == 0 ? 0 : 2];
            const DecodeTable& ac = tables[comp == 0 ? 1 : 3];
            int32_t* block = &planes[comp][b * 64];
            const int dcSize = bits.Symbol(dc);
            predictor[comp] += ExtendValue(bits.Bits(dcSize), dcSize);
            block[0] = predictor[comp];
            for (int k = 1; k < 64;) {
                const int s = bits.Symbol(ac);
                if (s == 0x00) break;
                k += s >> 4;
                if (k > 63) throw std::runtime_error("run past the block");
                block[k] = ExtendValue(bits.Bits(s & 15), s & 15);
                ++k;
            }
        }
    }
    const size_t left = bits.BitsLeft();
    if (paddingIsOnes != nullptr) *paddingIsOnes = left < 8 && bits.RestAreOnes();
    return planes;
}

}  // namespace tessaly::outtest
