// EXIF orientation: whatever a JPEG's APP1 holds, the orientation read is
// one of TIFF's eight; and turning a picture by any of them moves every
// pixel to exactly one place (nothing lost, nothing doubled, nothing written
// outside the target).
#include <algorithm>
#include <span>
#include <vector>

#include "check.h"
#include "kestle/image/orientation.h"

using namespace kestle::image;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int orientation = exif_orientation(std::span<const uint8_t>(data, size));
    FUZZ_CHECK(orientation >= 1 && orientation <= 8);
    if (size < 2) return 0;
    const int width = 1 + data[0] % 9, height = 1 + data[1] % 9;
    const size_t pixels = size_t(width) * height;
    std::vector<uint8_t> src(pixels * 3);
    for (size_t p = 0; p < pixels; ++p) {  // each pixel names itself
        src[p * 3] = static_cast<uint8_t>(p);
        src[p * 3 + 1] = static_cast<uint8_t>(p >> 8);
        src[p * 3 + 2] = 0x5A;
    }
    for (int o = 1; o <= 8; ++o) {
        std::vector<uint8_t> dst(pixels * 3, 0);
        orient_rgb24(src.data(), width, height, o, dst.data());
        std::vector<bool> seen(pixels, false);
        for (size_t p = 0; p < pixels; ++p) {
            const size_t from = dst[p * 3] | size_t(dst[p * 3 + 1]) << 8;
            FUZZ_CHECK(dst[p * 3 + 2] == 0x5A && from < pixels && !seen[from]);
            seen[from] = true;
        }
        if (o == 1) FUZZ_CHECK(dst == src);
    }
    return 0;
}
