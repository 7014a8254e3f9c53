// Decoding every format from pictures made here, damaged and hostile files,
// files held or replaced by other pages, and the sizes Iconize refuses.
#include "image_test_support.h"

using namespace kestle::image;
using namespace kestle_image_test;
using namespace qk_test;
using frame::com_ptr;

// ---- decoding, scaling and saving real files -----------------------------

TEST_F(PictureFiles, EveryDecodableFormatPixelByPixel) {
    const int w = 45, h = 31;
    const Rgb rgb = random_picture(w, h, 5);
    std::vector<uint32_t> palette(256);
    Bytes index(size_t(w) * h);
    std::mt19937 rng(11);
    for (auto& c : palette) c = rng() & 0xFFFFFF;
    for (auto& i : index) i = static_cast<uint8_t>(rng());
    Rgb from_palette{w, h, Bytes(size_t(w) * h * 3)};
    for (size_t i = 0; i < index.size(); ++i)
        for (int c = 0; c < 3; ++c) from_palette.px[i * 3 + c] = static_cast<uint8_t>(palette[index[i]] >> (8 * c));
    // Alpha: opaque, transparent (white comes through) and half.
    Bytes bgra(size_t(w) * h * 4);
    Rgb over_white{w, h, Bytes(size_t(w) * h * 3)};
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        const uint8_t a = i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : 128;
        bgra[i * 4 + 3] = a;
        for (int c = 0; c < 3; ++c) {
            bgra[i * 4 + c] = rgb.px[i * 3 + c];
            over_white.px[i * 3 + c] = static_cast<uint8_t>((rgb.px[i * 3 + c] * a + 255 * (255 - a) + 127) / 255);
        }
    }

    const struct {
        const wchar_t* name;
        Bytes file;
        const char* type;
        int bpp;
        const Rgb* expect;
        int tolerance;
    } cases[] = {
        {L"rgb.bmp", encode(GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "BMP", 24, &rgb, 0},
        {L"indexed.bmp", bmp8(w, h, palette, index), "BMP", 8, &from_palette, 0},
        {L"indexed.gif", encode(GUID_ContainerFormatGif, GUID_WICPixelFormat8bppIndexed, w, h, 1, index, palette), "GIF", 8,
         &from_palette, 0},
        {L"rgb.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "PNG", 24, &rgb, 0},
        {L"alpha.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, w, h, 4, bgra), "PNG", 32,
         &over_white, 0},
        {L"rgb.tif", encode(GUID_ContainerFormatTiff, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "TIFF", 24, &rgb, 0},
        {L"rgb.jpg", encode(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "JPG", 24, &rgb, 28},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.bpp));
        ASSERT_FALSE(c.file.empty()) << "the test could not make its picture";
        const std::wstring path = write_file(c.name, c.file);
        Picture p;
        ASSERT_EQ(image_ok, p.load(path));
        EXPECT_EQ(w, p.width());
        EXPECT_EQ(h, p.height());
        EXPECT_EQ(c.type, p.file_type());
        EXPECT_EQ(c.bpp, p.bit_count());
        EXPECT_EQ(static_cast<int32_t>(c.file.size()), p.file_size());
        ASSERT_EQ(image_ok, p.ensure_pixels());
        const Rgb decoded = pixels_of(p);
        if (c.tolerance == 0) {
            EXPECT_EQ(c.expect->px, decoded.px);
        } else {
            EXPECT_GE(psnr(c.expect->px, decoded.px), c.tolerance);  // decibels for a lossy file
        }

        // Shrinking one way and growing the other, against the reference.
        ASSERT_EQ(image_ok, p.iconize(17, 40));
        EXPECT_EQ(17, p.width());
        EXPECT_EQ(40, p.height());
        EXPECT_LE(max_difference(reference_scale(decoded, 17, 40).px, pixels_of(p).px), 1);
        EXPECT_EQ(c.bpp, p.bit_count());  // the file's, not the block's
        EXPECT_EQ(static_cast<int32_t>(c.file.size()), p.file_size());
    }
}

TEST_F(PictureFiles, DamagedAndHostileFilesLeaveThePreviousPicture) {
    const Rgb rgb = random_picture(40, 20, 3);
    const Bytes png = encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 40, 20, 3, rgb.px);
    ASSERT_FALSE(png.empty());
    Picture p;
    ASSERT_EQ(image_ok, p.load(write_file(L"good.png", png)));

    auto still_good = [&] {
        EXPECT_EQ(40, p.width());
        EXPECT_EQ(20, p.height());
        EXPECT_EQ("PNG", p.file_type());
        EXPECT_EQ(static_cast<int32_t>(png.size()), p.file_size());
        ASSERT_EQ(image_ok, p.ensure_pixels());
        EXPECT_EQ(rgb.px, pixels_of(p).px);
    };
    EXPECT_EQ(image_cannot_open, p.load(test_folder() + L"\\does_not_exist.png"));
    still_good();
    EXPECT_EQ(image_cannot_open, p.load(test_folder()));  // a folder
    EXPECT_EQ(image_cannot_open, p.load(L""));
    still_good();

    Bytes noise(3000);
    std::mt19937 rng(1);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    noise[0] = 'x';
    EXPECT_EQ(image_unknown_format, p.load(write_file(L"noise.bin", noise)));
    EXPECT_EQ(image_unknown_format, p.load(write_file(L"empty.png", {})));
    still_good();

    const Bytes cut(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    EXPECT_NE(image_ok, p.load(write_file(L"cut.png", cut)));
    Bytes broken = png;
    for (size_t i = 60; i < broken.size() - 20; ++i) broken[i] ^= 0x5A;  // IDAT garbled
    EXPECT_NE(image_ok, p.load(write_file(L"garbled.png", broken)));
    const Bytes jpeg_head = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    EXPECT_NE(image_ok, p.load(write_file(L"header_only.jpg", jpeg_head)));
    still_good();

    // Decompression bombs are refused on their header's word.
    EXPECT_EQ(image_too_large, p.load(write_file(L"bomb.png", png_header(30000, 30000))));
    EXPECT_EQ(image_too_large, p.load(write_file(L"wide.png", png_header(70000, 1))));
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3B};
    EXPECT_EQ(image_too_large, p.load(write_file(L"bomb.gif", gif)));
    still_good();
    EXPECT_EQ(image_ok, p.iconize(10, 10));
}

TEST_F(PictureFiles, IconizeStraightFromTheDecoderEqualsIconizeFromABlock) {
    const Rgb rgb = random_picture(301, 203, 12);
    Bytes bgra(size_t(301) * 203 * 4, 255);
    for (size_t i = 0; i < size_t(301) * 203; ++i)
        for (int c = 0; c < 3; ++c) bgra[i * 4 + c] = rgb.px[i * 3 + c];
    for (const auto& [name, file] :
         {std::pair{L"band.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 301, 203, 3, rgb.px)},
          std::pair{L"band_alpha.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, 301, 203, 4, bgra)}}) {
        const std::wstring path = write_file(name, file);
        for (auto [w, h] : {std::pair{40, 30}, {301, 100}, {500, 71}}) {
            Picture banded, whole;
            ASSERT_EQ(image_ok, banded.load(path));
            ASSERT_EQ(image_ok, whole.load(path));
            ASSERT_EQ(image_ok, whole.ensure_pixels());
            EXPECT_EQ(rgb.px, pixels_of(whole).px);
            EXPECT_FALSE(banded.pixels());  // still with its decoder
            ASSERT_EQ(image_ok, banded.iconize(w, h));
            ASSERT_EQ(image_ok, whole.iconize(w, h));
            EXPECT_EQ(pixels_of(whole).px, pixels_of(banded).px) << w << "x" << h;
        }
    }
}

TEST_F(PictureFiles, TheFileIsFreeOnceLoaded) {
    const Rgb rgb = random_picture(64, 40, 13);
    for (const auto& [name, file] :
         {std::pair{L"gone.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 64, 40, 3, rgb.px)},
          std::pair{L"gone.jpg", encode_baseline_jpeg(rgb.px.data(), 64, 40, 90)},
          std::pair{L"gone.tif", encode(GUID_ContainerFormatTiff, GUID_WICPixelFormat24bppBGR, 64, 40, 3, rgb.px)}}) {
        const std::wstring path = write_file(name, file);
        Picture p;
        ASSERT_EQ(image_ok, p.load(path));
        // A page may delete or replace its upload right after loading it.
        EXPECT_TRUE(::DeleteFileW(path.c_str()));
        ASSERT_EQ(image_ok, p.iconize(32, 20));
        ASSERT_EQ(image_ok, p.ensure_pixels());
        EXPECT_EQ(32, p.pixels().width());
    }
}

// Another page putting a new copy in place holds the file open for
// deleting while it renames; a page making the thumbnail at that moment
// must still read it.
TEST_F(PictureFiles, LoadsAFileBeingReplaced) {
    const Rgb rgb = random_picture(32, 24, 5);
    const std::wstring path =
        write_file(L"renamed.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 32, 24, 3, rgb.px));
    HANDLE renamer = ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, renamer);
    Picture p;
    EXPECT_EQ(image_ok, p.load(path));
    ::CloseHandle(renamer);
    EXPECT_EQ(32, p.width());
}

TEST_F(PictureFiles, IconizeRefusesUnusableSizes) {
    Picture p;
    EXPECT_EQ(image_no_picture, p.iconize(10, 10));
    const Rgb rgb = random_picture(8, 6, 4);
    ASSERT_EQ(image_ok, p.load(write_file(L"small.bmp", encode(GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, 8, 6, 3, rgb.px))));
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 10}, {10, -3}, {50000, 50000}, {INT_MAX, INT_MAX}, {70000, 1}}) {
        EXPECT_EQ(image_no_picture, p.iconize(w, h)) << w << "x" << h;
        EXPECT_EQ(8, p.width());
        EXPECT_EQ(6, p.height());
    }
    ASSERT_EQ(image_ok, p.ensure_pixels());
    EXPECT_EQ(rgb.px, pixels_of(p).px);
}
