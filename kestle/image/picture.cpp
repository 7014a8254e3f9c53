#include "kestle/image/picture.h"

#include <windows.h>

#include <new>
#include <span>
#include <vector>

#include "frame/handles.h"
#include "kestle/image/image_errors.h"
#include "kestle/image/jpeg_encoder.h"
#include "kestle/image/picture_format.h"
#include "kestle/image/scaler.h"
#include "kestle/image/wic_codec.h"

namespace kestle::image {
namespace {

// Creates or replaces the file with exactly these bytes; a file that could
// not be written completely is removed, as a cut JPEG is worse than none.
int32_t write_whole_file(const std::wstring& path, std::span<const uint8_t> bytes) {
    bool complete = false;
    {
        frame::unique_file file(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return image_cannot_create;
        DWORD written = 0;
        complete = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                   written == bytes.size();
    }
    if (!complete) {
        ::DeleteFileW(path.c_str());
        return image_cannot_create;
    }
    return image_ok;
}

}  // namespace

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
    try {
        jpeg = encode_baseline_jpeg(pixels_.data(), pixels_.width(), pixels_.height(), quality);
    } catch (const std::bad_alloc&) {
        return image_out_of_memory;
    }
    // A destination that cannot be created changes nothing.
    const int32_t written = write_whole_file(path, jpeg);
    if (written == image_ok) file_size_ = static_cast<int32_t>(jpeg.size());
    return written;
}

}  // namespace kestle::image
