// Our own picture scaler for 24-bit pixels (3 bytes a pixel, rows without
// padding). Each axis is scaled on its own: an axis that shrinks averages
// the source area each target pixel covers (box filter, fractional edges
// weighted by how much of them is covered), an axis that grows interpolates
// linearly between the two nearest source pixel centres, and an axis that
// keeps its size is copied.
#pragma once

#include <cstdint>
#include <functional>

namespace kestle::image {

// Scales src (sw x sh) into dst (dw x dh); every size must be at least 1.
// Throws std::bad_alloc when its working rows cannot be allocated.
void scale_rgb24(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int dh);

// The same for a source whose last column and row stand for less than a
// whole pixel: the picture spans extent_w x extent_h source pixels
// (sw - 1 < extent_w <= sw, likewise for the height), as a preview made of
// 8x8 block means spans width/8 of them. Only for shrinking both ways
// (dw < extent_w, dh < extent_h).
void scale_rgb24_extent(const uint8_t* src, int sw, int sh, double extent_w, double extent_h, uint8_t* dst, int dw,
                        int dh);

// The same with the source rows handed out one at a time: `row(y)` gives
// row y (sw x 3 bytes), asked for in increasing order, each row once; the
// pointer must stay valid until the next call.
using SourceRows = std::function<const uint8_t*(int y)>;
void scale_rgb24_rows(const SourceRows& row, int sw, int sh, uint8_t* dst, int dw, int dh);

}  // namespace kestle::image
