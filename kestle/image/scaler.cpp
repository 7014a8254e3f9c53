#include "kestle/image/scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace kestle::image {
namespace {

// Which source pixels make one target pixel, and with what weight. The taps
// of all target pixels of an axis are stored end to end.
struct AxisTaps {
    std::vector<int> first;    // per target pixel: index of its first tap
    std::vector<int> count;    // per target pixel: number of taps
    std::vector<int> source;   // per tap: source pixel index
    std::vector<float> weight; // per tap: weight; a target pixel's weights add up to 1
};

AxisTaps make_taps(int src, int dst, double extent) {
    AxisTaps t;
    t.first.resize(static_cast<size_t>(dst));
    t.count.resize(static_cast<size_t>(dst));
    auto add = [&](int s, double w) {
        t.source.push_back(s);
        t.weight.push_back(static_cast<float>(w));
    };
    const double scale = extent / dst;
    for (int j = 0; j < dst; ++j) {
        t.first[j] = static_cast<int>(t.source.size());
        if (src == dst && extent == src) {
            add(j, 1.0);
        } else if (dst < extent) {
            // Target pixel j covers the source interval [a, b).
            const double a = j * scale, b = (j + 1) * scale;
            const int lo = static_cast<int>(std::floor(a));
            const int hi = std::min(src, static_cast<int>(std::ceil(b)));
            for (int s = lo; s < hi; ++s) {
                const double covered = std::min<double>(b, s + 1) - std::max<double>(a, s);
                if (covered > 1e-9) add(s, covered / scale);
            }
        } else {
            // Pixel centres line up: target centre j+0.5 sits at source
            // position (j+0.5)*scale, i.e. between two source centres.
            const double pos = std::clamp((j + 0.5) * scale - 0.5, 0.0, static_cast<double>(src - 1));
            const int s0 = static_cast<int>(pos);
            const double frac = pos - s0;
            if (frac > 0 && s0 + 1 < src) {
                add(s0, 1.0 - frac);
                add(s0 + 1, frac);
            } else {
                add(s0, 1.0);
            }
        }
        t.count[j] = static_cast<int>(t.source.size()) - t.first[j];
    }
    return t;
}

// One source row scaled horizontally, kept in floats for the vertical pass.
void scale_row(const uint8_t* row, const AxisTaps& x, float* out, int dw) {
    for (int j = 0; j < dw; ++j) {
        float r0 = 0, r1 = 0, r2 = 0;
        const int end = x.first[j] + x.count[j];
        for (int k = x.first[j]; k < end; ++k) {
            const uint8_t* p = row + static_cast<size_t>(x.source[k]) * 3;
            const float w = x.weight[k];
            r0 += w * p[0];
            r1 += w * p[1];
            r2 += w * p[2];
        }
        out[j * 3] = r0;
        out[j * 3 + 1] = r1;
        out[j * 3 + 2] = r2;
    }
}

uint8_t to_byte(float v) {
    return static_cast<uint8_t>(std::clamp(static_cast<int>(v + 0.5f), 0, 255));
}

template <class Rows>
void scale_with(const Rows& source_row, const AxisTaps& x, const AxisTaps& y, uint8_t* dst, int dw, int dh) {
    const size_t row_len = static_cast<size_t>(dw) * 3;

    // The source rows a target row needs only move forward, and two target
    // rows share at most the rows where one ends and the next begins, so a
    // cache of two horizontally scaled rows means each is computed once.
    std::vector<float> cache(row_len * 2);
    int cached[2] = {-1, -1};
    int next_slot = 0;
    auto scaled_row = [&](int s) -> const float* {
        for (int i = 0; i < 2; ++i) {
            if (cached[i] == s) return cache.data() + row_len * i;
        }
        const int slot = next_slot;
        next_slot ^= 1;
        scale_row(source_row(s), x, cache.data() + row_len * slot, dw);
        cached[slot] = s;
        return cache.data() + row_len * slot;
    };

    std::vector<float> acc(row_len);
    for (int j = 0; j < dh; ++j) {
        std::fill(acc.begin(), acc.end(), 0.0f);
        const int end = y.first[j] + y.count[j];
        for (int k = y.first[j]; k < end; ++k) {
            const float* row = scaled_row(y.source[k]);
            const float w = y.weight[k];
            for (size_t i = 0; i < row_len; ++i) acc[i] += w * row[i];
        }
        uint8_t* out = dst + row_len * static_cast<size_t>(j);
        for (size_t i = 0; i < row_len; ++i) out[i] = to_byte(acc[i]);
    }
}

}  // namespace

void scale_rgb24(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int dh) {
    scale_rgb24_extent(src, sw, sh, sw, sh, dst, dw, dh);
}

void scale_rgb24_extent(const uint8_t* src, int sw, int sh, double extent_w, double extent_h, uint8_t* dst, int dw,
                        int dh) {
    const size_t stride = static_cast<size_t>(sw) * 3;
    scale_with([&](int y) { return src + stride * static_cast<size_t>(y); }, make_taps(sw, dw, extent_w),
               make_taps(sh, dh, extent_h), dst, dw, dh);
}

void scale_rgb24_rows(const SourceRows& row, int sw, int sh, uint8_t* dst, int dw, int dh) {
    scale_with(row, make_taps(sw, dw, sw), make_taps(sh, dh, sh), dst, dw, dh);
}

}  // namespace kestle::image
