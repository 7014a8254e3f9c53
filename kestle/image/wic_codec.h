// Decoding picture files through the Windows Imaging Component. Only its
// decoders are used: the pixels are handed out as our own 24-bit rows, and
// scaling and JPEG writing are ours (its scaler and its JPEG encoder's
// quality setting do not behave the same on every platform).
//
// COM must be initialised on the calling thread (a page's thread always is).
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/handles.h"

namespace kestle::image {

// A picture file read whole: the decoder reads from it for as long as the
// picture is kept, and the file itself is closed at once (a page may delete
// or replace an upload as soon as it has loaded it).
using FileBytes = std::shared_ptr<const std::vector<uint8_t>>;

// Files larger than this are refused (32772) rather than held in memory.
constexpr uint64_t max_picture_file = 1ull << 30;

// Reads the whole file. Returns an ImageStatus.
int32_t read_picture_file(const std::wstring& path, FileBytes& out);

// A decoded picture whose pixels stay with the decoder until they are asked
// for, a band of rows at a time. A thumbnail then never needs a full-size
// copy of the picture: on some platforms merely touching that much fresh
// memory costs more than the scaling.
class DecodedFrame {
  public:
    DecodedFrame() = default;
    explicit operator bool() const noexcept { return static_cast<bool>(source_); }
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    // Copies rows [y, y + rows) as 24-bit pixels (blue, green, red), width()
    // x 3 bytes a row, into `out`. Transparent pixels are laid over white, as
    // a JPEG made from them cannot keep transparency.
    HRESULT read_rows(int y, int rows, uint8_t* out) const;

  private:
    friend struct FrameMaker;
    frame::com_ptr<IWICBitmapSource> source_;
    bool bgra_ = false;  // the source gives 32-bit BGRA to be laid over white
    mutable std::vector<uint8_t> bgra_rows_;  // reused: fresh memory is dear
    FileBytes file_;                          // what the decoder reads from
    int width_ = 0;
    int height_ = 0;
};

struct DecodedPicture {
    DecodedFrame frame;
    int bit_count = 0;      // bits per pixel as stored in the file
    int32_t file_size = 0;  // bytes, capped at the largest signed 32-bit number
    int format = 0;         // PictureFormat number guessed from the file's bytes
};

// Decodes the picture (the first frame of a multi-frame file) and reads
// every row once, so damaged data is found here and not at a later call.
// The frame keeps the bytes alive. Returns an ImageStatus.
int32_t decode_picture_bytes(const FileBytes& file, DecodedPicture& out);

}  // namespace kestle::image
