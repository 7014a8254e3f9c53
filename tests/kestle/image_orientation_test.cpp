// Phone photos: the EXIF orientation turns the picture upright.
#include "image_test_support.h"

using namespace kestle::image;
using namespace kestle_image_test;
using namespace qk_test;
using frame::com_ptr;

// ---- phone photos: the EXIF orientation --------------------------------------

namespace {

// The JPEG with an APP1 EXIF segment after SOI whose IFD0 holds a camera
// make and the orientation, in either byte order.
Bytes with_exif(const Bytes& jpeg, int orientation, bool big_endian) {
    Bytes tiff = big_endian ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 8} : Bytes{'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](uint16_t v) {
        tiff.push_back(static_cast<uint8_t>(big_endian ? v >> 8 : v));
        tiff.push_back(static_cast<uint8_t>(big_endian ? v : v >> 8));
    };
    auto u32 = [&](uint32_t v) { big_endian ? (u16(uint16_t(v >> 16)), u16(uint16_t(v))) : (u16(uint16_t(v)), u16(uint16_t(v >> 16))); };
    u16(2);
    u16(0x010F), u16(2), u32(4), tiff.insert(tiff.end(), {'P', 'h', 'o', 0});  // Make, ASCII, held inline
    u16(0x0112), u16(3), u32(1), u16(static_cast<uint16_t>(orientation)), u16(0);
    u32(0);
    Bytes app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    app1[2] = static_cast<uint8_t>((app1.size() - 2) >> 8);
    app1[3] = static_cast<uint8_t>(app1.size() - 2);
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Rgb transposed(const Rgb& in) {
    Rgb out{in.h, in.w, Bytes(in.px.size())};
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) std::memcpy(out.at(x, y), &in.px[(size_t(x) * in.w + y) * 3], 3);
    return out;
}
Rgb flipped(const Rgb& in, bool across, bool down) {
    Rgb out{in.w, in.h, Bytes(in.px.size())};
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x)
            std::memcpy(out.at(x, y), &in.px[(size_t(down ? in.h - 1 - y : y) * in.w + (across ? in.w - 1 - x : x)) * 3], 3);
    return out;
}
// As TIFF 6.0 describes the eight: mirrored, turned half, mirrored down,
// transposed, turned right, transverse, turned left.
Rgb as_seen(const Rgb& stored, int orientation) {
    switch (orientation) {
        case 2: return flipped(stored, true, false);
        case 3: return flipped(stored, true, true);
        case 4: return flipped(stored, false, true);
        case 5: return transposed(stored);
        case 6: return flipped(transposed(stored), true, false);
        case 7: return flipped(transposed(stored), true, true);
        case 8: return flipped(transposed(stored), false, true);
        default: return stored;
    }
}

}  // namespace

TEST_F(PictureFiles, PhonePhotosAreTurnedUpright) {
    const Rgb photo = random_picture(48, 32, 61);
    const Bytes plain = encode_baseline_jpeg(photo.px.data(), 48, 32, 95);
    Picture stored, stored_thumb;
    ASSERT_EQ(image_ok, stored.load(write_file(L"stored.jpg", plain)));
    ASSERT_EQ(image_ok, stored.ensure_pixels());
    ASSERT_EQ(image_ok, stored_thumb.load(write_file(L"stored.jpg", plain)));
    ASSERT_EQ(image_ok, stored_thumb.iconize(12, 8));  // from the preview
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE("orientation " + std::to_string(o));
        const Bytes file = with_exif(plain, o, o % 2 == 0);
        EXPECT_EQ(o, exif_orientation(file));
        const bool turned = o >= 5;
        Picture p, thumb;
        ASSERT_EQ(image_ok, p.load(write_file(L"phone.jpg", file)));
        EXPECT_EQ(turned ? 32 : 48, p.width());
        EXPECT_EQ(turned ? 48 : 32, p.height());
        ASSERT_EQ(image_ok, p.ensure_pixels());
        EXPECT_EQ(as_seen(pixels_of(stored), o).px, pixels_of(p).px);
        ASSERT_EQ(image_ok, thumb.load(write_file(L"phone.jpg", file)));
        ASSERT_EQ(image_ok, thumb.iconize(turned ? 8 : 12, turned ? 12 : 8));
        EXPECT_EQ(as_seen(pixels_of(stored_thumb), o).px, pixels_of(thumb).px);
        // A thumbnail of a size the preview cannot give is turned the same way.
        ASSERT_EQ(image_ok, thumb.load(write_file(L"phone.jpg", file)));
        ASSERT_EQ(image_ok, thumb.iconize(turned ? 30 : 40, turned ? 40 : 30));
        EXPECT_LE(max_difference(reference_scale(as_seen(pixels_of(stored), o), turned ? 30 : 40, turned ? 40 : 30).px,
                                 pixels_of(thumb).px),
                  1);
    }
    // EXIF that cannot be read within its segment leaves the photo as stored.
    const Bytes good = with_exif(plain, 6, false);
    const size_t tiff = 2 + 10;
    auto damaged = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    for (const Bytes& b : {damaged(tiff + 4, 0xF0),  // IFD0 past the segment
                           damaged(tiff + 8, 0x40),  // more entries than the segment holds
                           damaged(tiff + 10 + 12 + 2, 4),  // the orientation's type is not SHORT
                           damaged(tiff + 10 + 12 + 8, 9),  // a value outside 1..8
                           damaged(5, 0x20)}) {             // the segment's length
        EXPECT_EQ(1, exif_orientation(b));
        Picture p;
        if (p.load(write_file(L"bad_exif.jpg", b)) == image_ok) {
            EXPECT_EQ(48, p.width());
        }
    }
    for (size_t n = 0; n < 60; ++n) EXPECT_GE(exif_orientation(std::span(good).first(n)), 1);
    // A marker that stands alone (RST0, TEM) before the EXIF has no length
    // field: reading one there would jump past the EXIF.
    for (const uint8_t standalone : {uint8_t{0xD0}, uint8_t{0x01}}) {
        Bytes b = good;
        b.insert(b.begin() + 2, {0xFF, standalone});
        EXPECT_EQ(6, exif_orientation(b));
    }
}
