// Huffman tables that are optimal for one image (ITU T.81 Annex K.2) and
// their canonical codes (Annex C).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tessaly {

// Symbol counts: 0..255 plus the reserved symbol 256 (set by the builder).
// 64 bits so that no count can overflow, whatever the image size.
using JpegFrequencies = std::array<uint64_t, 257>;

struct HuffmanTable {
    std::array<uint8_t, 17> bits{};  // bits[1..16]: number of codes of each length
    std::vector<uint8_t> vals;       // symbols in code order
    std::array<int32_t, 256> code{};
    std::array<uint8_t, 256> length{};  // code length in bits, 0 = no code

    HuffmanTable() { code.fill(-1); }
    // The length as a bit mask, 1 << (length - 1); 0 when the symbol has no code.
    uint32_t LengthMask(int symbol) const { return length[symbol] ? 1u << (length[symbol] - 1) : 0u; }
};

// Builds bits and vals from the counts: smallest two frequencies merged first,
// ties going to the higher symbol number, lengths limited to 16 bits, the
// all-ones code kept free. At least one symbol must have a non-zero count.
void JpegBuildHuffmanTable(const JpegFrequencies& frequencies, HuffmanTable& table);

// Canonical codes from bits and vals.
void JpegAssignCodes(HuffmanTable& table);

}  // namespace tessaly
