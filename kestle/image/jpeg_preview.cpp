#include "kestle/image/jpeg_preview.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "kestle/image/picture_format.h"

namespace kestle::image {
namespace {

using Bytes = std::span<const uint8_t>;

struct Huffman {
    bool defined = false;
    std::array<uint8_t, 256> symbols{};
    int min_code[17] = {};
    int max_code[18] = {};  // -1 where a length has no codes
    int first_index[17] = {};
    // Codes of up to 9 bits in one look-up: length << 8 | symbol, 0 if longer.
    std::array<uint16_t, 512> fast{};
};

// Builds the canonical code of T.81 Annex C; false for counts that overflow
// their lengths or name more than 256 symbols.
bool build(Huffman& h, const uint8_t* counts, Bytes symbols) {
    int k = 0, code = 0;
    h.fast.fill(0);
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[len - 1];
        h.first_index[len] = k;
        h.min_code[len] = code;
        if (k + n > static_cast<int>(symbols.size()) || code + n > (1 << len)) return false;
        for (int i = 0; i < n; ++i) {
            h.symbols[static_cast<size_t>(k + i)] = symbols[static_cast<size_t>(k + i)];
            if (len <= 9) {
                const int shift = 9 - len;
                for (int fill = 0; fill < (1 << shift); ++fill)
                    h.fast[static_cast<size_t>(((code + i) << shift) | fill)] =
                        static_cast<uint16_t>(len << 8 | symbols[static_cast<size_t>(k + i)]);
            }
        }
        h.max_code[len] = n ? code + n - 1 : -1;
        k += n;
        code = (code + n) << 1;
    }
    h.max_code[17] = 0x7FFFFFFF;
    h.defined = true;
    return true;
}

// Entropy-coded data: removes the stuffed zero after each 0xFF and stops at
// a marker or the end, after which it yields zero bits and counts them.
class BitReader {
  public:
    BitReader(Bytes data, size_t pos) : data_(data), pos_(pos) {}

    int peek9() {
        fill();
        return static_cast<int>((acc_ >> (count_ - 9)) & 0x1FF);
    }
    int get(int n) {
        if (n == 0) return 0;
        fill();
        count_ -= n;
        return static_cast<int>((acc_ >> count_) & ((1u << n) - 1));
    }
    void skip(int n) { get(n); }
    // More zero bits made up than a damaged tail could excuse.
    bool overrun() const { return padding_ > 64; }

    // At a restart interval: the rest of the byte is dropped and the RSTn
    // marker must follow.
    bool restart() {
        acc_ = 0;
        count_ = 0;
        padding_ = 0;
        while (pos_ + 1 < data_.size() && data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFF) ++pos_;  // fill bytes
        if (pos_ + 1 < data_.size() && data_[pos_] == 0xFF && data_[pos_ + 1] >= 0xD0 && data_[pos_ + 1] <= 0xD7) {
            pos_ += 2;
            at_marker_ = false;
            return true;
        }
        return false;
    }

  private:
    void fill() {
        while (count_ <= 24) {
            uint32_t byte = 0;
            if (!at_marker_ && pos_ < data_.size()) {
                byte = data_[pos_];
                if (byte == 0xFF) {
                    if (pos_ + 1 < data_.size() && data_[pos_ + 1] == 0x00) {
                        pos_ += 2;
                    } else {
                        at_marker_ = true;  // stays in place for restart()
                        byte = 0;
                        ++padding_;
                    }
                } else {
                    ++pos_;
                }
            } else {
                ++padding_;
            }
            acc_ = (acc_ << 8) | byte;
            count_ += 8;
        }
    }

    Bytes data_;
    size_t pos_;
    uint64_t acc_ = 0;
    int count_ = 0;
    int padding_ = 0;
    bool at_marker_ = false;
};

int decode(const Huffman& h, BitReader& bits) {
    const int fast = h.fast[static_cast<size_t>(bits.peek9())];
    if (fast) {
        bits.skip(fast >> 8);
        return fast & 0xFF;
    }
    int code = bits.get(9);
    for (int len = 10; len <= 16; ++len) {
        code = code << 1 | bits.get(1);
        if (h.max_code[len] >= 0 && code <= h.max_code[len] && code >= h.min_code[len])
            return h.symbols[static_cast<size_t>(h.first_index[len] + code - h.min_code[len])];
    }
    return -1;
}

int extend(int v, int s) { return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v; }

struct Component {
    int id = 0, h = 1, v = 1, quant = 0, dc_table = 0, ac_table = 0;
    int blocks_wide = 0, blocks_high = 0;  // in the MCU grid, padding blocks included
    std::vector<int16_t> dc;               // mean sample - 128 per block
    int predictor = 0;
};

uint16_t be16(Bytes b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

}  // namespace

std::optional<JpegPreview> read_jpeg_preview(Bytes file) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return std::nullopt;
    Huffman dc_tables[4], ac_tables[4];
    int dc_quant[4] = {0, 0, 0, 0};
    bool quant_defined[4] = {false, false, false, false};
    std::vector<Component> comps;
    int width = 0, height = 0, restart_interval = 0;
    bool adobe_rgb = false;

    size_t pos = 2;
    for (;;) {
        // Markers may be preceded by fill bytes.
        while (pos < file.size() && file[pos] == 0xFF && pos + 1 < file.size() && file[pos + 1] == 0xFF) ++pos;
        if (pos + 4 > file.size() || file[pos] != 0xFF) return std::nullopt;
        const uint8_t marker = file[pos + 1];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // TEM and RSTn carry no length
            pos += 2;
            continue;
        }
        if (marker == 0xD8) return std::nullopt;  // a second SOI: decoders refuse the file
        const size_t length = be16(file, pos + 2);
        if (length < 2 || pos + 2 + length > file.size()) return std::nullopt;
        const Bytes seg = file.subspan(pos + 4, length - 2);
        pos += 2 + length;

        if (marker == 0xC0 || marker == 0xC1) {  // sequential, Huffman
            if (seg.size() < 6 || seg[0] != 8 || !comps.empty()) return std::nullopt;
            height = be16(seg, 1);
            width = be16(seg, 3);
            const int n = seg[5];
            if (width == 0 || height == 0 || (n != 1 && n != 3) || seg.size() < 6u + 3u * n) return std::nullopt;
            for (int i = 0; i < n; ++i) {
                Component c;
                c.id = seg[6 + 3 * i];
                c.h = seg[7 + 3 * i] >> 4;
                c.v = seg[7 + 3 * i] & 15;
                c.quant = seg[8 + 3 * i];
                if (c.h < 1 || c.h > 2 || c.v < 1 || c.v > 2 || c.quant > 3) return std::nullopt;
                comps.push_back(c);
            }
        } else if ((marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)) {
            return std::nullopt;  // progressive, lossless, arithmetic, hierarchical: the full decoder's
        } else if (marker == 0xC4) {
            for (size_t at = 0; at < seg.size();) {
                if (at + 17 > seg.size()) return std::nullopt;
                const int cls = seg[at] >> 4, id = seg[at] & 15;
                int total = 0;
                for (int i = 0; i < 16; ++i) total += seg[at + 1 + i];
                if (cls > 1 || id > 3 || at + 17 + total > seg.size()) return std::nullopt;
                Huffman& table = cls == 0 ? dc_tables[id] : ac_tables[id];
                if (!build(table, &seg[at + 1], seg.subspan(at + 17, static_cast<size_t>(total)))) return std::nullopt;
                at += 17 + static_cast<size_t>(total);
            }
        } else if (marker == 0xDB) {
            for (size_t at = 0; at < seg.size();) {
                const int precision = seg[at] >> 4, id = seg[at] & 15;
                const size_t size = precision ? 128 : 64;
                if (id > 3 || precision > 1 || at + 1 + size > seg.size()) return std::nullopt;
                dc_quant[id] = precision ? be16(seg, at + 1) : seg[at + 1];  // the first entry is the DC one
                quant_defined[id] = true;
                at += 1 + size;
            }
        } else if (marker == 0xDD) {
            if (seg.size() < 2) return std::nullopt;
            restart_interval = be16(seg, 0);
        } else if (marker == 0xEE) {
            // Adobe's segment: transform 0 means the components are RGB, not YCbCr.
            if (seg.size() >= 12 && seg[0] == 'A' && seg[1] == 'd' && seg[11] == 0 && comps.size() != 1) adobe_rgb = true;
        } else if (marker == 0xDA) {
            if (comps.empty() || seg.empty() || seg[0] != comps.size() || seg.size() < 4u + 2u * comps.size())
                return std::nullopt;  // a scan without every component: not interleaved baseline
            const size_t n = comps.size();
            if (seg[1 + 2 * n] != 0 || seg[2 + 2 * n] != 63 || seg[3 + 2 * n] != 0) return std::nullopt;
            for (size_t i = 0; i < comps.size(); ++i) {
                if (seg[1 + 2 * i] != comps[i].id) return std::nullopt;
                comps[i].dc_table = seg[2 + 2 * i] >> 4;
                comps[i].ac_table = seg[2 + 2 * i] & 15;
                if (comps[i].dc_table > 3 || comps[i].ac_table > 3 || !dc_tables[comps[i].dc_table].defined ||
                    !ac_tables[comps[i].ac_table].defined || !quant_defined[comps[i].quant])
                    return std::nullopt;
            }
            break;
        } else if (marker == 0xD9) {
            return std::nullopt;  // no scan
        }
    }
    if (adobe_rgb || !size_allowed(uint64_t(width), uint64_t(height))) return std::nullopt;
    // A single component is scanned block by block whatever sampling it states.
    if (comps.size() == 1) comps[0].h = comps[0].v = 1;

    int hmax = 1, vmax = 1;
    for (const Component& c : comps) {
        hmax = std::max(hmax, c.h);
        vmax = std::max(vmax, c.v);
    }
    const int mcu_wide = (width + 8 * hmax - 1) / (8 * hmax);
    const int mcu_high = (height + 8 * vmax - 1) / (8 * vmax);
    for (Component& c : comps) {
        c.blocks_wide = mcu_wide * c.h;
        c.blocks_high = mcu_high * c.v;
        c.dc.assign(size_t(c.blocks_wide) * c.blocks_high, 0);
    }

    BitReader bits(file, pos);
    const int mcus = mcu_wide * mcu_high;
    for (int m = 0; m < mcus; ++m) {
        if (restart_interval && m > 0 && m % restart_interval == 0) {
            if (!bits.restart()) return std::nullopt;
            for (Component& c : comps) c.predictor = 0;
        }
        const int mx = m % mcu_wide, my = m / mcu_wide;
        for (Component& c : comps) {
            for (int by = 0; by < c.v; ++by) {
                for (int bx = 0; bx < c.h; ++bx) {
                    const int s = decode(dc_tables[c.dc_table], bits);
                    if (s < 0 || s > 11) return std::nullopt;
                    // Kept within what 8-bit samples can give, so damaged
                    // data cannot overflow the sum.
                    c.predictor = std::clamp(c.predictor + (s ? extend(bits.get(s), s) : 0), -32768, 32767);
                    // Only the coefficients' bits are read past: every AC
                    // symbol still has to be decoded to find the next block.
                    const Huffman& ac = ac_tables[c.ac_table];
                    for (int k = 1; k < 64;) {
                        const int rs = decode(ac, bits);
                        if (rs < 0) return std::nullopt;
                        const int run = rs >> 4, size = rs & 15;
                        if (size == 0) {
                            if (run != 15) break;  // end of block
                            k += 16;
                            continue;
                        }
                        k += run + 1;
                        if (k > 64) return std::nullopt;
                        bits.skip(size);
                    }
                    const int64_t value = int64_t{c.predictor} * dc_quant[c.quant];
                    // The DC coefficient is eight times the block's mean.
                    c.dc[size_t(my * c.v + by) * c.blocks_wide + size_t(mx * c.h + bx)] = static_cast<int16_t>(
                        std::clamp<int64_t>((value + (value >= 0 ? 4 : -4)) / 8, -2048, 2047));
                }
            }
            if (bits.overrun()) return std::nullopt;  // the data ended long before the picture
        }
    }

    JpegPreview p;
    p.width = width;
    p.height = height;
    p.components = static_cast<int>(comps.size());
    p.preview_width = (width + 7) / 8;
    p.preview_height = (height + 7) / 8;
    p.bgr.resize(size_t(p.preview_width) * p.preview_height * 3);
    auto sample = [&](const Component& c, int x, int y) {
        // Preview pixel (x, y) lies in this component's block (x*h/hmax, y*v/vmax).
        return c.dc[size_t(y * c.v / vmax) * c.blocks_wide + size_t(x * c.h / hmax)] + 128.0f;
    };
    auto byte = [](float v) { return static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(v)), 0, 255)); };
    for (int y = 0; y < p.preview_height; ++y) {
        for (int x = 0; x < p.preview_width; ++x) {
            uint8_t* out = &p.bgr[(size_t(y) * p.preview_width + x) * 3];
            const float luma = sample(comps[0], x, y);
            if (comps.size() == 1) {
                out[0] = out[1] = out[2] = byte(luma);
                continue;
            }
            const float cb = sample(comps[1], x, y) - 128.0f, cr = sample(comps[2], x, y) - 128.0f;
            out[0] = byte(luma + 1.772f * cb);
            out[1] = byte(luma - 0.344136f * cb - 0.714136f * cr);
            out[2] = byte(luma + 1.402f * cr);
        }
    }
    return p;
}

}  // namespace kestle::image
