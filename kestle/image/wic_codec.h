// Decoding picture files through the Windows Imaging Component. Only its
// decoders are used: the pixels always end up in our own 24-bit block, and
// scaling and JPEG writing are ours (its scaler and its JPEG encoder's
// quality setting do not behave the same on every platform).
//
// COM must be initialised on the calling thread (a page's thread always is).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kestle/image/pixel_block.h"

namespace kestle::image {

struct DecodedPicture {
    PixelBlock pixels;
    int bit_count = 0;      // bits per pixel as stored in the file
    int32_t file_size = 0;  // bytes, capped at the largest signed 32-bit number
    int format = 0;         // PictureFormat number guessed from the file's bytes
    // True when the file was read and accepted but its pixels could not be
    // held (no memory): the fields above describe the file, `pixels` is empty.
    bool described = false;
};

// Reads the whole picture (the first frame of a multi-frame file) as 24-bit
// pixels. Transparent pixels are laid over white, as a JPEG made from them
// cannot keep transparency. Returns an ImageStatus.
int32_t decode_picture_file(const std::wstring& path, DecodedPicture& out);

// The same for a file already read into memory.
int32_t decode_picture_bytes(std::span<const uint8_t> file, DecodedPicture& out);

}  // namespace kestle::image
