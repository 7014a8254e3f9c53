// JPEG preview reader: a preview only for a picture size we accept, of
// exactly an eighth of that size (rounded up), with 3 bytes per pixel, and
// for the size the header probe reads from the same file.
#include <span>

#include "check.h"
#include "kestle/image/jpeg_preview.h"
#include "kestle/image/picture_format.h"

using namespace kestle::image;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    const auto preview = read_jpeg_preview(file);
    if (!preview) return 0;
    FUZZ_CHECK(size_allowed(preview->width, preview->height));
    FUZZ_CHECK(preview->components == 1 || preview->components == 3);
    FUZZ_CHECK(preview->preview_width == (preview->width + 7) / 8);
    FUZZ_CHECK(preview->preview_height == (preview->height + 7) / 8);
    FUZZ_CHECK(preview->bgr.size() == size_t(preview->preview_width) * preview->preview_height * 3);
    const auto claimed = probe_size(file);
    FUZZ_CHECK(claimed && int64_t(claimed->width) == preview->width && int64_t(claimed->height) == preview->height);
    return 0;
}
