// Our own baseline JPEG encoder (ITU T.81 sequential DCT, Huffman tables of
// its Annex K, JFIF 1.01 header, 4:2:0 chroma). The platform's encoder is not
// used for writing because some platforms ignore the quality asked of it,
// and a page's quality setting must mean the same thing everywhere.
#pragma once

#include <cstdint>
#include <vector>

namespace kestle::image {

// Encodes 24-bit pixels (blue, green, red; rows without padding) at quality
// 1 (smallest) to 100 (best), with the quantisation tables of T.81 Annex K
// scaled the customary way (50 gives the tables as printed). Quality outside
// 1..100 is clamped. Width and height must be 1 to 65535.
std::vector<uint8_t> encode_baseline_jpeg(const uint8_t* bgr, int width, int height, int quality);

}  // namespace kestle::image
