#include "kestle/image/jpeg_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

namespace kestle::image {
namespace {

constexpr uint8_t zigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Annex K.1, in natural (row by row) order.
constexpr uint8_t luma_quant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,  14, 13, 16, 24, 40,  57,
    69, 56, 14, 17, 22,  29,  51,  87,  80, 62, 18, 22, 37,  56,  68,  109, 103, 77, 24, 35, 55, 64,
    81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
};
constexpr uint8_t chroma_quant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};

// Annex K.3: code counts per length 1..16, then the symbols.
struct HuffmanTableDef {
    uint8_t counts[16];
    std::array<uint8_t, 162> symbols;
    int symbol_count;
};
constexpr HuffmanTableDef dc_luma = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                 {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
                                 12};
constexpr HuffmanTableDef dc_chroma = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                                   {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
                                   12};
constexpr HuffmanTableDef ac_luma = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
     0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
     0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
     0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
     0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
     0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
     0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
     0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
    162};
constexpr HuffmanTableDef ac_chroma = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
     0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
     0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
     0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
     0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
     0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
     0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
     0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
    162};

struct HuffmanCodes {
    uint16_t code[256] = {};
    uint8_t length[256] = {};
};

// Canonical codes from the counts (Annex C).
HuffmanCodes make_codes(const HuffmanTableDef& table) {
    HuffmanCodes c;
    unsigned code = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < table.counts[len - 1]; ++i, ++k) {
            c.code[table.symbols[k]] = static_cast<uint16_t>(code++);
            c.length[table.symbols[k]] = static_cast<uint8_t>(len);
        }
        code <<= 1;
    }
    return c;
}

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(unsigned bits, int count) {
        buffer_ = (buffer_ << count) | (bits & ((1u << count) - 1));
        filled_ += count;
        while (filled_ >= 8) {
            const auto byte = static_cast<uint8_t>(buffer_ >> (filled_ - 8));
            out_.push_back(byte);
            if (byte == 0xFF) out_.push_back(0);  // a data 0xFF is never a marker
            filled_ -= 8;
        }
        buffer_ &= (1u << filled_) - 1;
    }
    void flush() {
        if (filled_ > 0) put(0x7F, 8 - filled_);  // pad with one-bits
    }

  private:
    std::vector<uint8_t>& out_;
    uint32_t buffer_ = 0;
    int filled_ = 0;
};

// Float AAN forward DCT; its output still carries the AAN scale factors,
// which are folded into the quantisation divisors.
void forward_dct(float* d) {
    for (int pass = 0; pass < 2; ++pass) {
        const int step = pass == 0 ? 1 : 8;   // along a row, then down a column
        const int next = pass == 0 ? 8 : 1;
        for (int line = 0; line < 8; ++line) {
            float* p = d + line * next;
            const float t0 = p[0] + p[7 * step], t7 = p[0] - p[7 * step];
            const float t1 = p[step] + p[6 * step], t6 = p[step] - p[6 * step];
            const float t2 = p[2 * step] + p[5 * step], t5 = p[2 * step] - p[5 * step];
            const float t3 = p[3 * step] + p[4 * step], t4 = p[3 * step] - p[4 * step];
            float t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
            p[0] = t10 + t11;
            p[4 * step] = t10 - t11;
            const float z1 = (t12 + t13) * 0.707106781f;
            p[2 * step] = t13 + z1;
            p[6 * step] = t13 - z1;
            t10 = t4 + t5;
            t11 = t5 + t6;
            t12 = t6 + t7;
            const float z5 = (t10 - t12) * 0.382683433f;
            const float z2 = 0.541196100f * t10 + z5;
            const float z4 = 1.306562965f * t12 + z5;
            const float z3 = t11 * 0.707106781f;
            const float z11 = t7 + z3, z13 = t7 - z3;
            p[5 * step] = z13 + z2;
            p[3 * step] = z13 - z2;
            p[step] = z11 + z4;
            p[7 * step] = z11 - z4;
        }
    }
}

struct Component {
    uint8_t table[64];   // quantisation table, natural order
    float divisor[64];   // reciprocal of table x AAN scale x 8, natural order
    const HuffmanCodes* dc;
    const HuffmanCodes* ac;
    int previous_dc = 0;
};

void make_tables(const uint8_t* base, int quality, Component& c) {
    static constexpr double aan[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                                      1.0, 0.785694958, 0.541196100, 0.275899379};
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    for (int i = 0; i < 64; ++i) {
        c.table[i] = static_cast<uint8_t>(std::clamp((base[i] * scale + 50) / 100, 1, 255));
        c.divisor[i] = static_cast<float>(1.0 / (c.table[i] * aan[i / 8] * aan[i % 8] * 8.0));
    }
}

int magnitude_bits(int v) {
    unsigned a = static_cast<unsigned>(v < 0 ? -v : v);
    int n = 0;
    while (a) {
        ++n;
        a >>= 1;
    }
    return n;
}

void encode_block(float* block, Component& c, BitWriter& bits) {
    forward_dct(block);
    int q[64];
    for (int k = 0; k < 64; ++k) {
        const int n = zigzag[k];
        q[k] = static_cast<int>(std::lround(block[n] * c.divisor[n]));
    }
    const int diff = q[0] - c.previous_dc;
    c.previous_dc = q[0];
    int size = magnitude_bits(diff);
    bits.put(c.dc->code[size], c.dc->length[size]);
    if (size) bits.put(static_cast<unsigned>(diff < 0 ? diff - 1 : diff), size);
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        if (q[k] == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) bits.put(c.ac->code[0xF0], c.ac->length[0xF0]);
        size = magnitude_bits(q[k]);
        const int symbol = run << 4 | size;
        bits.put(c.ac->code[symbol], c.ac->length[symbol]);
        bits.put(static_cast<unsigned>(q[k] < 0 ? q[k] - 1 : q[k]), size);
        run = 0;
    }
    if (run) bits.put(c.ac->code[0], c.ac->length[0]);  // end of block
}

void put_bytes(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) out.push_back(b);
}

void put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void put_huffman_table(std::vector<uint8_t>& out, uint8_t id, const HuffmanTableDef& table) {
    out.push_back(id);
    out.insert(out.end(), table.counts, table.counts + 16);
    out.insert(out.end(), table.symbols.begin(), table.symbols.begin() + table.symbol_count);
}

}  // namespace

std::vector<uint8_t> encode_baseline_jpeg(const uint8_t* bgr, int width, int height, int quality) {
    quality = std::clamp(quality, 1, 100);
    static const HuffmanCodes dc_luma_codes = make_codes(dc_luma), ac_luma_codes = make_codes(ac_luma),
                              dc_chroma_codes = make_codes(dc_chroma), ac_chroma_codes = make_codes(ac_chroma);
    Component y, cb, cr;
    make_tables(luma_quant, quality, y);
    make_tables(chroma_quant, quality, cb);
    make_tables(chroma_quant, quality, cr);
    y.dc = &dc_luma_codes;
    y.ac = &ac_luma_codes;
    cb.dc = cr.dc = &dc_chroma_codes;
    cb.ac = cr.ac = &ac_chroma_codes;

    std::vector<uint8_t> out;
    out.reserve(size_t(width) * height / 4 + 1024);
    put_bytes(out, {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    put_bytes(out, {0xFF, 0xDB, 0, 132, 0});
    for (int k = 0; k < 64; ++k) out.push_back(y.table[zigzag[k]]);
    out.push_back(1);
    for (int k = 0; k < 64; ++k) out.push_back(cb.table[zigzag[k]]);
    put_bytes(out, {0xFF, 0xC0, 0, 17, 8});
    put16(out, static_cast<unsigned>(height));
    put16(out, static_cast<unsigned>(width));
    put_bytes(out, {3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
    put_bytes(out, {0xFF, 0xC4});
    put16(out, 2 + 4 * 17 + 12 + 12 + 162 + 162);
    put_huffman_table(out, 0x00, dc_luma);
    put_huffman_table(out, 0x10, ac_luma);
    put_huffman_table(out, 0x01, dc_chroma);
    put_huffman_table(out, 0x11, ac_chroma);
    put_bytes(out, {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});

    BitWriter bits(out);
    const size_t stride = static_cast<size_t>(width) * 3;
    float ys[4][64], cbs[64], crs[64];
    for (int my = 0; my < height; my += 16) {
        for (int mx = 0; mx < width; mx += 16) {
            std::fill(cbs, cbs + 64, 0.0f);
            std::fill(crs, crs + 64, 0.0f);
            for (int py = 0; py < 16; ++py) {
                const uint8_t* row = bgr + stride * static_cast<size_t>(std::min(my + py, height - 1));
                for (int px = 0; px < 16; ++px) {
                    // Past the right or bottom edge the last pixel repeats.
                    const uint8_t* p = row + static_cast<size_t>(std::min(mx + px, width - 1)) * 3;
                    const float b = p[0], g = p[1], r = p[2];
                    ys[(py / 8) * 2 + px / 8][(py % 8) * 8 + px % 8] = 0.299f * r + 0.587f * g + 0.114f * b - 128.0f;
                    const int c = (py / 2) * 8 + px / 2;
                    cbs[c] += 0.25f * (-0.168736f * r - 0.331264f * g + 0.5f * b);
                    crs[c] += 0.25f * (0.5f * r - 0.418688f * g - 0.081312f * b);
                }
            }
            for (auto& block : ys) encode_block(block, y, bits);
            encode_block(cbs, cb, bits);
            encode_block(crs, cr, bits);
        }
    }
    bits.flush();
    put_bytes(out, {0xFF, 0xD9});
    return out;
}

}  // namespace kestle::image
