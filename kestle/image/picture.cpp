#include "kestle/image/picture.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <new>
#include <span>
#include <vector>

#include "frame/atomic_file.h"
#include "frame/handles.h"
#include "kestle/image/image_errors.h"
#include "kestle/image/jpeg_encoder.h"
#include "kestle/image/jpeg_preview.h"
#include "kestle/image/picture_format.h"
#include "kestle/image/scaler.h"
#include "kestle/image/wic_codec.h"

namespace kestle::image {
namespace {

// Replaces the file with exactly these bytes, atomically: a failed or cut
// write leaves the picture that stood there, as a cut JPEG is worse than
// the old one.
int32_t write_whole_file(const std::wstring& path, std::span<const uint8_t> bytes) {
    return frame::write_file_atomically(path, bytes.data(), bytes.size()) ? image_cannot_create : image_ok;
}

// Source rows for the scaler, read from the decoder a band at a time into
// one reused buffer.
class BandReader {
  public:
    explicit BandReader(const DecodedFrame& frame)
        : frame_(frame), stride_(size_t(frame.width()) * 3), band_(stride_ * band_rows) {}
    const uint8_t* row(int y) {
        if (y < first_ || y >= first_ + count_) {
            count_ = std::min(band_rows, frame_.height() - y);
            if (FAILED(frame_.read_rows(y, count_, band_.data()))) throw DecodeFailed();
            first_ = y;
        }
        return band_.data() + stride_ * size_t(y - first_);
    }
    struct DecodeFailed {};

  private:
    static constexpr int band_rows = 64;
    const DecodedFrame& frame_;
    size_t stride_;
    std::vector<uint8_t> band_;
    int first_ = 0;
    int count_ = 0;
};

}  // namespace

void Picture::take(DecodedPicture&& decoded) {
    file_type_ = std::string(format_name(decoded.format));
    file_size_ = decoded.file_size;
    bit_count_ = decoded.bit_count;
    decoded_ = std::move(decoded.frame);
    width_ = decoded_.width();
    height_ = decoded_.height();
    pixels_.reset();
    preview_.reset();
    jpeg_file_.reset();
}

int32_t Picture::load(const std::wstring& path) {
    // The file is read whole and closed at once; on any failure the
    // previous picture stays.
    FileBytes file;
    if (const int32_t status = read_picture_file(path, file); status != image_ok) return status;
    const std::vector<uint8_t>& bytes = *file;
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        if (const auto claimed = probe_size(bytes); claimed && !size_allowed(claimed->width, claimed->height))
            return image_too_large;
        if (std::optional<JpegPreview> preview = read_jpeg_preview(bytes)) {
            file_type_ = std::string(format_name(format_jpg));
            file_size_ = static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX));
            bit_count_ = 8 * preview->components;
            width_ = preview->width;
            height_ = preview->height;
            pixels_.reset();
            decoded_ = DecodedFrame();
            preview_ = std::move(preview);
            jpeg_file_ = std::move(file);
            return image_ok;
        }
        // Progressive, damaged or otherwise beyond the preview: the full
        // decoder reads it like any other picture.
    }
    DecodedPicture decoded;
    const int32_t status = decode_picture_bytes(file, decoded);
    if (status == image_ok) take(std::move(decoded));
    return status;
}

// A picture held as a JPEG preview gets its decoder now; the preview goes.
int32_t Picture::ensure_decoded() {
    if (pixels_ || decoded_) return image_ok;
    if (!preview_) return image_no_picture;
    DecodedPicture decoded;
    const int32_t status = decode_picture_bytes(jpeg_file_, decoded);
    if (status != image_ok) return status;  // the preview stays usable
    decoded_ = std::move(decoded.frame);
    preview_.reset();
    jpeg_file_.reset();
    return image_ok;
}

int32_t Picture::ensure_pixels() {
    if (pixels_) return image_ok;
    if (const int32_t status = ensure_decoded(); status != image_ok) return status;
    PixelBlock block = PixelBlock::allocate(decoded_.width(), decoded_.height());
    if (!block) return image_out_of_memory;
    const HRESULT hr = decoded_.read_rows(0, decoded_.height(), block.data());
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? image_out_of_memory : image_corrupt;
    pixels_ = std::move(block);
    decoded_ = DecodedFrame();
    return image_ok;
}

int32_t Picture::iconize(int width, int height) {
    if (!has_picture() || !size_allowed(width > 0 ? width : 0, height > 0 ? height : 0)) return image_no_picture;
    // From the preview when each target pixel covers at least two of its
    // pixels (16 picture pixels) both ways; its block means then differ from
    // the full picture's area average only at the edges of the blocks.
    const bool from_preview =
        preview_ && width * 2 <= preview_->preview_width && height * 2 <= preview_->preview_height;
    if (!from_preview) {
        const int32_t status = ensure_decoded();
        if (status != image_ok) return status;
    }
    PixelBlock scaled = PixelBlock::allocate(width, height);
    if (!scaled) return image_no_picture;
    try {
        if (from_preview) {
            scale_rgb24_extent(preview_->bgr.data(), preview_->preview_width, preview_->preview_height,
                               preview_->width / 8.0, preview_->height / 8.0, scaled.data(), width, height);
        } else if (pixels_) {
            scale_rgb24(pixels_.data(), pixels_.width(), pixels_.height(), scaled.data(), width, height);
        } else {
            BandReader rows(decoded_);
            scale_rgb24_rows([&](int y) { return rows.row(y); }, decoded_.width(), decoded_.height(), scaled.data(),
                             width, height);
        }
    } catch (const std::bad_alloc&) {
        return image_no_picture;  // as for the block itself: no memory, nothing changes
    } catch (const BandReader::DecodeFailed&) {
        return image_corrupt;
    }
    preview_.reset();
    jpeg_file_.reset();
    decoded_ = DecodedFrame();
    pixels_ = std::move(scaled);
    width_ = width;
    height_ = height;
    return image_ok;
}

int32_t Picture::save_jpeg(const std::wstring& path, int quality) {
    if (!has_picture()) return image_no_picture;  // and nothing is written
    if (const int32_t status = ensure_pixels(); status != image_ok) return status;
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
