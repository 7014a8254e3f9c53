// Which way up a photo is meant to be seen. Phones store the sensor's rows
// as they come and record the turn in the EXIF orientation tag (APP1
// "Exif", IFD0 tag 0x0112); browsers show the photo turned, so a thumbnail
// must be turned the same way or it lies on its side. Plain C++.
#pragma once

#include <cstdint>
#include <span>

namespace kestle::image {

// The orientation (1 to 8, TIFF 6.0's numbering) a JPEG's EXIF states; 1
// when it states none, states a value outside 1 to 8, or its EXIF cannot be
// read within the segment (the picture is then shown as stored, as browsers
// do).
int exif_orientation(std::span<const uint8_t> jpeg);

// Orientations 5 to 8 turn the picture a quarter: width and height swap.
constexpr bool swaps_sides(int orientation) { return orientation >= 5 && orientation <= 8; }

// Writes the stored picture (width x height, 3 bytes a pixel, rows without
// padding) as it is meant to be seen into `dst`, which holds the same
// number of pixels (its sides swapped for orientations 5 to 8).
void orient_rgb24(const uint8_t* src, int width, int height, int orientation, uint8_t* dst);

}  // namespace kestle::image
