// PNG reader: a file it finds sound has a size the limits allow and the
// header size check agrees with, chunk data inside the file and a bit count
// its colour type can have; its rows, asked for in order, are whole (every
// byte of every row readable) or the data is reported damaged. The input's
// chunk CRCs are made right first, or nearly every mutation would stop at
// the CRC check (which the CRC-less copy of a file still reaches).
#include <zlib.h>

#include <span>
#include <vector>

#include "check.h"
#include "kestle/image/picture_format.h"
#include "kestle/image/png_reader.h"

using namespace kestle::image;

namespace {

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void fix_crcs(std::vector<uint8_t>& png) {
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint64_t length = be32(&png[at]);
        if (at + 12 + length > png.size()) return;
        const uint32_t crc = static_cast<uint32_t>(::crc32(0, &png[at + 4], static_cast<uInt>(length + 4)));
        for (int i = 0; i < 4; ++i) png[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    std::vector<uint8_t> fixed(input, input + size);
    if (size > 0 && (input[size - 1] & 1)) fix_crcs(fixed);  // half the inputs keep their CRCs as they are
    const uint8_t* data = fixed.data();
    const std::span<const uint8_t> file(data, size);
    PngLayout layout;
    if (check_png(file, layout) != PngCheck::sound) return 0;
    FUZZ_CHECK(size_allowed(layout.width, layout.height));
    const auto claimed = probe_size(file);
    FUZZ_CHECK(claimed && claimed->width == layout.width && claimed->height == layout.height);
    FUZZ_CHECK(layout.channels() >= 1 && layout.channels() <= 4 && layout.bit_count() >= 1 && layout.bit_count() <= 64);
    for (std::span<const uint8_t> chunk : layout.data)
        FUZZ_CHECK(chunk.empty() || (chunk.data() >= data && chunk.data() + chunk.size() <= data + size));
    try {
        PngRows rows(layout);
        unsigned sum = 0;
        for (uint32_t y = 0; y < layout.height; ++y) {
            const uint8_t* row = rows.row(static_cast<int>(y));
            FUZZ_CHECK(row != nullptr);
            for (size_t i = 0; i < size_t(layout.width) * 3; ++i) sum += row[i];  // every byte readable
        }
        (void)sum;
    } catch (const PngDamaged&) {
    }
    return 0;
}
