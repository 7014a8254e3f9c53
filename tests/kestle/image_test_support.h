// What the picture tests share: pictures made here (random photos, a
// hand-written BMP and PNG header, files through the platform's encoders),
// the test folder, and a straightforward reference scaler to hold ours to.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>
#include <wincodec.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "frame/handles.h"
#include "kestle/image/image_errors.h"
#include "kestle/image/jpeg_encoder.h"
#include "kestle/image/jpeg_preview.h"
#include "kestle/image/picture.h"
#include "kestle/image/orientation.h"
#include "kestle/image/picture_format.h"
#include "kestle/image/png_reader.h"
#include "kestle/image/scaler.h"
#include "kestle/kestle_idl.h"
#include "support/com_test.h"

namespace kestle_image_test {

using Bytes = std::vector<uint8_t>;

struct Rgb {
    int w = 0, h = 0;
    Bytes px;  // blue, green, red; rows without padding
    uint8_t* at(int x, int y) { return &px[(size_t(y) * w + x) * 3]; }
};

Rgb random_picture(int w, int h, unsigned seed);

void put_le16(Bytes& b, uint16_t v);
void put_le32(Bytes& b, uint32_t v);
void put_be32(Bytes& b, uint32_t v);

// A bottom-up 8-bit BMP with a 256-colour palette, written by hand.
Bytes bmp8(int w, int h, const std::vector<uint32_t>& palette, const Bytes& index);

uint32_t crc32(const uint8_t* p, size_t n);

// A PNG signature and IHDR claiming this size, then a few bytes of IDAT.
Bytes png_header(uint32_t w, uint32_t h);

frame::com_ptr<IWICImagingFactory> factory();

// Encodes pixels with the platform's encoder for `container`. `bpp` is the
// bytes per pixel of `pixels` in `format`; indexed formats take `palette`.
Bytes encode(const GUID& container, const GUID& format, int w, int h, int bpp, const Bytes& pixels,
             const std::vector<uint32_t>& palette = {});

std::wstring test_folder();
std::wstring write_file(const std::wstring& name, const Bytes& data);
Bytes read_file(const std::wstring& path);
bool exists(const std::wstring& path);

// Each target pixel straight from the definitions: area coverage when
// shrinking, linear between centres when growing.
Rgb reference_scale(const Rgb& in, int dw, int dh);
Rgb ours(const Rgb& in, int dw, int dh);

double psnr(const Bytes& a, const Bytes& b);
int max_difference(const Bytes& a, const Bytes& b);
Rgb pixels_of(const kestle::image::Picture& p);

class PictureFiles : public ::testing::Test {
  protected:
    qk_test::ComScope com;
};

}  // namespace kestle_image_test
