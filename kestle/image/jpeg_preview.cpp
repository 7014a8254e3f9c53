#include "kestle/image/jpeg_preview.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "kestle/image/jpeg_segments.h"
#include "kestle/image/picture_format.h"

namespace kestle::image {
namespace {

using Bytes = std::span<const uint8_t>;

// Codes of up to this many bits are found with one table look-up.
constexpr int lookahead = 12;

struct Huffman {
    bool defined = false;
    std::array<uint8_t, 256> symbols{};
    int min_code[17] = {};
    int max_code[18] = {};  // -1 where a length has no codes
    int first_index[17] = {};
    // Per `lookahead` bits: length << 8 | symbol, 0 if the code is longer.
    std::array<uint16_t, 1 << lookahead> fast{};
    // For AC tables, per `lookahead` bits, when the code and the bits of its
    // coefficient fit in them together: 0x8000 | positions advanced << 5 |
    // bits to drop, the advance 0 for the end of the block. The preview only
    // skips AC coefficients, so one look-up does a whole coefficient.
    std::array<uint16_t, 1 << lookahead> skip{};
    // Two such coefficients in one look-up where both fit in the bits
    // together, halving the chain of look-ups that bounds the decoder's
    // speed: 0 if they do not; else bits 0-4 the bits of both, 5-9 the first
    // one's advance, 10-14 the second's (0 for the end of the block), bits
    // 15-19 the first one's bits.
    std::array<uint32_t, 1 << lookahead> pair{};
};

// Builds the canonical code of T.81 Annex C; false for counts that overflow
// their lengths or name more than 256 symbols.
bool build(Huffman& h, const uint8_t* counts, Bytes symbols) {
    int k = 0, code = 0;
    h.fast.fill(0);
    h.skip.fill(0);
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[len - 1];
        h.first_index[len] = k;
        h.min_code[len] = code;
        if (k + n > static_cast<int>(symbols.size()) || code + n > (1 << len)) return false;
        for (int i = 0; i < n; ++i) {
            const uint8_t symbol = symbols[static_cast<size_t>(k + i)];
            h.symbols[static_cast<size_t>(k + i)] = symbol;
            if (len > lookahead) continue;
            const int run = symbol >> 4, size = symbol & 15;
            const int advance = size == 0 ? (run == 15 ? 16 : 0) : run + 1;
            const bool fits = len + size <= lookahead && (size != 0 || run == 0 || run == 15);
            const int shift = lookahead - len;
            for (int fill = 0; fill < (1 << shift); ++fill) {
                const size_t at = static_cast<size_t>(((code + i) << shift) | fill);
                h.fast[at] = static_cast<uint16_t>(len << 8 | symbol);
                if (fits) h.skip[at] = static_cast<uint16_t>(0x8000 | advance << 5 | (len + size));
            }
        }
        h.max_code[len] = n ? code + n - 1 : -1;
        k += n;
        code = (code + n) << 1;
    }
    h.max_code[17] = 0x7FFFFFFF;
    for (size_t at = 0; at < h.skip.size(); ++at) {
        h.pair[at] = 0;
        const int first = h.skip[at];
        const int bits = first & 31, advance = (first >> 5) & 31;
        if (!first || advance == 0 || bits >= lookahead) continue;  // none, the block's end, or no room
        // The second look-up from the bits after the first; an entry found
        // with the unknown low bits set to 0 is right only if it fits in
        // the known bits.
        const int second = h.skip[(at << bits) & (h.skip.size() - 1)];
        if (!second || (second & 31) > lookahead - bits) continue;
        h.pair[at] = static_cast<uint32_t>(bits + (second & 31)) | uint32_t(advance) << 5 |
                     uint32_t((second >> 5) & 31) << 10 | uint32_t(bits) << 15;
    }
    h.defined = true;
    return true;
}

// The signed value of an s-bit coefficient (T.81 F.2.2.1).
int extend(int v, int s) { return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v; }

// Entropy-coded data, most significant bit first in a 64-bit buffer that is
// refilled four bytes at a time while they hold no 0xFF; the byte-wise path
// removes the stuffed zero after each 0xFF and stops at a marker or the end,
// after which it yields zero bits and counts them.
class BitReader {
  public:
    BitReader(Bytes data, size_t pos) : data_(data), pos_(pos) {}

    // At least 32 bits are buffered afterwards: one code and its
    // coefficient bits never need more.
    void refill() {
        if (count_ >= 32) return;
        if (!at_marker_ && data_.size() - pos_ >= 8) {
            const uint8_t* p = data_.data() + pos_;
            // One unaligned load, big-endian: the compilers do not see the
            // byte-by-byte loop for what it is.
            uint64_t word;
            std::memcpy(&word, p, sizeof word);
            word = __builtin_bswap64(word);
            // As many whole bytes as fit, when none of them is 0xFF (the
            // test may also flag a byte above a 0xFF: that only means the
            // byte-wise path).
            const int take = (64 - count_) / 8;
            const uint64_t keep = take == 8 ? ~uint64_t{0} : ~(~uint64_t{0} >> (8 * take));
            const uint64_t ff = ((~word) - 0x0101010101010101u) & word & 0x8080808080808080u;
            if (!(ff & keep)) {
                acc_ |= (word & keep) >> count_;
                count_ += 8 * take;
                pos_ += static_cast<size_t>(take);
                return;
            }
        }
        while (count_ <= 56) {
            uint64_t byte = 0;
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
            acc_ |= byte << (56 - count_);
            count_ += 8;
        }
    }
    // Only after refill(), and together with the bits taken since then,
    // never more than 32.
    uint32_t peek(int n) const { return static_cast<uint32_t>(acc_ >> (64 - n)); }
    void drop(int n) {
        acc_ <<= n;
        count_ -= n;
    }
    int get(int n) {
        if (n == 0) return 0;
        const int v = static_cast<int>(peek(n));
        drop(n);
        return v;
    }
    // Past one block's AC coefficients. The buffer is worked on in locals:
    // this is the decoder's hot loop, and the compiler must otherwise
    // assume the table reads might change it.
    bool skip_ac(const Huffman& ac) {
        uint64_t acc = acc_;
        int count = count_;
        for (int k = 1; k < 64;) {
            if (count < 32) {
                acc_ = acc;
                count_ = count;
                refill();
                acc = acc_;
                count = count_;
            }
            const size_t ahead = static_cast<size_t>(acc >> (64 - lookahead));
            // Both coefficients only while the first does not end the block
            // by reaching its last position.
            if (const uint32_t two = ac.pair[ahead]; two && k + int((two >> 5) & 31) < 64) {
                const int second = (two >> 10) & 31;
                const int used = second ? two & 31 : (two >> 15) & 31;
                acc <<= used;
                count -= used;
                k += (two >> 5) & 31;
                if (second == 0) {  // the end of the block: its own bits go too
                    const int end = two & 31;
                    acc <<= end - used;
                    count -= end - used;
                    break;
                }
                k += second;
                continue;
            }
            const int entry = ac.skip[ahead];
            if (entry) {
                acc <<= entry & 31;
                count -= entry & 31;
                const int advance = (entry >> 5) & 31;
                if (advance == 0) break;  // end of block
                k += advance;
                continue;
            }
            acc_ = acc;
            count_ = count;
            const int rs = decode_slow(ac);
            if (rs < 0) return false;
            const int run = rs >> 4, size = rs & 15;
            drop(size);
            acc = acc_;
            count = count_;
            if (size == 0) {
                if (run != 15) break;
                k += 16;
                continue;
            }
            k += run + 1;
        }
        acc_ = acc;
        count_ = count;
        return true;  // a run that ends on the last coefficient counts as the block's end
    }
    // A DC difference: its size category by the tables, then its bits. -1
    // for a code the table lacks or a size past 8-bit samples. Kept in the
    // reader so that it inlines into the block loop: once per block, it is
    // the other half of the decoder.
    int dc_difference(const Huffman& h, int& diff) {
        refill();
        const int s = decode_slow(h);
        if (s < 0 || s > 11) return -1;
        diff = s ? extend(get(s), s) : 0;  // code and bits are 27 at most: refill() left 32
        return s;
    }
    // One symbol by the tables; refill() must have been called. -1 for a
    // code the table lacks.
    int decode_slow(const Huffman& h) {
        const int fast = h.fast[peek(lookahead)];
        if (fast) {
            drop(fast >> 8);
            return fast & 0xFF;
        }
        const uint32_t ahead = peek(16);
        for (int len = lookahead + 1; len <= 16; ++len) {
            const int code = static_cast<int>(ahead >> (16 - len));
            if (h.max_code[len] >= 0 && code <= h.max_code[len] && code >= h.min_code[len]) {
                drop(len);
                return h.symbols[static_cast<size_t>(h.first_index[len] + code - h.min_code[len])];
            }
        }
        return -1;
    }

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
    // The next marker after the scan's data (where the next segment starts).
    size_t end_of_scan() const {
        size_t p = pos_;
        for (;;) {
            const auto* hit = static_cast<const uint8_t*>(std::memchr(data_.data() + p, 0xFF, data_.size() - p));
            if (!hit) return data_.size();
            p = static_cast<size_t>(hit - data_.data());
            if (p + 1 >= data_.size()) return data_.size();
            const uint8_t next = data_[p + 1];
            if (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7)) return p;
            p += next == 0xFF ? 1 : 2;
        }
    }

  private:
    Bytes data_;
    size_t pos_;
    uint64_t acc_ = 0;
    int count_ = 0;
    int padding_ = 0;
    bool at_marker_ = false;
};

// Reads past one block's AC coefficients of a sequential scan; false on a
// code the table lacks or a run past the block's end.
bool skip_ac(const Huffman& ac, BitReader& bits) { return bits.skip_ac(ac); }

struct Component {
    int id = 0, h = 1, v = 1, quant = 0, dc_table = 0, ac_table = 0;
    int blocks_wide = 0, blocks_high = 0;  // in the MCU grid, padding blocks included
    int scan_wide = 0, scan_high = 0;      // the blocks a scan of this component alone holds
    std::vector<int16_t> dc;               // the DC coefficient of every block
    int predictor = 0;
    int dc_low_bit = -1;  // progressive: the lowest DC bit read so far; -1 before the first scan
};

uint16_t be16(Bytes b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

// Everything the segments before a scan define, as far as the preview needs.
struct Frame {
    Huffman dc_tables[4], ac_tables[4];
    int dc_quant[4] = {0, 0, 0, 0};
    bool quant_defined[4] = {false, false, false, false};
    std::vector<Component> comps;
    int width = 0, height = 0, restart_interval = 0;
    int hmax = 1, vmax = 1, mcu_wide = 0, mcu_high = 0;
    bool adobe_rgb = false;
};

struct Scan {
    std::vector<Component*> comps;
    int ss = 0, se = 0, ah = 0, al = 0;
    size_t data = 0;  // where the entropy-coded data starts
};

// Lays out the block grids once the frame header is read.
bool prepare(Frame& f) {
    if (f.adobe_rgb || !size_allowed(uint64_t(f.width), uint64_t(f.height))) return false;
    // A single component is scanned block by block whatever sampling it states.
    if (f.comps.size() == 1) f.comps[0].h = f.comps[0].v = 1;
    for (const Component& c : f.comps) {
        f.hmax = std::max(f.hmax, c.h);
        f.vmax = std::max(f.vmax, c.v);
    }
    f.mcu_wide = (f.width + 8 * f.hmax - 1) / (8 * f.hmax);
    f.mcu_high = (f.height + 8 * f.vmax - 1) / (8 * f.vmax);
    for (Component& c : f.comps) {
        c.blocks_wide = f.mcu_wide * c.h;
        c.blocks_high = f.mcu_high * c.v;
        c.scan_wide = ((f.width * c.h + f.hmax - 1) / f.hmax + 7) / 8;
        c.scan_high = ((f.height * c.v + f.vmax - 1) / f.vmax + 7) / 8;
        c.dc.assign(size_t(c.blocks_wide) * c.blocks_high, 0);
    }
    return true;
}

// Reads segments from `pos` up to the next scan header; false at the end of
// the picture or on anything the preview cannot use. A sequential reader
// takes SOF0/SOF1 only, a progressive one SOF2 only.
bool next_scan(Bytes file, size_t& pos, Frame& f, bool progressive, Scan& scan) {
    JpegSegmentWalker walk(file, pos);
    while (const auto segment = walk.next()) {
        pos = walk.position();
        const uint8_t marker = segment->marker;
        if (marker == 0xD8) return false;  // a second SOI: decoders refuse the file
        if (marker == 0xD9) return false;  // the end of the picture
        if (is_standalone_jpeg_marker(marker)) continue;  // TEM and RSTn
        if (!segment->whole()) return false;
        const Bytes seg = segment->body;

        if (marker == (progressive ? 0xC2 : 0xC0) || (!progressive && marker == 0xC1)) {  // Huffman
            if (seg.size() < 6 || seg[0] != 8 || !f.comps.empty()) return false;
            f.height = be16(seg, 1);
            f.width = be16(seg, 3);
            const int n = seg[5];
            if (f.width == 0 || f.height == 0 || (n != 1 && n != 3) || seg.size() < 6u + 3u * n) return false;
            for (int i = 0; i < n; ++i) {
                Component c;
                c.id = seg[6 + 3 * i];
                c.h = seg[7 + 3 * i] >> 4;
                c.v = seg[7 + 3 * i] & 15;
                c.quant = seg[8 + 3 * i];
                if (c.h < 1 || c.h > 2 || c.v < 1 || c.v > 2 || c.quant > 3) return false;
                f.comps.push_back(c);
            }
            if (!prepare(f)) return false;
        } else if (is_jpeg_frame_marker(marker)) {
            return false;  // the other kind, lossless, arithmetic, hierarchical: the full decoder's
        } else if (marker == 0xC4) {
            for (size_t at = 0; at < seg.size();) {
                if (at + 17 > seg.size()) return false;
                const int cls = seg[at] >> 4, id = seg[at] & 15;
                int total = 0;
                for (int i = 0; i < 16; ++i) total += seg[at + 1 + i];
                if (cls > 1 || id > 3 || at + 17 + total > seg.size()) return false;
                Huffman& table = cls == 0 ? f.dc_tables[id] : f.ac_tables[id];
                if (!build(table, &seg[at + 1], seg.subspan(at + 17, static_cast<size_t>(total)))) return false;
                at += 17 + static_cast<size_t>(total);
            }
        } else if (marker == 0xDB) {
            for (size_t at = 0; at < seg.size();) {
                const int precision = seg[at] >> 4, id = seg[at] & 15;
                const size_t size = precision ? 128 : 64;
                if (id > 3 || precision > 1 || at + 1 + size > seg.size()) return false;
                f.dc_quant[id] = precision ? be16(seg, at + 1) : seg[at + 1];  // the first entry is the DC one
                f.quant_defined[id] = true;
                at += 1 + size;
            }
        } else if (marker == 0xDD) {
            if (seg.size() < 2) return false;
            f.restart_interval = be16(seg, 0);
        } else if (marker == 0xEE) {
            // Adobe's segment: transform 0 means the components are RGB, not YCbCr.
            if (seg.size() >= 12 && seg[0] == 'A' && seg[1] == 'd' && seg[11] == 0 && f.comps.size() != 1)
                f.adobe_rgb = true;
        } else if (marker == 0xDA) {
            if (f.comps.empty() || seg.empty() || f.adobe_rgb) return false;
            const size_t n = seg[0];
            if (n == 0 || n > f.comps.size() || seg.size() < 4u + 2u * n) return false;
            scan.comps.clear();
            for (size_t i = 0; i < n; ++i) {
                auto c = std::find_if(f.comps.begin(), f.comps.end(),
                                      [&](const Component& x) { return x.id == seg[1 + 2 * i]; });
                if (c == f.comps.end() || std::find(scan.comps.begin(), scan.comps.end(), &*c) != scan.comps.end())
                    return false;
                c->dc_table = seg[2 + 2 * i] >> 4;
                c->ac_table = seg[2 + 2 * i] & 15;
                if (c->dc_table > 3 || c->ac_table > 3 || !f.quant_defined[c->quant]) return false;
                scan.comps.push_back(&*c);
            }
            scan.ss = seg[1 + 2 * n];
            scan.se = seg[2 + 2 * n];
            scan.ah = seg[3 + 2 * n] >> 4;
            scan.al = seg[3 + 2 * n] & 15;
            scan.data = pos;
            return true;
        }
    }
    return false;
}

// Calls on_block(component, block x, block y) for every block of the scan in
// its order, restarting where the file says; false when the data is damaged.
template <class OnBlock>
bool each_block(const Frame& f, const Scan& scan, BitReader& bits, OnBlock&& on_block) {
    const bool interleaved = scan.comps.size() > 1;
    const int wide = interleaved ? f.mcu_wide : scan.comps[0]->scan_wide;
    const int high = interleaved ? f.mcu_high : scan.comps[0]->scan_high;
    const int units = wide * high;
    for (int m = 0; m < units; ++m) {
        if (f.restart_interval && m > 0 && m % f.restart_interval == 0) {
            if (!bits.restart()) return false;
            for (Component* c : scan.comps) c->predictor = 0;
        }
        const int mx = m % wide, my = m / wide;
        for (Component* c : scan.comps) {
            const int h = interleaved ? c->h : 1, v = interleaved ? c->v : 1;
            for (int by = 0; by < v; ++by)
                for (int bx = 0; bx < h; ++bx)
                    if (!on_block(*c, mx * h + bx, my * v + by)) return false;
        }
        if (bits.overrun()) return false;  // the data ended long before the picture
    }
    return true;
}

// The next DC difference of a block, added to its component's predictor.
inline bool read_dc(const Frame& f, Component& c, BitReader& bits) {
    int diff = 0;
    if (bits.dc_difference(f.dc_tables[c.dc_table], diff) < 0) return false;
    // Kept within what 8-bit samples can give, so damaged data cannot
    // overflow the sum.
    c.predictor = std::clamp(c.predictor + diff, -32768, 32767);
    return true;
}

int16_t& dc_at(Component& c, int bx, int by) { return c.dc[size_t(by) * c.blocks_wide + size_t(bx)]; }

// Block means from the DC coefficients, turned into preview pixels.
JpegPreview make_preview(const Frame& f) {
    JpegPreview p;
    p.width = f.width;
    p.height = f.height;
    p.components = static_cast<int>(f.comps.size());
    p.preview_width = (f.width + 7) / 8;
    p.preview_height = (f.height + 7) / 8;
    p.bgr.resize(size_t(p.preview_width) * p.preview_height * 3);
    // Which block of each component a preview column lies in (x*h/hmax),
    // worked out once rather than divided out per pixel.
    const size_t n = f.comps.size();
    std::vector<int> columns[3];
    for (size_t i = 0; i < n; ++i) {
        columns[i].resize(size_t(p.preview_width));
        for (int x = 0; x < p.preview_width; ++x) columns[i][size_t(x)] = x * f.comps[i].h / f.hmax;
    }
    auto level = [&](const Component& c, int dc) {
        // The DC coefficient is eight times the block's mean.
        const int64_t value = int64_t{dc} * f.dc_quant[c.quant];
        return std::clamp<int64_t>((value + (value >= 0 ? 4 : -4)) / 8, -2048, 2047) + 128.0f;
    };
    // Rounds half up; below zero everything clamps to 0 anyway.
    auto byte = [](float v) { return static_cast<uint8_t>(std::clamp(static_cast<int>(v + 0.5f), 0, 255)); };
    for (int y = 0; y < p.preview_height; ++y) {
        // Preview pixel (x, y) lies in this component's block (x*h/hmax, y*v/vmax).
        const int16_t* rows[3] = {};
        for (size_t i = 0; i < n; ++i)
            rows[i] = &f.comps[i].dc[size_t(y * f.comps[i].v / f.vmax) * f.comps[i].blocks_wide];
        uint8_t* out = &p.bgr[size_t(y) * p.preview_width * 3];
        for (int x = 0; x < p.preview_width; ++x, out += 3) {
            const float luma = level(f.comps[0], rows[0][columns[0][size_t(x)]]);
            if (n == 1) {
                out[0] = out[1] = out[2] = byte(luma);
                continue;
            }
            const float cb = level(f.comps[1], rows[1][columns[1][size_t(x)]]) - 128.0f;
            const float cr = level(f.comps[2], rows[2][columns[2][size_t(x)]]) - 128.0f;
            out[0] = byte(luma + 1.772f * cb);
            out[1] = byte(luma - 0.344136f * cb - 0.714136f * cr);
            out[2] = byte(luma + 1.402f * cr);
        }
    }
    return p;
}

}  // namespace

std::optional<JpegPreview> read_jpeg_preview(Bytes file) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return std::nullopt;
    Frame f;
    Scan scan;
    size_t pos = 2;
    if (!next_scan(file, pos, f, false, scan)) return std::nullopt;
    // One interleaved scan of every component, with all 64 coefficients.
    if (scan.comps.size() != f.comps.size() || scan.ss != 0 || scan.se != 63 || scan.ah != 0 || scan.al != 0)
        return std::nullopt;
    for (const Component* c : scan.comps)
        if (!f.dc_tables[c->dc_table].defined || !f.ac_tables[c->ac_table].defined) return std::nullopt;
    BitReader bits(file, scan.data);
    const bool read = each_block(f, scan, bits, [&](Component& c, int bx, int by) {
        if (!read_dc(f, c, bits)) return false;
        dc_at(c, bx, by) = static_cast<int16_t>(c.predictor);
        // Every AC symbol still has to be decoded to find the next block.
        return skip_ac(f.ac_tables[c.ac_table], bits);
    });
    if (!read) return std::nullopt;
    return make_preview(f);
}

std::optional<JpegPreview> read_progressive_jpeg_preview(Bytes file) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return std::nullopt;
    Frame f;
    Scan scan;
    size_t pos = 2;
    // The DC scans come first in practice, but any order is followed: AC
    // scans are passed over unread, up to the marker after their data.
    while (next_scan(file, pos, f, true, scan)) {
        BitReader bits(file, scan.data);
        if (scan.ss == 0) {
            if (scan.se != 0 || scan.al > 13) return std::nullopt;  // DC scans hold nothing else
            for (Component* c : scan.comps) {
                c->predictor = 0;
                // A first scan, or one more bit below what the last one read.
                if (scan.ah == 0 ? c->dc_low_bit != -1 : c->dc_low_bit != scan.ah || scan.al != scan.ah - 1)
                    return std::nullopt;
                if (scan.ah == 0 && !f.dc_tables[c->dc_table].defined) return std::nullopt;
            }
            const bool read = each_block(f, scan, bits, [&](Component& c, int bx, int by) {
                if (scan.ah == 0) {
                    if (!read_dc(f, c, bits)) return false;
                    dc_at(c, bx, by) = static_cast<int16_t>(std::clamp(c.predictor * (1 << scan.al), -32768, 32767));
                } else {
                    bits.refill();
                    if (bits.get(1)) dc_at(c, bx, by) = static_cast<int16_t>(dc_at(c, bx, by) | (1 << scan.al));
                }
                return true;
            });
            if (!read) return std::nullopt;
            for (Component* c : scan.comps) c->dc_low_bit = scan.al;
        }
        pos = bits.end_of_scan();
        // Once every component's DC is whole, the AC scans that remain are
        // of no use to a preview.
        if (std::all_of(f.comps.begin(), f.comps.end(), [](const Component& c) { return c.dc_low_bit == 0; })) break;
    }
    if (f.comps.empty() ||
        std::any_of(f.comps.begin(), f.comps.end(), [](const Component& c) { return c.dc_low_bit < 0; }))
        return std::nullopt;
    return make_preview(f);
}

}  // namespace kestle::image
