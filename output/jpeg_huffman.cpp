#include "output/jpeg_huffman.h"

#include <cstddef>
#include <limits>

namespace tessaly {

namespace {

constexpr int kSymbols = 257;
// A code can never be longer than the number of symbols less one.
constexpr int kMaxRawLength = kSymbols;

// The symbol with the smallest non-zero frequency; on equal frequencies the
// higher symbol number wins. -1 when none is left.
int SmallestFrequency(const JpegFrequencies& freq, int exclude) {
    int found = -1;
    uint64_t best = std::numeric_limits<uint64_t>::max();
    for (int i = 0; i < kSymbols; ++i) {
        if (freq[i] != 0 && freq[i] <= best && i != exclude) {
            best = freq[i];
            found = i;
        }
    }
    return found;
}

}  // namespace

void JpegBuildHuffmanTable(const JpegFrequencies& frequencies, HuffmanTable& table) {
    JpegFrequencies freq = frequencies;
    freq[256] = 1;  // reserves one code so that no real code is all 1-bits
    std::array<int, kSymbols> codeSize{};
    std::array<int, kSymbols> others;
    others.fill(-1);

    for (;;) {
        int c1 = SmallestFrequency(freq, -1);
        int c2 = SmallestFrequency(freq, c1);
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codeSize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codeSize[c1];
        }
        others[c1] = c2;
        ++codeSize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codeSize[c2];
        }
    }

    std::array<int, kMaxRawLength + 1> count{};
    for (int i = 0; i < kSymbols; ++i) {
        if (codeSize[i] != 0) ++count[codeSize[i]];
    }
    // Limit to 16 bits: two codes of length i become one of i - 1 and split a
    // shorter code of length j into two of j + 1.
    for (int i = kMaxRawLength; i > 16; --i) {
        while (count[i] > 0) {
            int j = i - 2;
            while (count[j] == 0) --j;
            count[i] -= 2;
            ++count[i - 1];
            count[j + 1] += 2;
            --count[j];
        }
    }
    // Give back the reserved symbol's code: it has the longest length in use.
    int longest = 16;
    while (count[longest] == 0) --longest;
    --count[longest];

    table.bits.fill(0);
    for (int i = 1; i <= 16; ++i) table.bits[i] = static_cast<uint8_t>(count[i]);
    table.vals.clear();
    for (int size = 1; size <= kMaxRawLength; ++size) {
        for (int symbol = 0; symbol < 256; ++symbol) {
            if (codeSize[symbol] == size) table.vals.push_back(static_cast<uint8_t>(symbol));
        }
    }
}

void JpegAssignCodes(HuffmanTable& table) {
    table.code.fill(-1);
    table.length.fill(0);
    int32_t code = 0;
    size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int n = 0; n < table.bits[length] && k < table.vals.size(); ++n, ++k) {
            table.code[table.vals[k]] = code++;
            table.length[table.vals[k]] = static_cast<uint8_t>(length);
        }
        code <<= 1;
    }
}

}  // namespace tessaly
