#include "output/jpeg_encoder.h"

#include <cmath>
#include <cstring>
#include <new>

#include "output/file_write.h"

namespace tessaly {

const char kJpegCreditText[] =
    "Tessaly Mono Fisheye Converter\r\n"
    "Equirectangular panorama frame, written by Tessaly's own JPEG encoder";

namespace {

// Appends header bytes to the output buffer, growing it when needed.
class SegmentWriter {
public:
    SegmentWriter(std::vector<uint8_t>& buffer, size_t position) : buffer_(buffer), pos_(position) {}

    void Byte(uint32_t b) {
        if (pos_ >= buffer_.size()) buffer_.resize(buffer_.size() * 2 + 256);
        buffer_[pos_++] = static_cast<uint8_t>(b);
    }
    void Word(uint32_t w) {
        Byte(w >> 8);
        Byte(w & 0xFF);
    }
    void Bytes(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) Byte(p[i]);
    }
    // Writes the marker and room for the length; returns the segment start.
    size_t Begin(uint32_t marker) {
        const size_t start = pos_;
        Word(0xFF00 | marker);
        Word(0);
        return start;
    }
    // The length counts itself but not the marker.
    void End(size_t start) {
        const size_t length = pos_ - start - 2;
        buffer_[start + 2] = static_cast<uint8_t>(length >> 8);
        buffer_[start + 3] = static_cast<uint8_t>(length & 0xFF);
    }
    size_t Position() const { return pos_; }
    void SetPosition(size_t p) { pos_ = p; }

private:
    std::vector<uint8_t>& buffer_;
    size_t pos_;
};

void WriteApp0(SegmentWriter& w) {
    const size_t s = w.Begin(0xE0);
    const uint8_t body[] = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    w.Bytes(body, sizeof body);
    w.End(s);
}

void WriteComment(SegmentWriter& w) {
    const size_t n = std::strlen(kJpegCreditText);
    if (n == 0) return;
    const size_t s = w.Begin(0xFE);
    w.Bytes(reinterpret_cast<const uint8_t*>(kJpegCreditText), n);
    w.End(s);
}

void WriteQuantTable(SegmentWriter& w, int id, const std::array<int32_t, 64>& table) {
    const size_t s = w.Begin(0xDB);
    w.Byte(static_cast<uint32_t>(id));
    for (int32_t v : table) w.Byte(static_cast<uint32_t>(v));
    w.End(s);
}

void WriteFrameHeader(SegmentWriter& w, int32_t width, int32_t height) {
    const size_t s = w.Begin(0xC0);
    w.Byte(8);
    w.Word(static_cast<uint32_t>(height));
    w.Word(static_cast<uint32_t>(width));
    w.Byte(3);
    const uint8_t comps[] = {1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
    w.Bytes(comps, sizeof comps);
    w.End(s);
}

void WriteHuffmanTable(SegmentWriter& w, int classAndId, const HuffmanTable& t) {
    const size_t s = w.Begin(0xC4);
    w.Byte(static_cast<uint32_t>(classAndId));
    w.Bytes(t.bits.data() + 1, 16);
    w.Bytes(t.vals.data(), t.vals.size());
    w.End(s);
}

void WriteScanHeader(SegmentWriter& w) {
    const size_t s = w.Begin(0xDA);
    const uint8_t body[] = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    w.Bytes(body, sizeof body);
    w.End(s);
}

}  // namespace

bool JpegValidateImage(const JpegSourceImage& image, std::string* error) {
    const char* reason = nullptr;
    if (image.pixels == nullptr) {
        reason = "no pixels";
    } else if (image.width < 1 || image.height < 1 || image.width > kJpegMaxDimension ||
               image.height > kJpegMaxDimension) {
        reason = "image size outside 1..65535";
    } else if (image.bitsPerPixel != 24 && image.bitsPerPixel != 32) {
        reason = "unsupported bits per pixel (24 or 32 expected)";
    }
    if (reason != nullptr && error != nullptr) *error = reason;
    return reason == nullptr;
}

void JpegEncoder::EncodePlanes(const JpegCoefficientPlanes& planes, const JpegQuantTables& quant,
                               int32_t width, int32_t height) {
    JpegCountSymbols(planes, stats_);
    JpegBuildScanTables(stats_, huffman_);
    const double estimate = static_cast<double>(JpegEstimateScanBytes(stats_, huffman_));
    initialBufferSize_ = static_cast<size_t>(std::nearbyint(1.3 * estimate + 1000.0));
    if (buffer_.size() < initialBufferSize_) buffer_.resize(initialBufferSize_);

    SegmentWriter w(buffer_, 0);
    w.Word(0xFFD8);
    WriteApp0(w);
    WriteComment(w);
    WriteQuantTable(w, 0, quant.quant[0]);
    WriteQuantTable(w, 1, quant.quant[1]);
    WriteFrameHeader(w, width, height);
    WriteHuffmanTable(w, 0x00, huffman_.dc[0]);
    WriteHuffmanTable(w, 0x10, huffman_.ac[0]);
    WriteHuffmanTable(w, 0x01, huffman_.dc[1]);
    WriteHuffmanTable(w, 0x11, huffman_.ac[1]);
    WriteScanHeader(w);
    w.SetPosition(JpegEncodeScan(planes, huffman_, buffer_, w.Position()));
    w.Word(0xFFD9);
    size_ = w.Position();
}

bool JpegEncoder::Encode(const JpegSourceImage& source, int quality, std::string* error) {
    size_ = 0;
    JpegSourceImage image = source;
    if (image.bitsPerPixel == 0) image.bitsPerPixel = 32;
    if (!JpegValidateImage(image, error)) return false;
    try {
        quant_ = JpegSetQuality(quality);
        JpegPrepareImage(image, quant_, planes_, rowScratch_);
        EncodePlanes(planes_, quant_, image.width, image.height);
    } catch (const std::bad_alloc&) {
        if (error) *error = "not enough memory for the image";
        size_ = 0;
        return false;
    }
    return true;
}

bool JpegEncoder::EncodeToFile(const std::string& path, const JpegSourceImage& image, int quality,
                               std::string* error) {
    if (!Encode(image, quality, error)) return false;
    const Status written = WriteFileParts(path, {{buffer_.data(), size_}});
    if (!written.ok() && error) *error = written.reason();
    return written.ok();
}

}  // namespace tessaly

extern "C" int32_t JPEGMAIN(const char* fileName, const uint8_t* pixels, int32_t width, int32_t height,
                            int32_t bitsPerPixel, int32_t quality) {
    if (fileName == nullptr) return 0;
    tessaly::JpegEncoder encoder;
    encoder.EncodeToFile(fileName, {pixels, width, height, bitsPerPixel}, quality);
    return 0;
}
