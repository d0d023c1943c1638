#include "output/jpeg_scan.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaly {

namespace {

// Bit k set when coefficient k of the block is non-zero.
inline uint64_t NonZeroMask(const JpegCoefficient* block) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int g = 0; g < 4; ++g) {
        const __m128i* p = reinterpret_cast<const __m128i*>(block + 16 * g);
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(p), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(p + 1), zero);
        const uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
        mask |= static_cast<uint64_t>(~zeros & 0xFFFFu) << (16 * g);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
        if (block[k] != 0) mask |= uint64_t{1} << k;
    }
    return mask;
#endif
}

// Low `size` bits of a value in the one's complement form of negative values.
inline uint32_t ExtraBits(int32_t v, int size) {
    const uint32_t bits = static_cast<uint32_t>(v < 0 ? v - 1 : v);
    return bits & ((1u << size) - 1u);
}

void CountBlock(const JpegCoefficient* block, int32_t& predictor, JpegFrequencies& dc, JpegFrequencies& ac) {
    const int32_t diff = block[0] - predictor;
    predictor = block[0];
    ++dc[JpegBitSize(diff)];
    uint64_t nonZero = NonZeroMask(block) & ~uint64_t{1};
    int last = 0;
    while (nonZero != 0) {
        const int k = __builtin_ctzll(nonZero);
        nonZero &= nonZero - 1;
        int run = k - last - 1;
        while (run >= 16) {
            ++ac[0xF0];
            run -= 16;
        }
        ++ac[(run << 4) | JpegBitSize(block[k])];
        last = k;
    }
    if (last != 63) ++ac[0x00];
}

inline bool HasByteFF(uint32_t w) {
    const uint32_t x = ~w;  // a 0xFF byte of w is a zero byte of x
    return ((x - 0x01010101u) & ~x & 0x80808080u) != 0;
}

}  // namespace

void JpegCountSymbols(const JpegCoefficientPlanes& planes, JpegScanStatistics& stats) {
    stats = JpegScanStatistics{};
    int32_t predictor[3] = {0, 0, 0};
    const size_t blocks = planes.BlockCount();
    for (int comp = 0; comp < 3; ++comp) {
        const int table = comp == 0 ? 0 : 1;
        const JpegCoefficient* p = planes.plane[comp].data();
        for (size_t b = 0; b < blocks; ++b, p += 64) {
            CountBlock(p, predictor[comp], stats.dc[table], stats.ac[table]);
        }
    }
}

void JpegBuildScanTables(const JpegScanStatistics& stats, JpegScanTables& tables) {
    for (int t = 0; t < 2; ++t) {
        JpegBuildHuffmanTable(stats.dc[t], tables.dc[t]);
        JpegAssignCodes(tables.dc[t]);
        JpegBuildHuffmanTable(stats.ac[t], tables.ac[t]);
        JpegAssignCodes(tables.ac[t]);
    }
}

uint64_t JpegEstimateScanBytes(const JpegScanStatistics& stats, const JpegScanTables& tables) {
    uint64_t bits = 0;
    for (int t = 0; t < 2; ++t) {
        for (int s = 0; s < 256; ++s) {
            bits += stats.dc[t][s] * (tables.dc[t].length[s] + static_cast<uint64_t>(s));
            bits += stats.ac[t][s] * (tables.ac[t].length[s] + static_cast<uint64_t>(s & 15));
        }
    }
    return (bits + 7) / 8;
}

JpegBitWriter::JpegBitWriter(std::vector<uint8_t>& buffer, size_t position) : buffer_(buffer) {
    if (buffer_.size() < position) buffer_.resize(position);
    out_ = buffer_.data() + position;
    end_ = buffer_.data() + buffer_.size();
}

void JpegBitWriter::Grow(size_t bytes) {
    const size_t position = static_cast<size_t>(out_ - buffer_.data());
    const size_t wanted = std::max(buffer_.size() * 2, position + bytes);
    buffer_.resize(wanted);
    out_ = buffer_.data() + position;
    end_ = buffer_.data() + buffer_.size();
}

void JpegBitWriter::Flush32() {
    pending_ -= 32;
    const uint32_t word = static_cast<uint32_t>(acc_ >> pending_);
    if (!HasByteFF(word)) {
        const uint32_t bigEndian = __builtin_bswap32(word);
        std::memcpy(out_, &bigEndian, 4);
        out_ += 4;
        return;
    }
    EmitByte(static_cast<uint8_t>(word >> 24));
    EmitByte(static_cast<uint8_t>(word >> 16));
    EmitByte(static_cast<uint8_t>(word >> 8));
    EmitByte(static_cast<uint8_t>(word));
}

void JpegBitWriter::PutBits(uint32_t mask, uint32_t value) {
    if (mask == 0) return;
    const int count = 32 - __builtin_clz(mask);
    Reserve(16);
    Put(count == 32 ? value : value & ((1u << count) - 1u), count);
}

size_t JpegBitWriter::Finish() {
    Reserve(16);
    const int partial = pending_ % 8;
    if (partial != 0) Put((1u << (8 - partial)) - 1u, 8 - partial);
    while (pending_ >= 8) {
        pending_ -= 8;
        EmitByte(static_cast<uint8_t>(acc_ >> pending_));
    }
    acc_ = 0;
    return static_cast<size_t>(out_ - buffer_.data());
}

void JpegEncodeBlock(const JpegCoefficient* block, int32_t& predictor, const HuffmanTable& dc,
                     const HuffmanTable& ac, JpegBitWriter& writer) {
    const int32_t diff = block[0] - predictor;
    predictor = block[0];
    const int dcSize = JpegBitSize(diff);
    writer.Put((static_cast<uint32_t>(dc.code[dcSize]) << dcSize) | ExtraBits(diff, dcSize),
               dc.length[dcSize] + dcSize);

    uint64_t nonZero = NonZeroMask(block) & ~uint64_t{1};
    int last = 0;
    while (nonZero != 0) {
        const int k = __builtin_ctzll(nonZero);
        nonZero &= nonZero - 1;
        int run = k - last - 1;
        while (run >= 16) {
            writer.Put(static_cast<uint32_t>(ac.code[0xF0]), ac.length[0xF0]);
            run -= 16;
        }
        const int32_t v = block[k];
        const int size = JpegBitSize(v);
        const int symbol = (run << 4) | size;
        writer.Put((static_cast<uint32_t>(ac.code[symbol]) << size) | ExtraBits(v, size),
                   ac.length[symbol] + size);
        last = k;
    }
    if (last != 63) writer.Put(static_cast<uint32_t>(ac.code[0x00]), ac.length[0x00]);
}

size_t JpegEncodeScan(const JpegCoefficientPlanes& planes, const JpegScanTables& tables,
                      std::vector<uint8_t>& buffer, size_t position) {
    JpegBitWriter writer(buffer, position);
    int32_t predictor[3] = {0, 0, 0};
    const JpegCoefficient* y = planes.plane[0].data();
    const JpegCoefficient* cb = planes.plane[1].data();
    const JpegCoefficient* cr = planes.plane[2].data();
    const size_t blocks = planes.BlockCount();
    for (size_t b = 0; b < blocks; ++b, y += 64, cb += 64, cr += 64) {
        writer.Reserve(3 * kJpegMaxBlockBytes);
        JpegEncodeBlock(y, predictor[0], tables.dc[0], tables.ac[0], writer);
        JpegEncodeBlock(cb, predictor[1], tables.dc[1], tables.ac[1], writer);
        JpegEncodeBlock(cr, predictor[2], tables.dc[1], tables.ac[1], writer);
    }
    return writer.Finish();
}

}  // namespace tessaly
