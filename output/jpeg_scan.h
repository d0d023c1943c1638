// Entropy coding of the interleaved Y, Cb, Cr scan: symbol statistics, the
// bit writer with byte stuffing, and block coding (ITU T.81 F.1.2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "output/jpeg_huffman.h"
#include "output/jpeg_prepare.h"

namespace tessaly {

// Number of bits of |v| (0 for 0): the JPEG "size" category.
inline int JpegBitSize(int32_t v) {
    const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

// Table 0 serves Y, table 1 Cb and Cr.
struct JpegScanTables {
    HuffmanTable dc[2];
    HuffmanTable ac[2];
};

struct JpegScanStatistics {
    JpegFrequencies dc[2]{};
    JpegFrequencies ac[2]{};
};

// Counts every symbol that JpegEncodeScan will write, block for block.
void JpegCountSymbols(const JpegCoefficientPlanes& planes, JpegScanStatistics& stats);

// Optimal tables for the counts, with their codes assigned.
void JpegBuildScanTables(const JpegScanStatistics& stats, JpegScanTables& tables);

// Bytes of entropy-coded data the counts need, before byte stuffing.
uint64_t JpegEstimateScanBytes(const JpegScanStatistics& stats, const JpegScanTables& tables);

// Writes bits most significant first into a growing byte buffer; a 0x00
// follows every 0xFF byte. Put never passes the end of the buffer as long as
// room was reserved for it; Reserve grows the buffer when needed.
class JpegBitWriter {
public:
    JpegBitWriter(std::vector<uint8_t>& buffer, size_t position);

    void Reserve(size_t bytes) {
        if (static_cast<size_t>(end_ - out_) < bytes) Grow(bytes);
    }

    // Appends the low `count` bits of `bits` (count <= 32).
    void Put(uint32_t bits, int count) {
        acc_ = (acc_ << count) | bits;
        pending_ += count;
        if (pending_ >= 32) Flush32();
    }

    // The bits of `value` from `mask` (one bit) down to bit 0; mask 0 writes
    // nothing. Reserves its own room.
    void PutBits(uint32_t mask, uint32_t value);

    // Pads the last byte with 1-bits, stores it, and returns the position
    // after the last byte written.
    size_t Finish();

private:
    void Flush32();
    void EmitByte(uint8_t byte) {
        *out_++ = byte;
        if (byte == 0xFF) *out_++ = 0x00;
    }
    void Grow(size_t bytes);

    std::vector<uint8_t>& buffer_;
    uint8_t* out_ = nullptr;
    uint8_t* end_ = nullptr;
    uint64_t acc_ = 0;
    int pending_ = 0;  // bits held in acc_, always below 32 between calls
};

// Codes one block of 64 zigzag coefficients: DC difference, then the AC runs
// (0xF0 per 16 zeros before a non-zero value, end of block unless the last
// coefficient is non-zero). Room for one block must have been reserved.
void JpegEncodeBlock(const JpegCoefficient* block, int32_t& predictor, const HuffmanTable& dc,
                     const HuffmanTable& ac, JpegBitWriter& writer);

// Upper bound of the bytes one block can take, stuffing included.
inline constexpr size_t kJpegMaxBlockBytes = 448;

// Codes all MCUs (Y, Cb, Cr block each) into buffer from position and pads
// the last byte; the buffer grows when short. Returns the end position.
size_t JpegEncodeScan(const JpegCoefficientPlanes& planes, const JpegScanTables& tables,
                      std::vector<uint8_t>& buffer, size_t position);

}  // namespace tessaly
