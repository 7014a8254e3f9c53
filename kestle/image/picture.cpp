#include "kestle/image/picture.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "frame/atomic_file.h"
#include "frame/handles.h"
#include "kestle/image/image_errors.h"
#include "kestle/image/jpeg_encoder.h"
#include "kestle/image/jpeg_preview.h"
#include "kestle/image/orientation.h"
#include "kestle/image/picture_format.h"
#include "kestle/image/png_reader.h"
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

// Turns a block stored as `orientation` says upright; the block itself when
// it already is. An empty block when memory runs out.
PixelBlock upright(PixelBlock stored, int orientation) {
    if (orientation == 1 || !stored) return stored;
    const bool swap = swaps_sides(orientation);
    PixelBlock turned =
        PixelBlock::allocate(swap ? stored.height() : stored.width(), swap ? stored.width() : stored.height());
    if (turned) orient_rgb24(stored.data(), stored.width(), stored.height(), orientation, turned.data());
    return turned;
}

bool is_png(const std::vector<uint8_t>& bytes) { return bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P'; }

}  // namespace

void Picture::drop_sources() noexcept {
    pixels_.reset();
    decoded_ = DecodedFrame();
    preview_.reset();
    png_.reset();
    file_.reset();
    orientation_ = 1;
}

void Picture::take(DecodedPicture&& decoded, int orientation) {
    drop_sources();
    file_type_ = std::string(format_name(decoded.format));
    file_size_ = decoded.file_size;
    bit_count_ = decoded.bit_count;
    decoded_ = std::move(decoded.frame);
    orientation_ = orientation;
    width_ = swaps_sides(orientation) ? decoded_.height() : decoded_.width();
    height_ = swaps_sides(orientation) ? decoded_.width() : decoded_.height();
}

int32_t Picture::load(const std::wstring& path) {
    // The file is read whole and closed at once; on any failure the
    // previous picture stays.
    FileBytes file;
    if (const int32_t status = read_picture_file(path, file); status != image_ok) return status;
    const std::vector<uint8_t>& bytes = *file;
    const int32_t file_size = static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX));
    int orientation = 1;
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        if (const auto claimed = probe_size(bytes); claimed && !size_allowed(claimed->width, claimed->height))
            return image_too_large;
        orientation = exif_orientation(bytes);
        std::optional<JpegPreview> preview = read_jpeg_preview(bytes);
        if (!preview) preview = read_progressive_jpeg_preview(bytes);
        if (preview) {
            drop_sources();
            file_type_ = std::string(format_name(format_jpg));
            file_size_ = file_size;
            bit_count_ = 8 * preview->components;
            orientation_ = orientation;
            width_ = swaps_sides(orientation) ? preview->height : preview->width;
            height_ = swaps_sides(orientation) ? preview->width : preview->height;
            preview_ = std::move(preview);
            file_ = std::move(file);
            return image_ok;
        }
        // Arithmetic, 12-bit, CMYK, damaged or otherwise beyond the
        // preview: the full decoder reads it like any other picture.
    } else if (is_png(bytes)) {
        PngLayout layout;
        switch (check_png(bytes, layout)) {
            case PngCheck::sound:
                drop_sources();
                file_type_ = std::string(format_name(format_png));
                file_size_ = file_size;
                bit_count_ = layout.bit_count();
                width_ = static_cast<int>(layout.width);
                height_ = static_cast<int>(layout.height);
                png_ = std::move(layout);  // its spans point into the file's bytes, which stay put
                file_ = std::move(file);
                return image_ok;
            case PngCheck::damaged: return image_corrupt;  // whichever decoder would read it
            case PngCheck::too_large: return image_too_large;
            default: break;  // a layout our reader does not know: the platform's decoder may
        }
    }
    DecodedPicture decoded;
    const int32_t status = decode_picture_bytes(file, decoded);
    if (status == image_ok) take(std::move(decoded), orientation);
    return status;
}

// A picture held as a JPEG preview gets its decoder now; the preview goes.
int32_t Picture::ensure_decoded() {
    if (pixels_ || decoded_ || png_) return image_ok;
    if (!preview_) return image_no_picture;
    DecodedPicture decoded;
    const int32_t status = decode_picture_bytes(file_, decoded);
    if (status != image_ok) return status;  // the preview stays usable
    decoded_ = std::move(decoded.frame);
    preview_.reset();
    file_.reset();
    return image_ok;
}

template <class Use>
int32_t Picture::with_rows(Use&& use) {
    try {
        if (png_) {
            PngRows rows(*png_);
            use(SourceRows([&](int y) { return rows.row(y); }));
        } else {
            BandReader rows(decoded_);
            use(SourceRows([&](int y) { return rows.row(y); }));
        }
    } catch (const std::bad_alloc&) {
        return image_out_of_memory;
    } catch (const BandReader::DecodeFailed&) {
        return image_corrupt;
    } catch (const PngDamaged&) {
        return image_corrupt;
    }
    return image_ok;
}

int32_t Picture::ensure_pixels() {
    if (pixels_) return image_ok;
    if (const int32_t status = ensure_decoded(); status != image_ok) return status;
    const int w = stored_width(), h = stored_height();
    PixelBlock block = PixelBlock::allocate(w, h);
    if (!block) return image_out_of_memory;
    if (png_) {
        const int32_t status = with_rows([&](const SourceRows& rows) {
            for (int y = 0; y < h; ++y) std::memcpy(block.data() + block.stride() * size_t(y), rows(y), block.stride());
        });
        if (status != image_ok) return status;
    } else {
        const HRESULT hr = decoded_.read_rows(0, h, block.data());
        if (FAILED(hr)) return hr == E_OUTOFMEMORY ? image_out_of_memory : image_corrupt;
    }
    block = upright(std::move(block), orientation_);
    if (!block) return image_out_of_memory;
    drop_sources();
    pixels_ = std::move(block);
    return image_ok;
}

int32_t Picture::iconize(int width, int height) {
    if (!has_picture() || !size_allowed(width > 0 ? width : 0, height > 0 ? height : 0)) return image_no_picture;
    // Scaled as stored, then turned: scaling and turning commute.
    const bool swap = swaps_sides(orientation_);
    const int tw = swap ? height : width, th = swap ? width : height;
    // From the preview when the thumbnail is a quarter of the picture's
    // size or smaller: each target pixel then covers at least half a block
    // each way, and the box filter averages the block means over exactly
    // the area the pixel covers.
    const bool from_preview = preview_ && tw * 4 <= preview_->width && th * 4 <= preview_->height;
    if (!from_preview) {
        const int32_t status = ensure_decoded();
        if (status != image_ok) return status;
    }
    PixelBlock scaled = PixelBlock::allocate(tw, th);
    if (!scaled) return image_no_picture;
    int32_t status = image_ok;
    try {
        if (from_preview) {
            scale_rgb24_extent(preview_->bgr.data(), preview_->preview_width, preview_->preview_height,
                               preview_->width / 8.0, preview_->height / 8.0, scaled.data(), tw, th);
        } else if (pixels_) {
            scale_rgb24(pixels_.data(), pixels_.width(), pixels_.height(), scaled.data(), tw, th);
        } else {
            status = with_rows([&](const SourceRows& rows) {
                scale_rgb24_rows(rows, stored_width(), stored_height(), scaled.data(), tw, th);
            });
        }
    } catch (const std::bad_alloc&) {
        status = image_out_of_memory;
    }
    // As for the block itself: no memory, nothing changes.
    if (status == image_out_of_memory) return image_no_picture;
    if (status != image_ok) return status;
    scaled = upright(std::move(scaled), orientation_);
    if (!scaled) return image_no_picture;
    drop_sources();
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
