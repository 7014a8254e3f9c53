#include "kestle/image/picture.h"

#include <new>
#include <vector>

#include "kestle/image/image_errors.h"
#include "kestle/image/picture_format.h"
#include "kestle/image/scaler.h"
#include "kestle/image/wic_codec.h"

namespace kestle::image {

int32_t Picture::load(const std::wstring& path) {
    DecodedPicture decoded;
    const int32_t status = decode_picture_file(path, decoded);
    if (status != image_ok && !decoded.described) return status;  // the previous picture stays
    // From here on the file was read and described: it replaces what the
    // object knew, even when its pixels could not be held.
    file_type_ = std::string(format_name(decoded.format));
    file_size_ = decoded.file_size;
    bit_count_ = decoded.bit_count;
    pixels_ = std::move(decoded.pixels);
    width_ = pixels_.width();
    height_ = pixels_.height();
    return status;
}

int32_t Picture::iconize(int width, int height) {
    if (!pixels_ || !size_allowed(width > 0 ? width : 0, height > 0 ? height : 0)) return image_no_picture;
    PixelBlock scaled = PixelBlock::allocate(width, height);
    if (!scaled) return image_no_picture;
    try {
        scale_rgb24(pixels_.data(), pixels_.width(), pixels_.height(), scaled.data(), width, height);
    } catch (const std::bad_alloc&) {
        return image_no_picture;  // as for the block itself: no memory, nothing changes
    }
    pixels_ = std::move(scaled);
    width_ = width;
    height_ = height;
    return image_ok;
}

int32_t Picture::save_jpeg(const std::wstring& path, int quality) {
    if (!pixels_) return image_no_picture;  // and nothing is written
    std::vector<uint8_t> jpeg;
    const int32_t encoded = encode_jpeg(pixels_, quality, jpeg);
    if (encoded != image_ok) {
        file_size_ = 0;  // nothing was written
        return encoded;
    }
    // A destination that cannot be created changes nothing.
    const int32_t written = write_picture_file(path, jpeg);
    if (written == image_ok) file_size_ = static_cast<int32_t>(jpeg.size());
    return written;
}

}  // namespace kestle::image
